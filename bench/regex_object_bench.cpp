// RegexObject over a search page of result cards, next to PCRE2 doing the same matching itself.
//
// Both sides convert the page to UTF-16, compile the result pattern with JIT, find every match
// and bring all five groups of every match back to code page 936 text. RegexObject adds the
// automation objects, with their members bound once per run, and one text per group.
#include <benchmark/benchmark.h>

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <string>
#include <vector>

#include "app/site.h"
#include "bench/ratio_report.h"
#include "bridges/regex_object.h"
#include "runtime/dll_commands.h"
#include "runtime/imports.h"
#include "tests/bridges/pages.h"

namespace {

using MultiByteToWideCharFn = int(uint32_t, uint32_t, const char*, int, char16_t*, int);
using WideCharToMultiByteFn = int(uint32_t, uint32_t, const char16_t*, int, char*, int, const char*,
                                  int*);

// The card pattern's groups, and the match offsets of one card (the whole match first).
constexpr int32_t kGroups = app::site::kCardCast;
constexpr size_t kOffsets = 2 * (kGroups + 1);

// `cards` result cards spread over about `bytes` bytes of markup.
std::string search_page(int cards, size_t bytes) {
  const std::string head = pages::page_head();
  std::string page = head;
  const size_t per_card = (bytes - head.size()) / static_cast<size_t>(cards);
  for (int i = 0; i < cards; ++i) {
    pages::Card card{"更新至" + std::to_string(i % 40 + 1) + "集",
                     "/vod/" + std::to_string(10000 + i) + ".html",
                     "流浪地球" + std::to_string(i) + " 第二季",
                     "吴京,刘德华,李雪健,沙溢",
                     "http://img.example/" + std::to_string(i) + ".jpg",
                     i % 7 == 0};
    const std::string html = pages::card_html(card);
    page += html + pages::filler(per_card > html.size() ? per_card - html.size() : 0);
  }
  return page + pages::page_tail();
}

int32_t read_all_groups(const std::string& page, benchmark::State& state) {
  bridges::RegexObject re;
  re.create(app::site::kCardPattern, page.c_str());
  const int32_t n = re.match_count();
  size_t bytes = 0;
  for (int32_t i = 1; i <= n; ++i) {
    for (int32_t k = 1; k <= kGroups; ++k) bytes += re.submatch_text(i, k).size();
  }
  benchmark::DoNotOptimize(bytes);
  if (bytes == 0)
    state.SkipWithError("no groups read");
  return n;
}

void BM_RegexObjectResultPage(benchmark::State& state) {
  const std::string page = search_page(200, size_t{1} << 20);
  for (auto _ : state) {
    if (read_all_groups(page, state) != 200)
      state.SkipWithError("wrong match count");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(page.size()));
}
BENCHMARK(BM_RegexObjectResultPage)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();

void BM_Pcre2ResultPage(benchmark::State& state) {
  const std::string page = search_page(200, size_t{1} << 20);
  auto* to_wide = rt::dll_function<MultiByteToWideCharFn>(rt::kImportMultiByteToWideChar);
  auto* to_local = rt::dll_function<WideCharToMultiByteFn>(rt::kImportWideCharToMultiByte);
  std::u16string wide_pattern;
  for (const char* p = app::site::kCardPattern; *p; ++p)
    wide_pattern.push_back(static_cast<char16_t>(*p));

  for (auto _ : state) {
    const int length = static_cast<int>(page.size());
    std::u16string subject(page.size(), u'\0');
    const int units = to_wide(0, 0, page.data(), length, subject.data(), length);
    subject.resize(static_cast<size_t>(units));

    int error = 0;
    PCRE2_SIZE offset = 0;
    pcre2_code* code =
        pcre2_compile(reinterpret_cast<PCRE2_SPTR>(wide_pattern.data()), wide_pattern.size(),
                      PCRE2_UTF | PCRE2_CASELESS | PCRE2_MULTILINE, &error, &offset, nullptr);
    pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);
    pcre2_match_data* data = pcre2_match_data_create_from_pattern(code, nullptr);
    std::vector<PCRE2_SIZE> offsets;
    PCRE2_SIZE start = 0;
    uint32_t options = 0;
    while (pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), start,
                       options, data, nullptr) > 0) {
      options = PCRE2_NO_UTF_CHECK;
      const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(data);
      offsets.insert(offsets.end(), ov, ov + kOffsets);
      start = ov[1] > ov[0] ? ov[1] : ov[1] + 1;
    }
    size_t bytes = 0;
    for (size_t m = 0; m < offsets.size(); m += kOffsets) {
      for (size_t k = 1; k <= kGroups; ++k) {
        if (offsets[m + 2 * k] == PCRE2_UNSET)
          continue;
        const char16_t* units_at = subject.data() + offsets[m + 2 * k];
        const int count = static_cast<int>(offsets[m + 2 * k + 1] - offsets[m + 2 * k]);
        const int needed = to_local(0, 0, units_at, count, nullptr, 0, nullptr, nullptr);
        std::string text(static_cast<size_t>(needed), '\0');
        to_local(0, 0, units_at, count, text.data(), needed, nullptr, nullptr);
        bytes += text.size();
      }
    }
    benchmark::DoNotOptimize(bytes);
    pcre2_match_data_free(data);
    pcre2_code_free(code);
    if (offsets.size() != 200 * kOffsets)
      state.SkipWithError("wrong match count");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(page.size()));
}
BENCHMARK(BM_Pcre2ResultPage)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();

// More and more cards on a page of one size (4 MiB): the time may grow with the number of
// matches only linearly, the page's own share staying the same.
void BM_RegexObjectMatchCount(benchmark::State& state) {
  const int cards = static_cast<int>(state.range(0));
  const std::string page = search_page(cards, size_t{4} << 20);
  for (auto _ : state) {
    if (read_all_groups(page, state) != cards)
      state.SkipWithError("wrong match count");
  }
  state.counters["matches"] = cards;
}
BENCHMARK(BM_RegexObjectMatchCount)
    ->RangeMultiplier(4)
    ->Range(64, 4096)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return bench::ratio_main(argc, argv,
                           {{"regex_object", "BM_RegexObjectResultPage", "BM_Pcre2ResultPage"}});
}
