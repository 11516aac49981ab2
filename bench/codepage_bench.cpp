// Code-page conversion of a fetched page: utf8_to_local and local_to_utf8 on 10 MB of
// page-like text (mostly ASCII markup, some Chinese), next to plain memcpy and memchr passes
// over the same bytes and a copy into a new text.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "web/codepage.h"

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

}  // namespace

BENCHMARK_MAIN();
