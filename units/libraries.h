// The two unit libraries of this program, as the program information block lists them.
//
// Library 1, the core user-interface library: window (kind 1), EditBox (5), PicBox (6),
// GroupBox (9), Button (11), and the value kinds ComObject (48) and Variant (49), which have no
// properties and no interfaces. Library 2, the extended user-interface library: ListView (4) and
// TransLabel (5), with the list view's four commands. Kinds are addressed by kind number - 1;
// the numbers this program does not build are empty descriptors.
#pragma once

#include "runtime/runtime.h"

namespace units {

const rt::UnitLibrary& core_unit_library();
const rt::UnitLibrary& extended_unit_library();

}  // namespace units
