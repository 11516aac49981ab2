// Unit kind descriptors as the unit libraries list them, and the lookup by kind code.
#pragma once

#include <cstdint>

#include "runtime/value.h"

namespace rt {

// Kind flags the core reads.
inline constexpr uint32_t kKindRaisesEvents = 0x40;
inline constexpr uint32_t kKindRaisesEventsAlt = 0x04;
inline constexpr uint32_t kKindContainer = 0x80;
inline constexpr uint32_t kKindPagedContainer = 0x100;
inline constexpr uint32_t kKindCheckable = 0x400;
inline constexpr uint32_t kKindNeverVisible = 0x8000;
inline constexpr uint32_t kKindNotifyParent = 0x100000;

struct PropertyInfo {
  const char* name = "";
  const char* english_name = "";
  const char* description = "";
  uint16_t type = 0;
  uint16_t state = 0;
  const char* const* choices = nullptr;
};

using KindInterfaceFn = void* (*)(int32_t interface_number);

struct KindDescriptor {
  const char* name = "";
  const char* english_name = "";
  const char* description = "";
  uint32_t flags = 0;
  int32_t property_count = 0;
  const PropertyInfo* properties = nullptr;
  KindInterfaceFn interface_of = nullptr;
};

// The descriptor of a library-defined kind code ((library << 16) | kind, both 1-based), or null.
const KindDescriptor* find_kind(TypeCode kind_code);

}  // namespace rt
