// The kind descriptors of the unit kinds this program builds.
#pragma once

#include "runtime/kinds.h"

namespace units {

const rt::KindDescriptor& window_kind();
const rt::KindDescriptor& edit_box_kind();
const rt::KindDescriptor& pic_box_kind();
const rt::KindDescriptor& group_box_kind();
const rt::KindDescriptor& button_kind();
const rt::KindDescriptor& list_view_kind();
const rt::KindDescriptor& trans_label_kind();

}  // namespace units
