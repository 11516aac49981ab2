// Decoding for picture units, off the window thread. A poster comes from outside and may cost up
// to the decoders' bounds (decoders/picture.h), which the window thread must not spend.
//
// One decode thread serves every loader, in the order they asked. A loader has at most one
// request waiting: a new one replaces it unread, and the answer to one already being decoded is
// dropped, so superseded work neither piles up nor shows. The answer reaches the window thread
// as a posted call on an object the loader owns: destroying the loader drops it.
#pragma once

#include <QImage>
#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "decoders/picture.h"
#include "platform/windowing/window_thread.h"

namespace units {

// A decoded picture ready to paint: premultiplied frames and how long each shows.
struct LoadedPicture {
  std::vector<QImage> frames;  // empty when the bytes do not decode
  std::vector<int32_t> delays_ms;
};

class PictureLoader {
 public:
  // `ready` runs on the window thread with the answer to the latest request.
  explicit PictureLoader(std::function<void(LoadedPicture)> ready);
  // Drops any unanswered request; `ready` does not run after this.
  ~PictureLoader();
  PictureLoader(const PictureLoader&) = delete;
  PictureLoader& operator=(const PictureLoader&) = delete;

  // Window thread. Copies the bytes and supersedes any unanswered request.
  void load(std::span<const uint8_t> bytes, imaging::Frames frames);
  // Window thread. Drops any unanswered request.
  void cancel();

  struct State;

 private:
  void deliver();
  void set_waiting(bool waiting);

  std::function<void(LoadedPicture)> ready_;
  std::shared_ptr<State> state_;
  bool waiting_ = false;
  windowing::CallReceiver receiver_;  // the answers are posted to it; it dies with the loader
};

// Window thread, for tests: whether a loader waits for an answer or the decode thread still
// works, on a superseded request too. Once false, pending posted answers are all that is left.
bool pictures_pending();

}  // namespace units
