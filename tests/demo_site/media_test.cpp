// The media behind the stream and download addresses: the segment list the site reads, the byte
// ranges it answers, and what a player fetches through the site.
#include <sstream>

#include "demo-site/byte_range.h"
#include "demo-site/media.h"
#include "tests/demo_site/site_fixture.h"

namespace site_test {
namespace {

using demo_site::RangeAnswer;

const std::string kList =
    "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2.000000,\nseg0.ts\n#EXTINF:1.9996,title\r\n"
    "seg1.ts\n#EXT-X-ENDLIST\n";

TEST(SegmentList, RefusalsSayWhy) {
  struct Case {
    std::string text;
    const char* problem;
  };
  const Case cases[] = {
      {"seg0.ts\n#EXT-X-ENDLIST\n", "line 1: not an HLS playlist"},
      {"#EXTM3U\n#EXT-X-ENDLIST\n", "line 2: no segments"},
      {"#EXTM3U\nseg0.ts\n", "line 2: file without a duration"},
      {"#EXTM3U\n#EXTINF:2,\n#EXTINF:2,\n", "line 3: two durations"},
      {"#EXTM3U\n#EXTINF:2,\n#EXT-X-ENDLIST\n", "line 3: list ends after a duration"},
      {"#EXTM3U\n#EXTINF:2\n", "line 2: bad duration"},
      {"#EXTM3U\n#EXTINF:2.,\n", "line 2: bad duration"},
      {"#EXTM3U\n#EXTINF:0.0004,\n", "line 2: bad duration"},
      {"#EXTM3U\n#EXTINF:60.001,\n", "line 2: bad duration"},
      {"#EXTM3U\n#EXTINF:2,\n../a.ts\n", "line 3: bad segment file name"},
      {"#EXTM3U\n#EXTINF:2,\nhttp://x/a.ts\n", "line 3: bad segment file name"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string error;
    EXPECT_FALSE(demo_site::parse_segment_list(c.text, error));
    EXPECT_NE(error.find(c.problem), std::string::npos) << error;
  }
}

TEST(SegmentList, EveryPrefixIsRefusedUntilTheEndTag) {
  const size_t complete = kList.find("#EXT-X-ENDLIST") + 14;
  for (size_t length = 0; length <= kList.size(); ++length) {
    SCOPED_TRACE(length);
    std::string error;
    const auto segments = demo_site::parse_segment_list(kList.substr(0, length), error);
    ASSERT_EQ(bool(segments), length >= complete) << error;
    if (!segments)
      continue;
    ASSERT_EQ(segments->size(), 2u);
    EXPECT_EQ(segments->at(0).file, "seg0.ts");
    EXPECT_EQ(segments->at(1).file, "seg1.ts");
    EXPECT_EQ(segments->at(1).milliseconds, 2000u);  // rounded, the title after the comma ignored
  }
}

TEST(ByteRanges, OneRangeCutToTheFileOthersIgnored) {
  struct Case {
    const char* header;
    RangeAnswer answer;
    uint64_t first, length;  // of a 100-byte file
  };
  const Case cases[] = {
      {"", RangeAnswer::whole, 0, 0},
      {"bytes=10-19", RangeAnswer::part, 10, 10},
      {"bytes=90-500", RangeAnswer::part, 90, 10},
      {"Bytes=99-", RangeAnswer::part, 99, 1},
      {"bytes=-250", RangeAnswer::part, 0, 100},
      {"bytes=100-", RangeAnswer::past_end, 0, 0},
      {"bytes=-0", RangeAnswer::past_end, 0, 0},
      {"bytes=0-1,5-6", RangeAnswer::several_ranges, 0, 0},
      {"items=0-1", RangeAnswer::other_unit, 0, 0},
      {"bytes=6-5", RangeAnswer::malformed, 0, 0},
      {"bytes= 1-2", RangeAnswer::malformed, 0, 0},
      {"bytes=0-18446744073709551616", RangeAnswer::malformed, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.header);
    const demo_site::ByteRange range = demo_site::byte_range_for(c.header, 100);
    EXPECT_EQ(range.answer, c.answer);
    EXPECT_EQ(range.first, c.first);
    EXPECT_EQ(range.length, c.length);
  }
}

// 188-byte packets, each opening with the sync byte, one on PID 0 (the table a player reads
// first), and more than a few of them.
::testing::AssertionResult is_transport_stream(const std::string& bytes) {
  if (bytes.size() < 20 * 1024 || bytes.size() % 188 != 0) {
    return ::testing::AssertionFailure() << bytes.size() << " bytes";
  }
  bool program_table = false;
  for (size_t at = 0; at < bytes.size(); at += 188) {
    if (bytes[at] != '\x47')
      return ::testing::AssertionFailure() << "no sync byte at " << at;
    program_table = program_table || ((bytes[at + 1] & 0x1F) == 0 && bytes[at + 2] == 0);
  }
  if (!program_table)
    return ::testing::AssertionFailure() << "no packet on PID 0";
  return ::testing::AssertionSuccess();
}

class SiteMedia : public SiteTest {
 protected:
  httplib::Result get(const std::string& path, const std::string& range = {}) {
    httplib::Headers headers;
    if (!range.empty())
      headers.emplace("Range", range);
    return client_->Get(path.c_str(), headers);
  }
};

TEST_F(SiteMedia, EveryPlaylistSegmentIsATransportStream) {
  std::vector<std::string> first_playlist_segments;
  for (const char* path :
       {"/stream/1010/2/1.m3u8", "/stream/1003/4/240.m3u8", "/stream/1012/1/1.m3u8"}) {
    SCOPED_TRACE(path);
    const std::string playlist = fetch(path);
    EXPECT_TRUE(playlist.starts_with("#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:2\n"));
    EXPECT_TRUE(playlist.ends_with("\n#EXT-X-ENDLIST\n"));
    std::istringstream lines(playlist);
    std::vector<std::string> segments;
    double seconds = 0;
    for (std::string line; std::getline(lines, line);) {
      if (line.starts_with("#EXTINF:"))
        seconds += std::stod(line.substr(8));
      if (line.starts_with("#"))
        continue;
      SCOPED_TRACE(line);
      ASSERT_TRUE(line.starts_with("/"));  // resolved against the playlist's origin
      const auto reply = get(line);
      ASSERT_TRUE(reply);
      ASSERT_EQ(reply->status, 200);
      EXPECT_EQ(reply->get_header_value("Content-Type"), "video/mp2t");
      EXPECT_TRUE(is_transport_stream(reply->body));
      segments.push_back(reply->body);
    }
    ASSERT_GE(segments.size(), 2u);
    EXPECT_NE(segments.front(), segments.back());  // one stream in parts, not one part again
    EXPECT_GE(seconds, 4.0);
    if (first_playlist_segments.empty())
      first_playlist_segments = segments;
    EXPECT_EQ(segments, first_playlist_segments);  // every episode plays the same sample
  }
}

TEST_F(SiteMedia, DownloadsAnswerTheMp4WholeOrInOneRange) {
  const auto whole = get("/download/1010/2.mp4");
  ASSERT_TRUE(whole);
  ASSERT_EQ(whole->status, 200);
  EXPECT_EQ(whole->get_header_value("Content-Type"), "video/mp4");
  EXPECT_EQ(whole->get_header_value("Accept-Ranges"), "bytes");
  const std::string& mp4 = whole->body;
  ASSERT_GT(mp4.size(), 20u * 1024);
  EXPECT_EQ(mp4.substr(4, 4), "ftyp");
  EXPECT_LT(mp4.find("moov"), mp4.find("mdat"));  // index first: playable while it loads
  const auto other = get("/download/1003/240.mp4");
  ASSERT_TRUE(other);
  EXPECT_EQ(other->body, mp4);

  const std::string n = std::to_string(mp4.size());
  const std::string last = std::to_string(mp4.size() - 1);
  struct Case {
    std::string range;
    int status;
    std::string content_range, body;
  };
  const Case cases[] = {
      {"bytes=0-7", 206, "bytes 0-7/" + n, mp4.substr(0, 8)},
      {"bytes=1000-", 206, "bytes 1000-" + last + "/" + n, mp4.substr(1000)},
      {"bytes=100-99999999", 206, "bytes 100-" + last + "/" + n, mp4.substr(100)},
      {"bytes=-16", 206, "bytes " + std::to_string(mp4.size() - 16) + "-" + last + "/" + n,
       mp4.substr(mp4.size() - 16)},
      {"bytes=0-1,4-5", 200, "", mp4},
      {"bytes=99999999-", 416, "bytes */" + n, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.range);
    const auto reply = get("/download/1010/2.mp4", c.range);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, c.status);
    EXPECT_EQ(reply->get_header_value("Content-Range"), c.content_range);
    EXPECT_EQ(reply->body, c.body);
  }
  const auto segment = get("/stream/1010/2/1/1.ts");
  const auto part = get("/stream/1010/2/1/1.ts", "bytes=188-375");
  ASSERT_TRUE(segment && part);
  EXPECT_EQ(part->status, 206);
  EXPECT_EQ(part->body, segment->body.substr(188, 188));
}

TEST_F(SiteMedia, PagesAndUnknownMediaAnswerWholeWhateverTheRange) {
  struct Case {
    const char* path;
    int status;
  };
  for (const Case c : {Case{"/vod/1010.html", 200}, Case{"/stream/1010/2/1.m3u8", 200},
                       Case{"/download/1013/1.mp4", 404}, Case{"/stream/1010/2/1/9.ts", 404}}) {
    const auto whole = get(c.path);
    for (const char* range : {"bytes=0-3", "bytes=999999-"}) {
      SCOPED_TRACE(std::string(c.path) + " " + range);
      const auto reply = get(c.path, range);
      ASSERT_TRUE(whole && reply);
      EXPECT_EQ(reply->status, c.status);
      EXPECT_EQ(reply->body.size(), whole->body.size());
    }
  }
}

}  // namespace
}  // namespace site_test
