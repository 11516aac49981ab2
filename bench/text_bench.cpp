// The text commands on a 10 MB page next to plain memchr and memcpy passes over the same bytes,
// and the cost of one command call through the cell gateway.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "bench/ratio_report.h"
#include "web/commands.h"

namespace {

// A search result page as the film site serves it: mostly ASCII markup, Chinese titles and
// labels, indentation, entities and line breaks; the play list sits at the very end.
const std::string& page() {
  static const std::string text = [] {
    constexpr size_t kSize = 10 * 1024 * 1024;
    const char* genres[] = {"动作", "喜剧", "爱情", "科幻", "纪录片"};
    std::string t =
        "<!DOCTYPE html>\r\n<html>\r\n<head><title>搜索结果</title></head>\r\n<body>\r\n";
    t.reserve(kSize + 4096);
    for (unsigned i = 0; t.size() < kSize; ++i) {
      const std::string id = std::to_string(100000 + i * 7919 % 900000);
      t += "    <li class=\"Item\">\r\n      <a href=\"/Film/" + id + ".html\" title=\"电影" + id +
           "\">\r\n        <img src=\"/Poster/" + id + ".JPG\" alt=\"\" width=\"120\">" + "电影" +
           id + "</a>\r\n      <span class=\"Genre\">" + genres[i % 5] +
           "</span>&nbsp;<span class=\"Date\">2023-0" + std::to_string(1 + i % 9) +
           "-15</span>&nbsp;<em>HD 中字</em>\r\n    </li>\r\n";
      if (i % 50 == 0) {
        t += "  <script type=\"text/javascript\">var Page = " + id + ";</script>\r\n";
      }
    }
    t += "<div class=\"playlist\"><a href=\"/Play/1-1.html\">第1集</a></div>\r\n</body></html>\r\n";
    return t;
  }();
  return text;
}

void finish(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page().size()));
}

void BM_MemchrBaseline(benchmark::State& state) {
  const std::string& t = page();
  for (auto _ : state) benchmark::DoNotOptimize(std::memchr(t.data(), '\x01', t.size()));
  finish(state);
}

void BM_MemcpyBaseline(benchmark::State& state) {
  const std::string& t = page();
  std::vector<char> out(t.size() + 1);
  for (auto _ : state) {
    std::memcpy(out.data(), t.data(), t.size());
    benchmark::ClobberMemory();
  }
  finish(state);
}

void BM_FindText(benchmark::State& state) {
  const char* t = page().c_str();
  for (auto _ : state) benchmark::DoNotOptimize(web::find_text(t, "<div class=\"playlist\">"));
  finish(state);
}

void BM_FindTextIgnoringCase(benchmark::State& state) {
  const char* t = page().c_str();
  for (auto _ : state) {
    benchmark::DoNotOptimize(web::find_text(t, "<DIV CLASS=\"PLAYLIST\">", {}, true));
  }
  finish(state);
}

void BM_ReplaceText(benchmark::State& state) {
  const char* t = page().c_str();
  for (auto _ : state) benchmark::DoNotOptimize(web::replace_text(t, "&nbsp;", " ").get());
  finish(state);
}

void BM_ReplaceTextGrowing(benchmark::State& state) {
  const char* t = page().c_str();
  for (auto _ : state) {
    benchmark::DoNotOptimize(web::replace_text(t, "\r\n", "<br>\r\n", {}, {}, true).get());
  }
  finish(state);
}

void BM_SplitTextLines(benchmark::State& state) {
  const char* t = page().c_str();
  for (auto _ : state) benchmark::DoNotOptimize(web::split_text(t, "\r\n").get());
  finish(state);
}

void BM_SplitTextItems(benchmark::State& state) {
  const char* t = page().c_str();
  for (auto _ : state) benchmark::DoNotOptimize(web::split_text(t, "</li>").get());
  finish(state);
}

void BM_RemoveSpaces(benchmark::State& state) {
  const char* t = page().c_str();
  for (auto _ : state) benchmark::DoNotOptimize(web::remove_spaces(t).get());
  finish(state);
}

void BM_ToLowerCase(benchmark::State& state) {
  const char* t = page().c_str();
  for (auto _ : state) benchmark::DoNotOptimize(web::to_lower_case(t).get());
  finish(state);
}

void BM_GatewayTextLen(benchmark::State& state) {
  const char* t = "电影123456";
  for (auto _ : state) benchmark::DoNotOptimize(rt::call_int(&web::cmd::text_len, t));
}

BENCHMARK(BM_MemchrBaseline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyBaseline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindTextIgnoringCase)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReplaceText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReplaceTextGrowing)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SplitTextLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SplitTextItems)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RemoveSpaces)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ToLowerCase)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GatewayTextLen);

}  // namespace

int main(int argc, char** argv) {
  return bench::ratio_main(argc, argv,
                           {{"split_lines", "BM_SplitTextLines", "BM_MemcpyBaseline"},
                            {"remove_spaces", "BM_RemoveSpaces", "BM_MemcpyBaseline"}});
}
