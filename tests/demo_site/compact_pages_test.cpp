// The compact pages are what the program's patterns were written against: every page the site
// serves in that shape stays byte for byte as it was. Each row holds a digest of the pages as
// first served (status, content type and body, with the site's origin written as "{origin}" so
// that the port does not matter).
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tests/demo_site/site_fixture.h"

namespace site_test {
namespace {

// FNV-1a, 64 bits: enough to tell a changed page from an unchanged one.
class Digest {
 public:
  void add(std::string_view bytes) {
    for (const char c : bytes) {
      hash_ ^= static_cast<unsigned char>(c);
      hash_ *= 0x100000001B3ull;
    }
    add_length(bytes.size());
  }
  uint64_t value() const { return hash_; }

 private:
  // Keeps "ab"+"c" apart from "a"+"bc".
  void add_length(size_t length) {
    for (int i = 0; i < 8; ++i) {
      hash_ ^= (length >> (8 * i)) & 0xFF;
      hash_ *= 0x100000001B3ull;
    }
  }
  uint64_t hash_ = 0xCBF29CE484222325ull;
};

struct PageGroup {
  std::string label;
  std::vector<std::string> paths;
};

std::vector<PageGroup> every_page(const demo_site::Catalogue& catalogue) {
  std::vector<PageGroup> groups;
  groups.push_back({"home", {"/"}});
  for (const char* query : {"", "%E8%8B%8F%E5%BF%B5", "silver", "%E4%B8%8D%E5%AD%98%E5%9C%A8",
                            "cards:40", "%3Cb%3E%22%27%26", "%FF%E8", "a+b"}) {
    groups.push_back(
        {std::string("search ") + query, {std::string("/search.php?searchword=") + query}});
  }
  groups.push_back({"search without keyword", {"/search.php"}});
  for (const demo_site::Title& title : catalogue.titles) {
    const std::string id = std::to_string(title.id);
    groups.push_back({"title " + id, {"/vod/" + id + ".html"}});
    PageGroup plays{"plays and streams " + id, {}};
    for (const int line : title.lines) {
      for (size_t n = 1; n <= title.episodes.size(); ++n) {
        const std::string part = std::to_string(line) + "-" + std::to_string(n);
        plays.paths.push_back("/play/" + id + "-" + part + ".html");
        plays.paths.push_back("/stream/" + id + "/" + std::to_string(line) + "/" +
                              std::to_string(n) + ".m3u8");
      }
    }
    groups.push_back(std::move(plays));
  }
  groups.push_back({"not found", {"/vod/9999.html", "/nothing-here"}});
  return groups;
}

class CompactPages : public SiteTest {};

TEST_F(CompactPages, EveryPageIsAsFirstServed) {
  const std::map<std::string, uint64_t> expected = {
      {"home", 0xf4a1c3315707a8a6ull},
      {"not found", 0xe90ba8bb1de15119ull},
      {"plays and streams 1001", 0xff1e295c4eed9fadull},
      {"plays and streams 1002", 0x6330638c7ae7c7c9ull},
      {"plays and streams 1003", 0x88c91c983f707629ull},
      {"plays and streams 1004", 0x238b3d881bc82444ull},
      {"plays and streams 1005", 0x8b43d5707e2cf42dull},
      {"plays and streams 1006", 0xb30c4bbeba9adaa5ull},
      {"plays and streams 1007", 0x81f1396b7a068ae5ull},
      {"plays and streams 1008", 0xdd0178a2ab67b66bull},
      {"plays and streams 1009", 0x5c98f32dfef4d74dull},
      {"plays and streams 1010", 0xfb0a2f44fb6c24d1ull},
      {"plays and streams 1011", 0x5ce4f9e8ffb02d77ull},
      {"plays and streams 1012", 0xaaf153dce5c3ff58ull},
      {"plays and streams 1013", 0xc9b08d068debb598ull},
      {"plays and streams 1014", 0xb494893ce89d9cb5ull},
      {"plays and streams 1015", 0xffc13d934498a2a0ull},
      {"plays and streams 1016", 0x3c49c1cdcfbb0f4dull},
      {"search ", 0x11977373b912e9f5ull},
      {"search %3Cb%3E%22%27%26", 0xbc52f0c20f8b025full},
      {"search %E4%B8%8D%E5%AD%98%E5%9C%A8", 0xb26e641f72ceedfdull},
      {"search %E8%8B%8F%E5%BF%B5", 0x46e9e0698f0b26c2ull},
      {"search %FF%E8", 0x656f9154487c14e6ull},
      {"search a+b", 0x43eaeea3d41c28f4ull},
      {"search cards:40", 0x10dd654093f02d2aull},
      {"search silver", 0xd1fcfc9b99e9960ull},
      {"search without keyword", 0xfe9d8d097c8a8bedull},
      {"title 1001", 0xe26364f39c9b4060ull},
      {"title 1002", 0xc5a1dbd48adf8b10ull},
      {"title 1003", 0x82e7f65454a87402ull},
      {"title 1004", 0xdcbf8055af63db1bull},
      {"title 1005", 0xbca3f77e6b57b46cull},
      {"title 1006", 0x21500287006d7788ull},
      {"title 1007", 0xa56bfbb6f29e0c4full},
      {"title 1008", 0x5e269b429654dcfbull},
      {"title 1009", 0xefa7c2ed381ea229ull},
      {"title 1010", 0xdd860ac6743ffb08ull},
      {"title 1011", 0xcd719b26d44bcb19ull},
      {"title 1012", 0xbd68ce8bba74789aull},
      {"title 1013", 0x9624f9f9fe62bf76ull},
      {"title 1014", 0xc4a13f9f79e80ad9ull},
      {"title 1015", 0x832a17a7b75f2c33ull},
      {"title 1016", 0xa4019c68f7b7e8fdull},
  };
  std::map<std::string, uint64_t> served;
  for (const PageGroup& group : every_page(site_->catalogue())) {
    Digest digest;
    for (const std::string& path : group.paths) {
      const auto reply = client_->Get(path.c_str());
      ASSERT_TRUE(reply) << path;
      digest.add(path);
      digest.add(std::to_string(reply->status));
      digest.add(reply->get_header_value("Content-Type"));
      digest.add(with_origin_named(reply->body, origin()));
    }
    served[group.label] = digest.value();
  }
  for (const auto& [label, value] : served) {
    SCOPED_TRACE(label);
    const auto found = expected.find(label);
    if (found == expected.end()) {
      ADD_FAILURE() << "no digest for {\"" << label << "\", 0x" << std::hex << value << "ull}";
      continue;
    }
    EXPECT_EQ(found->second, value) << std::hex << value;
  }
  EXPECT_EQ(expected.size(), served.size());
}

}  // namespace
}  // namespace site_test
