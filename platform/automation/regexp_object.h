// The scripting regular-expression object, registered under the program id "VBScript.RegExp".
//
// Members: Pattern, IgnoreCase, Global, Multiline (properties, all off and empty at first),
// Execute(text) -> match collection, Replace(text, replacement) -> text, Test(text) -> bool.
// A match collection has Count and Item(index from 0); a match has Value, FirstIndex and Length
// (in UTF-16 code units) and SubMatches; a sub-match collection has Count and Item(index from 0),
// whose value is empty for a group that took no part in the match. A pattern that does not
// compile, an index out of range and a run that hit a limit fail with DISP_E_EXCEPTION.
#pragma once

#include "platform/automation/automation.h"

namespace automation {

inline constexpr CLSID kRegExpClassId{
    0x6B0E5A2D, 0x3C41, 0x4F7A, {0x9E, 0x52, 0x1D, 0x8B, 0x60, 0x7C, 0x2F, 0x13}};

// A new regular-expression object with one reference.
IUnknown* create_regexp();

}  // namespace automation
