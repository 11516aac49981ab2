// The live handles of the internet stand-in.
//
// A handle is a number handed out once and never again, so a stale handle cannot reach a newer
// object. The table keeps each object alive while it is open; a call holds its own reference, so
// closing a handle on one thread never pulls an object away from a call running on another.
#pragma once

#include <memory>

namespace inet {

enum class HandleKind { kSession, kConnection, kRequest };

class HandleObject {
 public:
  explicit HandleObject(HandleKind kind) : kind_(kind) {}
  HandleObject(const HandleObject&) = delete;
  HandleObject& operator=(const HandleObject&) = delete;
  virtual ~HandleObject() = default;

  HandleKind kind() const { return kind_; }
  // Called once the handle has been closed. A call on another thread may still be working on the
  // object; this is where it is told to give up.
  virtual void closed() {}

 private:
  HandleKind kind_;
};

// Adds an object and answers its new handle.
void* open_handle(std::shared_ptr<HandleObject> object);
// The live object of that handle and kind; null for anything else.
std::shared_ptr<HandleObject> find_handle(void* handle, HandleKind kind);
// The kind of a live handle, for the call log; false when the handle is not live.
bool handle_kind(void* handle, HandleKind& kind);
// Drops the handle and tells its object (closed()); false when it was not live.
bool close_handle(void* handle);

template <typename T>
std::shared_ptr<T> find(void* handle) {
  return std::static_pointer_cast<T>(find_handle(handle, T::kKind));
}

}  // namespace inet
