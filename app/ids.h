// Windows, units and property indices the application addresses by number.
#pragma once

#include <cstdint>

namespace app {

inline constexpr uint32_t kStartWindow = 0x52010001;
inline constexpr uint32_t kPlayListWindow = 0x5201220C;
inline constexpr uint32_t kOwnUnit = 0;  // a window's own unit

namespace start {
inline constexpr uint32_t kWindowUnit = 0x06010000;
inline constexpr uint32_t kOnlinePlayButton = 0x16012209;
inline constexpr uint32_t kNoticeLabel = 0x16012204;
inline constexpr uint32_t kPosterStatusLabel = 0x160121F5;
inline constexpr uint32_t kSearchStatusLabel = 0x160121F3;
inline constexpr uint32_t kDownloadBox = 0x160121E3;
inline constexpr uint32_t kPoster = 0x160121E2;
inline constexpr uint32_t kPosterFrame = 0x160121E1;
inline constexpr uint32_t kDownloadFrame = 0x160121DF;
inline constexpr uint32_t kSearchBox = 0x16010004;
inline constexpr uint32_t kSearchButton = 0x16010003;
inline constexpr uint32_t kResultsList = 0x16010002;
}  // namespace start

namespace play_list {
inline constexpr uint32_t kWindowUnit = 0x0601220B;
inline constexpr uint32_t kStatusLabel = 0x1601224A;
inline constexpr uint32_t kEpisodeList = 0x1601220E;
inline constexpr uint32_t kFrame = 0x1601220D;
}  // namespace play_list

// Unit kinds, which are also the type codes of unit references.
inline constexpr uint32_t kKindWindow = 0x10001;
inline constexpr uint32_t kKindListView = 0x20004;

// Property indices.
inline constexpr int32_t kPropVisible = 5;
inline constexpr int32_t kPropDisabled = 6;
inline constexpr int32_t kPropText = 8;          // edit box content, label caption
inline constexpr int32_t kPropPicture = 10;      // picture box
inline constexpr int32_t kPropAlwaysOnTop = 29;  // window
inline constexpr int32_t kPropCurrentRow = 35;   // list view

}  // namespace app
