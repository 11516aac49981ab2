#include "units/picture_loader.h"

#include <QRgb>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

namespace units {

// What a loader shares with the decode thread.
struct PictureLoader::State {
  std::mutex lock;
  // Guarded by the lock.
  uint64_t generation = 0;   // of the latest request
  bool has_request = false;  // the latest request waits for the decode thread
  std::vector<uint8_t> bytes;
  imaging::Frames frames = imaging::Frames::kFirstOnly;
  bool queued = false;                  // in the decode thread's queue
  bool closed = false;                  // the loader is gone
  std::optional<LoadedPicture> answer;  // to the latest request, not yet taken
  // Posts word of an answer to the window thread. Set before the state is shared; called only
  // under the lock and while the loader is open.
  std::function<void()> post;
};

namespace {

struct DecodeQueue {
  std::mutex lock;
  std::condition_variable wake;
  std::deque<std::shared_ptr<PictureLoader::State>> states;  // each at most once
  bool running = false;
  bool busy = false;  // a request is being decoded or its answer posted
};

DecodeQueue& decode_queue() {
  static DecodeQueue* queue = new DecodeQueue;  // lives until the process ends, as its thread does
  return *queue;
}

size_t& waiting_loaders() {
  static size_t count = 0;
  return count;
}

// QImage's cleanup call: takes back the pixels handed to it and frees them.
void release_pixels(void* pixels) {
  const std::unique_ptr<imaging::Pixels> owned(static_cast<imaging::Pixels*>(pixels));
}

// Decodes, and readies the frames for painting: premultiplied in place and handed to QImage
// without a copy, which matters for the largest pictures.
LoadedPicture prepare(std::span<const uint8_t> bytes, imaging::Frames frames) {
  LoadedPicture loaded;
  std::optional<imaging::Picture> p = imaging::decode_picture(bytes, frames);
  if (!p)
    return loaded;
  for (imaging::Frame& f : p->frames) {
    auto pixels = std::make_unique<imaging::Pixels>(std::move(f.pixels));
    for (uint32_t& c : *pixels) c = qPremultiply(c);
    // From here the image owns the pixels; release_pixels frees them with its last copy.
    QImage image(reinterpret_cast<uchar*>(pixels->data()), p->width, p->height,
                 static_cast<qsizetype>(p->width) * 4, QImage::Format_ARGB32_Premultiplied,
                 release_pixels, pixels.get());
    pixels.release();
    loaded.frames.push_back(std::move(image));
    loaded.delays_ms.push_back(f.delay_ms);
  }
  return loaded;
}

// Takes the state's request, if it still has one, and answers it unless superseded meanwhile.
void answer(PictureLoader::State& s) {
  std::vector<uint8_t> bytes;
  imaging::Frames frames = imaging::Frames::kFirstOnly;
  uint64_t generation = 0;
  {
    std::lock_guard guard(s.lock);
    s.queued = false;
    if (!s.has_request)
      return;
    s.has_request = false;
    bytes.swap(s.bytes);
    frames = s.frames;
    generation = s.generation;
  }
  LoadedPicture loaded = prepare(bytes, frames);
  std::vector<uint8_t>().swap(bytes);
  std::lock_guard guard(s.lock);
  if (s.closed || s.generation != generation)
    return;  // superseded: dropped here, after the lock, with `loaded`
  s.answer = std::move(loaded);
  s.post();
}

void run_decodes() {
  DecodeQueue& queue = decode_queue();
  for (;;) {
    std::shared_ptr<PictureLoader::State> s;
    {
      std::unique_lock guard(queue.lock);
      queue.busy = false;
      queue.wake.wait(guard, [&] { return !queue.states.empty(); });
      s = std::move(queue.states.front());
      queue.states.pop_front();
      queue.busy = true;
    }
    answer(*s);
  }
}

// Queues a state for the decode thread, starting the thread on first use. Should the thread
// not start, the request stays queued for the next try.
void enqueue(std::shared_ptr<PictureLoader::State> s) {
  DecodeQueue& queue = decode_queue();
  std::lock_guard guard(queue.lock);
  queue.states.push_back(std::move(s));
  if (!queue.running) {
    try {
      std::thread(run_decodes).detach();
      queue.running = true;
    } catch (const std::system_error&) {
      return;
    }
  }
  queue.wake.notify_one();
}

}  // namespace

PictureLoader::PictureLoader(std::function<void(LoadedPicture)> ready)
    : ready_(std::move(ready)), state_(std::make_shared<State>()) {
  state_->post = [this] { windowing::post_call(receiver_, [this] { deliver(); }); };
}

PictureLoader::~PictureLoader() {
  std::optional<LoadedPicture> stale;
  std::vector<uint8_t> bytes;
  {
    std::lock_guard guard(state_->lock);
    state_->closed = true;
    state_->has_request = false;
    bytes.swap(state_->bytes);
    stale.swap(state_->answer);
  }
  set_waiting(false);
}

void PictureLoader::load(std::span<const uint8_t> bytes, imaging::Frames frames) {
  std::vector<uint8_t> copy(bytes.begin(), bytes.end());
  std::optional<LoadedPicture> stale;
  bool start = false;
  {
    std::lock_guard guard(state_->lock);
    ++state_->generation;
    state_->has_request = true;
    state_->bytes.swap(copy);
    state_->frames = frames;
    stale.swap(state_->answer);
    start = !state_->queued;
    state_->queued = true;
  }
  set_waiting(true);
  if (start)
    enqueue(state_);
}

void PictureLoader::cancel() {
  std::optional<LoadedPicture> stale;
  std::vector<uint8_t> bytes;
  {
    std::lock_guard guard(state_->lock);
    ++state_->generation;
    state_->has_request = false;
    bytes.swap(state_->bytes);
    stale.swap(state_->answer);
  }
  set_waiting(false);
}

void PictureLoader::deliver() {
  std::optional<LoadedPicture> answer;
  {
    std::lock_guard guard(state_->lock);
    answer.swap(state_->answer);
  }
  // None: a later request took its place after this word was posted; its own answer follows.
  if (!answer)
    return;
  set_waiting(false);
  ready_(std::move(*answer));
}

void PictureLoader::set_waiting(bool waiting) {
  if (waiting == waiting_)
    return;
  waiting_ = waiting;
  if (waiting)
    ++waiting_loaders();
  else
    --waiting_loaders();
}

bool pictures_pending() {
  if (waiting_loaders() > 0)
    return true;
  DecodeQueue& queue = decode_queue();
  std::lock_guard guard(queue.lock);
  return queue.busy || !queue.states.empty();
}

}  // namespace units
