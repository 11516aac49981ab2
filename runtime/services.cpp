// The runtime service entry: what the unit libraries ask of the core by code.
#include <algorithm>
#include <cstring>

#include "runtime/fatal.h"
#include "runtime/heap.h"
#include "runtime/kinds.h"
#include "runtime/runtime.h"
#include "runtime/services.h"
#include "runtime/values.h"

namespace rt {
namespace {

ServiceHandler g_window_services = nullptr;

void fill_path_buffer(int32_t which, char* buffer) {
  if (!buffer)
    return;
  std::string value;
  if (which == kPathDirectory || which == kPathDirectoryAlt)
    value = program_directory();
  if (which == kPathFileName)
    value = program_file_name();
  const size_t n = std::min(value.size(), kPathBufferSize - 1);
  std::memcpy(buffer, value.data(), n);
  buffer[n] = 0;
}

int32_t numeric_to_int(const Cell* value) {
  if (!value)
    fatal_error("欲转换数据类型不是数值", 0);
  switch (plain_code(value->type)) {
    case kByte:
      return static_cast<uint8_t>(value->low);
    case kShort:
      return static_cast<int16_t>(value->low);
    case kInt:
    case kInt64:
      return value->as_int();
    case kFloat:
      return truncate_to_int(value->as_float());
    case kDouble:
      return truncate_to_int(value->as_double());
    default:
      fatal_error("欲转换数据类型不是数值", 0);
  }
}

}  // namespace

const KindDescriptor* find_kind(TypeCode kind_code) {
  const auto library = static_cast<int32_t>(kind_code >> 16);
  const auto kind = static_cast<int32_t>(kind_code & 0xFFFF);
  const UnitLibrary* lib = unit_library(library - 1);
  if (!lib || kind < 1 || kind > lib->kind_count || !lib->kinds)
    return nullptr;
  return &lib->kinds[kind - 1];
}

void set_window_services(ServiceHandler handler) {
  g_window_services = handler;
}

intptr_t runtime_service(int32_t code, intptr_t value1, intptr_t value2) {
  switch (code) {
    case kServiceFindKind:
      return reinterpret_cast<intptr_t>(find_kind(static_cast<TypeCode>(value1)));
    case kServiceRuntimeLevel:
      return 1;
    case kServiceRuntimeVersion:
      return 0x30005;
    case kServiceProgramPath:
      fill_path_buffer(static_cast<int32_t>(value1), reinterpret_cast<char*>(value2));
      return 0;
    case kServiceNumberToInt:
      return numeric_to_int(reinterpret_cast<const Cell*>(value1));
    case kServiceAnswersZero:
      return 0;
    case kServiceProgramDirectory:
      return reinterpret_cast<intptr_t>(program_directory().c_str());
    case kServiceProgramFileName:
      return reinterpret_cast<intptr_t>(program_file_name().c_str());
    case kServiceReleaseArray:
      release_array(reinterpret_cast<void*>(value1), static_cast<TypeCode>(value2));
      return 0;
    case kServiceAllocate: {
      const auto n = static_cast<size_t>(value1);
      return reinterpret_cast<intptr_t>(value2 != 0 ? allocate_or_null(n) : allocate(n));
    }
    case kServiceFree:
      free_block(reinterpret_cast<void*>(value1));
      return 0;
    case kServiceReallocate:
      return reinterpret_cast<intptr_t>(
          reallocate(reinterpret_cast<void*>(value1), static_cast<size_t>(value2)));
    case kServiceFatalError:
      fatal_error(reinterpret_cast<const char*>(value1), 0);
    case kServiceEndProgram:
      end_program(static_cast<int32_t>(value1));
    case kServiceKindRaisesEvents: {
      const KindDescriptor* kind = find_kind(static_cast<TypeCode>(value1));
      if (!kind)
        return 0;
      if (kind->flags & kKindRaisesEventsAlt)
        return 2;
      if (kind->flags & kKindRaisesEvents)
        return 1;
      return 0;
    }
    case kServiceRunMode:
      return run_mode();
    default:
      break;
  }
  // The window layer answers the codes of windows, units and events.
  if (g_window_services)
    return g_window_services(code, value1, value2);
  return 0;
}

}  // namespace rt
