// Build tool of the fuzz configuration: writes a copy of a UTF-8 source file whose ordinary
// (unprefixed) string and character literals hold code page 936 bytes, as g++ makes them with
// -fexec-charset=GB18030. clang has no such option, and a fuzzed text command must meet the
// program's own literal texts (the "#引号" token, the kind names) in the bytes the program holds.
//
// Each character outside ASCII in such a literal becomes octal escapes of its GB18030 bytes: an
// octal escape never takes more than three digits, so the text after it keeps its meaning, and a
// trail byte that is "\" in code page 936 cannot end up escaping the quote. Comments and prefixed
// literals (u8, u, U, L) stay as they are. A source with text outside ASCII anywhere else (a raw
// literal, an identifier) is refused: its bytes could not be made right this way.
//
// usage: program_texts IN OUT
#include <iconv.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

namespace {

bool is_identifier_byte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool is_high(char c) {
  return static_cast<unsigned char>(c) >= 0x80;
}

std::optional<std::string> to_gb18030(std::string_view utf8) {
  iconv_t cd = iconv_open("GB18030", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1))
    return std::nullopt;
  std::string in(utf8);
  std::string out(in.size() * 4, '\0');
  char* src = in.data();
  size_t src_left = in.size();
  char* dst = out.data();
  size_t dst_left = out.size();
  const size_t done = iconv(cd, &src, &src_left, &dst, &dst_left);
  iconv_close(cd);
  if (done == static_cast<size_t>(-1) || src_left != 0)
    return std::nullopt;
  out.resize(out.size() - dst_left);
  return out;
}

std::string octal_escapes(std::string_view bytes) {
  std::string out;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    char escape[5];
    std::snprintf(escape, sizeof escape, "\\%03o", b);
    out += escape;
  }
  return out;
}

class Rewriter {
 public:
  explicit Rewriter(std::string_view source) : s_(source) {}

  // The rewritten source, or nothing with a reason on standard error.
  std::optional<std::string> run() {
    while (at_ < s_.size()) {
      const char c = s_[at_];
      if (s_.substr(at_, 2) == "//") {
        copy_until("\n", 0);
      } else if (s_.substr(at_, 2) == "/*") {
        copy_until("*/", 2);
      } else if (c == '"' || (c == '\'' && !in_number())) {
        if (!literal())
          return std::nullopt;
      } else if (is_high(c)) {
        fail("text outside ASCII outside a literal or comment");
        return std::nullopt;
      } else {
        token_ = is_identifier_byte(c) || (c == '\'' && in_number()) ? token_ + c : std::string();
        out_ += c;
        ++at_;
      }
    }
    return out_;
  }

 private:
  // A quote inside a number is a digit separator (1'000).
  bool in_number() const { return !token_.empty() && token_[0] >= '0' && token_[0] <= '9'; }

  void copy_until(std::string_view end, size_t skip) {
    const size_t found = s_.find(end, at_ + skip);
    const size_t stop = found == std::string_view::npos ? s_.size() : found + end.size();
    out_.append(s_.substr(at_, stop - at_));
    at_ = stop;
    token_.clear();
  }

  bool literal() {
    const std::string prefix = token_;
    token_.clear();
    const char quote = s_[at_];
    if (quote == '"' && !prefix.empty() && prefix.back() == 'R')
      return raw_literal(prefix);
    const bool convert =
        prefix.empty() || (prefix != "u8" && prefix != "u" && prefix != "U" && prefix != "L");
    out_ += quote;
    ++at_;
    while (at_ < s_.size() && s_[at_] != quote && s_[at_] != '\n') {
      if (s_[at_] == '\\' && at_ + 1 < s_.size()) {
        out_.append(s_.substr(at_, 2));
        at_ += 2;
        continue;
      }
      if (!is_high(s_[at_])) {
        out_ += s_[at_++];
        continue;
      }
      size_t end = at_;
      while (end < s_.size() && is_high(s_[end])) ++end;
      const std::string_view run = s_.substr(at_, end - at_);
      if (convert) {
        const std::optional<std::string> local = to_gb18030(run);
        if (!local)
          return fail("a literal's text is not UTF-8 or has no GB18030 form");
        out_ += octal_escapes(*local);
      } else {
        out_.append(run);
      }
      at_ = end;
    }
    if (at_ == s_.size() || s_[at_] != quote)
      return fail("a literal does not end on its line");
    out_ += quote;
    ++at_;
    return true;
  }

  bool raw_literal(const std::string& prefix) {
    const size_t open = s_.find('(', at_);
    if (open == std::string_view::npos)
      return fail("a raw literal without its '('");
    const std::string close = ")" + std::string(s_.substr(at_ + 1, open - at_ - 1)) + "\"";
    const size_t found = s_.find(close, open);
    if (found == std::string_view::npos)
      return fail("a raw literal without its end");
    const size_t stop = found + close.size();
    const std::string_view whole = s_.substr(at_, stop - at_);
    const bool ascii = whole.find_first_of(high_bytes()) == std::string_view::npos;
    if (!ascii && prefix == "R")
      return fail("text outside ASCII in a raw literal");
    out_.append(whole);
    at_ = stop;
    return true;
  }

  static std::string_view high_bytes() {
    static const std::string bytes = [] {
      std::string all;
      for (int b = 0x80; b < 0x100; ++b) all += static_cast<char>(b);
      return all;
    }();
    return bytes;
  }

  bool fail(const char* why) const {
    size_t line = 1;
    for (size_t i = 0; i < at_ && i < s_.size(); ++i) line += s_[i] == '\n' ? 1 : 0;
    std::cerr << "line " << line << ": " << why << "\n";
    return false;
  }

  std::string_view s_;
  size_t at_ = 0;
  std::string token_;  // the identifier or number just before the current byte
  std::string out_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: program_texts IN OUT\n";
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::string source((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) {
    std::cerr << argv[1] << ": cannot be read\n";
    return 1;
  }
  const std::optional<std::string> rewritten = Rewriter(source).run();
  if (!rewritten) {
    std::cerr << argv[1] << ": not rewritten\n";
    return 1;
  }
  // Written in full to a neighbour, then renamed: a failed write leaves no half file behind.
  const std::string temporary = std::string(argv[2]) + ".part";
  std::ofstream out(temporary, std::ios::binary);
  out << "#line 1 \"" << argv[1] << "\"\n" << *rewritten;
  out.close();
  if (!out || std::rename(temporary.c_str(), argv[2]) != 0) {
    std::cerr << argv[2] << ": cannot be written\n";
    return 1;
  }
  return 0;
}
