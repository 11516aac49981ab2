// What the end-to-end suites share: the program's windows read and written as a user's clicks
// and eyes would, and the window thread pumped until something shows.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <string>

#include "app/flows.h"
#include "app/ids.h"
#include "app/list_commands.h"
#include "runtime/runtime.h"
#include "runtime/values.h"
#include "runtime/windows.h"

namespace e2e {

inline int32_t get_int(uint32_t window, uint32_t unit, int32_t index) {
  return static_cast<int32_t>(rt::get_property(window, unit, index, -1));
}
inline rt::Text get_text(uint32_t window, uint32_t unit, int32_t index) {
  return rt::Text::adopt(reinterpret_cast<char*>(rt::get_property(window, unit, index, -1)));
}
inline rt::Bytes get_bytes(uint32_t window, uint32_t unit, int32_t index) {
  return rt::Bytes::adopt(reinterpret_cast<uint8_t*>(rt::get_property(window, unit, index, -1)));
}
inline void set_text(uint32_t window, uint32_t unit, int32_t index, const char* text) {
  const auto p = reinterpret_cast<uintptr_t>(text);
  rt::set_property(window, unit, index, -1, static_cast<uint32_t>(p),
                   static_cast<uint32_t>(p >> 32));
}
inline void set_int(uint32_t window, uint32_t unit, int32_t index, int32_t v) {
  rt::set_property(window, unit, index, -1, static_cast<uint32_t>(v), 0);
}

// Pumps the window thread until `done` holds or `limit_ms` pass; whether it held.
inline bool pump_until(const std::function<bool()>& done, int limit_ms = 10000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > limit_ms) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

inline void pump_for(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 5);
}

inline QWidget* window_widget(uint32_t window) {
  return static_cast<QWidget*>(rt::unit_native_window(window, 0));
}

inline void screenshot(uint32_t window, const char* name) {
  const std::string dir = rt::program_directory() + "/screenshots";
  std::filesystem::create_directories(dir);
  if (QWidget* widget = window_widget(window))
    widget->grab().save(QString::fromStdString(dir + "/" + name));
}

inline const rt::Cell kResults{app::kStartWindow, app::start::kResultsList, app::kKindListView};
inline const rt::Cell kEpisodes{app::kPlayListWindow, app::play_list::kEpisodeList,
                                app::kKindListView};

// The search ended: the button is enabled again with the label hidden over a filled list, or
// showing the failure text. Texts here are code page 936, like every text of the program.
inline bool search_ended() {
  using namespace app;
  if (get_int(kStartWindow, start::kSearchButton, kPropDisabled) != 0) return false;
  const rt::Text status = get_text(kStartWindow, start::kSearchStatusLabel, kPropText);
  const bool hidden = get_int(kStartWindow, start::kSearchStatusLabel, kPropVisible) == 0;
  return (hidden && status.view() == "搜索中，请耐心等待......") ||
         status.view() == "查询失败，请重新尝试搜索......";
}

// The details ended: the addresses in an enabled box, or the failure text.
inline bool details_ended() {
  using namespace app;
  const rt::Text box = get_text(kStartWindow, start::kDownloadBox, kPropText);
  if (box.view() == "网页返回为空，请重新尝试单击获取......") return true;
  return !box.empty() && box.view() != "正在获取，请耐心等待......" &&
         get_int(kStartWindow, start::kDownloadBox, kPropDisabled) == 0;
}

}  // namespace e2e
