// Code-page conversion of a fetched page: utf8_to_local and local_to_utf8 on 10 MB of
// page-like text (mostly ASCII markup, some Chinese), next to plain memcpy and memchr passes
// over the same bytes and a copy into a new text; and page_text on the same page as UTF-8,
// as GBK, as GB18030 and as UTF-8 with broken sequences that utf8_to_local cannot size.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "bench/ratio_report.h"
#include "web/codepage.h"
#include "web/page_text.h"

namespace {

constexpr size_t kPageSize = 10 * 1024 * 1024;

std::string utf8(std::u8string_view s) {
  return {reinterpret_cast<const char*>(s.data()), s.size()};
}

// A search result page: list items of markup around a Chinese title and a cast line.
const std::string& utf8_page() {
  static const std::string page = [] {
    const std::vector<std::string> titles = {utf8(u8"霸王别姬"), utf8(u8"肖申克的救赎"),
                                             utf8(u8"卧虎藏龙"), utf8(u8"大话西游之月光宝盒"),
                                             utf8(u8"无间道"),   utf8(u8"千与千寻")};
    std::string text = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"></head><body>\n";
    for (size_t i = 0; text.size() < kPageSize; ++i) {
      const std::string& title = titles[i % titles.size()];
      const std::string id = std::to_string(100000 + i);
      text += "<li class=\"result-item clearfix\"><a class=\"cover\" href=\"/voddetail/" + id +
              ".html\" title=\"" + title + "\"><img src=\"/upload/vod/" + id +
              ".jpg\" alt=\"\"></a>\n<div class=\"detail\"><h3><a href=\"/voddetail/" + id +
              ".html\">" + title + "</a></h3><p><span>" + utf8(u8"导演：") +
              "</span>Chen Kaige</p><p class=\"score\">9.6</p><p class=\"meta\">" +
              "2024-05-01 | HD | 1080p | 110 min</p></div></li>\n";
    }
    text.resize(kPageSize);
    // Cut back to the last complete line so no character is split.
    text.resize(text.rfind('\n') + 1);
    return text;
  }();
  return page;
}

const std::string& local_page() {
  static const std::string page(web::utf8_to_local(utf8_page().c_str()).view());
  return page;
}

void set_bytes_processed(benchmark::State& state, size_t bytes) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}

void BM_Memcpy(benchmark::State& state) {
  const std::string& page = utf8_page();
  std::vector<char> copy(page.size());
  for (auto _ : state) {
    std::memcpy(copy.data(), page.data(), page.size());
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  set_bytes_processed(state, page.size());
}
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);

void BM_Memchr(benchmark::State& state) {
  const std::string& page = utf8_page();
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::memchr(page.data(), '\x01', page.size()));
  }
  set_bytes_processed(state, page.size());
}
BENCHMARK(BM_Memchr)->Unit(benchmark::kMillisecond);

// A plain copy into a new text: what any command that returns a fresh 10 MB text pays for the
// new block's memory, before converting anything.
void BM_CopyIntoNewText(benchmark::State& state) {
  const std::string& page = utf8_page();
  for (auto _ : state) {
    rt::Text text(page);
    benchmark::DoNotOptimize(text.get());
  }
  set_bytes_processed(state, page.size());
}
BENCHMARK(BM_CopyIntoNewText)->Unit(benchmark::kMillisecond);

void BM_Utf8ToLocal(benchmark::State& state) {
  const std::string& page = utf8_page();
  for (auto _ : state) {
    rt::Text text = web::utf8_to_local(page.c_str());
    benchmark::DoNotOptimize(text.get());
  }
  set_bytes_processed(state, page.size());
}
BENCHMARK(BM_Utf8ToLocal)->Unit(benchmark::kMillisecond);

void BM_LocalToUtf8(benchmark::State& state) {
  const std::string& page = local_page();
  for (auto _ : state) {
    rt::Text text = web::local_to_utf8(page.c_str());
    benchmark::DoNotOptimize(text.get());
  }
  set_bytes_processed(state, page.size());
}
BENCHMARK(BM_LocalToUtf8)->Unit(benchmark::kMillisecond);

std::span<const uint8_t> bytes_of(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// The page in plain ASCII with a Latin-1 byte before a letter in every list item: each reads as
// one character in code page 936 and as two in UTF-8, so utf8_to_local's sizing gives nothing
// and page_text reads the page again.
const std::string& broken_utf8_page() {
  static const std::string page = [] {
    std::string text = utf8_page();
    std::replace_if(
        text.begin(), text.end(), [](char c) { return (c & 0x80) != 0; }, 'x');
    for (size_t at = text.find("Chen"); at != std::string::npos; at = text.find("Chen", at))
      text.replace(at, 4, "Ch\xE9n");
    return text;
  }();
  return page;
}

// Pages are made on first use, inside the benchmark, as the others are.
void BM_PageText(benchmark::State& state, const std::string& (*page_of)(), const char* headers) {
  const std::string& page = page_of();
  if (page_of == &broken_utf8_page && !web::utf8_to_local(page.c_str()).empty())
    state.SkipWithError("utf8_to_local sizes the broken page after all");
  for (auto _ : state) {
    rt::Text text = web::page_text(bytes_of(page), headers);
    benchmark::DoNotOptimize(text.get());
  }
  set_bytes_processed(state, page.size());
}
BENCHMARK_CAPTURE(BM_PageText, Utf8, utf8_page, "Content-Type: text/html; charset=utf-8\r\n")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PageText, BrokenUtf8, broken_utf8_page, "")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PageText, Gbk, local_page, "Content-Type: text/html; charset=gbk\r\n")
    ->Unit(benchmark::kMillisecond);
// The page's characters are the same bytes in GB18030 as in code page 936.
BENCHMARK_CAPTURE(BM_PageText, Gb18030, local_page, "Content-Type: text/html; charset=gb18030\r\n")
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return bench::ratio_main(argc, argv,
                           {{"utf8_to_local", "BM_Utf8ToLocal", "BM_Memcpy"},
                            {"local_to_utf8", "BM_LocalToUtf8", "BM_Memcpy"}});
}
