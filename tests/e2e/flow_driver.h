// What the end-to-end suites share: the program's windows read and written as a user's clicks
// and eyes would, and the window thread pumped until something shows.
#pragma once

#include <sys/stat.h>
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QTimer>
#include <QWidget>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/flows.h"
#include "app/ids.h"
#include "app/list_commands.h"
#include "app/program.h"
#include "platform/windowing/native_window.h"
#include "runtime/events.h"
#include "runtime/runtime.h"
#include "runtime/services.h"
#include "runtime/startup.h"
#include "runtime/values.h"
#include "runtime/window_registry.h"
#include "runtime/windows.h"
#include "support/temp_dir.h"
#include "units/picture_loader.h"

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
    if (clock.elapsed() > limit_ms)
      return false;
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
  // Pictures decode off the window thread: the picture is what a user sees a moment later.
  pump_until([] { return !units::pictures_pending(); }, 5000);
  QApplication::processEvents();
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
  if (get_int(kStartWindow, start::kSearchButton, kPropDisabled) != 0)
    return false;
  const rt::Text status = get_text(kStartWindow, start::kSearchStatusLabel, kPropText);
  const bool hidden = get_int(kStartWindow, start::kSearchStatusLabel, kPropVisible) == 0;
  return (hidden && status.view() == "搜索中，请耐心等待......") ||
         status.view() == "查询失败，请重新尝试搜索......";
}

// The details ended: the addresses in an enabled box, or the failure text.
inline bool details_ended() {
  using namespace app;
  const rt::Text box = get_text(kStartWindow, start::kDownloadBox, kPropText);
  if (box.view() == "网页返回为空，请重新尝试单击获取......")
    return true;
  return !box.empty() && box.view() != "正在获取，请耐心等待......" &&
         get_int(kStartWindow, start::kDownloadBox, kPropDisabled) == 0;
}

// Starts the runtime the first time (once per process), then loads the start window.
inline void load_start_window() {
  static bool started = false;
  if (!started) {
    started = true;
    rt::install_program_info(app::program_info());
    rt::Cell none{};
    rt::entry_table().runtime_routine(6, &none, 0, nullptr);
  }
  rt::load_start_window(app::kStartWindow);
}

// Destroys whatever windows are still loaded, so that the next test starts afresh.
inline void close_windows() {
  for (uint32_t id : {app::kPlayListWindow, app::kStartWindow}) {
    if (rt::window_loaded(id))
      windowing::destroy(rt::unit_native_window(id, 0));
  }
  rt::detail::loop_state().quit_posted = false;
}

// Closes the play-list window after `ms` if a test's own timers have not: a modal load returns
// only when the window closes, so a test that fails to finish its steps would otherwise hang.
class ModalDeadline {
 public:
  explicit ModalDeadline(int ms) {
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, [] {
      if (rt::window_loaded(app::kPlayListWindow))
        window_widget(app::kPlayListWindow)->close();
    });
    timer_.start(ms);
  }

 private:
  QTimer timer_;
};

// Opens the play list as the online-play button does, modally, and calls `step` on the window
// thread every 10 ms once the window is made; the window closes when `step` answers true, or
// after `limit_ms` in any case.
inline void with_play_list(const std::function<bool()>& step, int limit_ms = 10000) {
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    rt::detail::WindowEntry* entry = rt::detail::registry().find(app::kPlayListWindow);
    if (!entry || !entry->initialised || !rt::window_loaded(app::kPlayListWindow))
      return;
    if (step())
      window_widget(app::kPlayListWindow)->close();
  });
  poll.start(10);
  const ModalDeadline deadline(limit_ms);
  rt::raise_unit_event(app::kStartWindow, app::start::kOnlinePlayButton, 0);
}

// Presses a key on a unit's widget, as a user at the keyboard would.
inline void press_key(uint32_t window, uint32_t unit, int key) {
  QWidget* widget = static_cast<QWidget*>(rt::unit_native_window(window, unit));
  if (!widget)
    return;
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
  QApplication::sendEvent(widget, &press);
  QApplication::sendEvent(widget, &release);
}

// A recording xdg-open first on PATH, in a private folder: the shell stand-in starts it instead
// of the desktop's, and it writes each address it is given as a line. The desktop's own
// default applications are out of sight too (the XDG folders point into the private folder),
// so no player of the machine's is ever started.
class RecordingOpener {
 public:
  RecordingOpener() {
    const std::filesystem::path& bin = dir_.path();
    if (bin.empty())
      return;
    for (const char* name : kXdgFolders) {
      const char* value = getenv(name);
      saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
      setenv(name, bin.c_str(), 1);
    }
    saved_.emplace_back("PATH",
                        getenv("PATH") ? std::optional<std::string>(getenv("PATH")) : std::nullopt);
    file_ = bin / "opened.txt";
    std::ofstream script(bin / "xdg-open");
    script << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" << file_.string() << "'\n";
    script.close();
    chmod((bin / "xdg-open").c_str(), 0755);
    setenv("PATH", (bin.string() + ":" + getenv("PATH")).c_str(), 1);
  }
  ~RecordingOpener() {
    for (const auto& [name, value] : saved_) {
      if (value) {
        setenv(name, value->c_str(), 1);
      } else {
        unsetenv(name);
      }
    }
  }
  RecordingOpener(const RecordingOpener&) = delete;
  RecordingOpener& operator=(const RecordingOpener&) = delete;
  bool ready() const { return !file_.empty(); }
  // From now on nothing opens addresses: no xdg-open on PATH, no default application.
  void remove() {
    std::error_code ignored;
    std::filesystem::remove(dir_.path() / "xdg-open", ignored);
    setenv("PATH", dir_.path().c_str(), 1);
  }
  std::vector<std::string> opened() const {
    std::ifstream in(file_);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

 private:
  static constexpr const char* kXdgFolders[] = {"XDG_DATA_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_HOME",
                                                "XDG_CONFIG_DIRS"};
  testsupport::TempDir dir_;
  std::filesystem::path file_;
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

}  // namespace e2e
