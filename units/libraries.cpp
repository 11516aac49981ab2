#include "units/libraries.h"

#include <array>

#include "runtime/kinds.h"
#include "units/kinds.h"
#include "units/list_view_commands.h"

namespace units {
namespace {

constexpr size_t kCoreKindCount = 49;
constexpr size_t kExtendedKindCount = 5;

// The units call the core directly rather than through the service entry, and hold nothing
// that needs releasing at the end of the program.
int32_t notify(int32_t code, intptr_t, intptr_t) {
  switch (code) {
    case rt::kLibraryServiceEntry:
    case rt::kLibraryProgramEnd:
      return 0;
    default:
      return -1;
  }
}

rt::KindDescriptor value_kind(const char* name, const char* english_name) {
  rt::KindDescriptor d;
  d.name = name;
  d.english_name = english_name;
  return d;
}

}  // namespace

const rt::UnitLibrary& core_unit_library() {
  static const std::array<rt::KindDescriptor, kCoreKindCount> kinds = [] {
    std::array<rt::KindDescriptor, kCoreKindCount> k{};
    k[1 - 1] = window_kind();
    k[5 - 1] = edit_box_kind();
    k[6 - 1] = pic_box_kind();
    k[9 - 1] = group_box_kind();
    k[11 - 1] = button_kind();
    k[48 - 1] = value_kind("对象", "ComObject");
    k[49 - 1] = value_kind("变体型", "Variant");
    return k;
  }();
  static const rt::UnitLibrary library{
      "CoreUnits", &notify, kinds.data(), static_cast<int32_t>(kinds.size()), nullptr, 0};
  return library;
}

const rt::UnitLibrary& extended_unit_library() {
  static const std::array<rt::KindDescriptor, kExtendedKindCount> kinds = [] {
    std::array<rt::KindDescriptor, kExtendedKindCount> k{};
    k[4 - 1] = list_view_kind();
    k[5 - 1] = trans_label_kind();
    return k;
  }();
  static const std::array<rt::CommandFn, kListViewCommandCount> commands = [] {
    std::array<rt::CommandFn, kListViewCommandCount> c{};
    c[kCommandInsertRow] = &insert_row;
    c[kCommandSetCellText] = &set_cell_text;
    c[kCommandCellText] = &cell_text;
    c[kCommandDeleteAllRows] = &delete_all_rows;
    return c;
  }();
  static const rt::UnitLibrary library{"ExtendedUnits", &notify,
                                       kinds.data(),    static_cast<int32_t>(kinds.size()),
                                       commands.data(), static_cast<int32_t>(commands.size())};
  return library;
}

}  // namespace units
