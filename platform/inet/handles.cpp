#include "platform/inet/handles.h"

#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace inet {
namespace {

struct HandleTable {
  std::mutex lock;
  std::unordered_map<uintptr_t, std::shared_ptr<HandleObject>> objects;
  // Starts away from 0 and small numbers, which callers may confuse with "no handle".
  uintptr_t next = 0x1000;
};

HandleTable& table() {
  static HandleTable* t = new HandleTable;  // outlives every caller, also at process exit
  return *t;
}

}  // namespace

void* open_handle(std::shared_ptr<HandleObject> object) {
  HandleTable& t = table();
  std::lock_guard guard(t.lock);
  const uintptr_t handle = t.next;
  t.next += 4;
  t.objects.emplace(handle, std::move(object));
  return reinterpret_cast<void*>(handle);
}

std::shared_ptr<HandleObject> find_handle(void* handle, HandleKind kind) {
  HandleTable& t = table();
  std::lock_guard guard(t.lock);
  const auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
  if (it == t.objects.end() || it->second->kind() != kind)
    return nullptr;
  return it->second;
}

bool handle_kind(void* handle, HandleKind& kind) {
  HandleTable& t = table();
  std::lock_guard guard(t.lock);
  const auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
  if (it == t.objects.end())
    return false;
  kind = it->second->kind();
  return true;
}

bool close_handle(void* handle) {
  std::shared_ptr<HandleObject> object;  // destroyed outside the lock: a transfer may be ending
  HandleTable& t = table();
  {
    std::lock_guard guard(t.lock);
    const auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
    if (it == t.objects.end())
      return false;
    object = std::move(it->second);
    t.objects.erase(it);
  }
  object->closed();
  return true;
}

}  // namespace inet
