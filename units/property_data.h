// The unit kinds' property data: the property tables of the seven kinds, the byte format in which
// templates carry a unit's own properties (and in which a unit hands back its state for
// re-creation), and the list view's column and row byte sets.
//
// Qt-free: the template compiler links this as well, so the tool and the kinds share one table
// and one format.
//
// Property data format. A unit's property data holds the kind's own properties (index 8 and up)
// in index order, each in the form of its type, all integers 32-bit little-endian:
//
//   1000 1001 1003 1006 1014 1015 1017       int32
//   1002 1004                                int32 low word, int32 high word
//   1005 1016 1018 1020 (texts)              int32 length, then that many GBK bytes (no
//                                            terminator; a 0 byte inside is bad data)
//   1009 1010 1011 1012 1023 1024 (byte sets) int32 length, then that many bytes
//   1013 (font)                              the 60-byte logical-font record; its face name must
//                                            end in a 0 byte within its 32 bytes
//
// Nothing may follow the last property; a length that is negative, above its cap or past the
// end is bad data. Bad data decodes to nothing, and a unit is then not created.
//
// Colours (1014, 1017) are 0x00BBGGRR. A 1017 property may also hold kColourDefault (the
// desktop's own colour for that part) or kColourNone (transparent, drawn in the colour beneath).
// A font whose face name is empty is "no font of its own": the unit keeps the default font.
//
// In the index lists below, "(kept)" marks a property that the unit stores and hands back (and
// carries through re-creation) without it changing the widget on this desktop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/kinds.h"
#include "runtime/unit_kind.h"
#include "runtime/value.h"

namespace units {

inline constexpr int32_t kFirstKindProperty = rt::kFirstKindProperty;

inline constexpr rt::TypeCode kKindWindow = 0x10001;
inline constexpr rt::TypeCode kKindEditBox = 0x10005;
inline constexpr rt::TypeCode kKindPicBox = 0x10006;
inline constexpr rt::TypeCode kKindGroupBox = 0x10009;
inline constexpr rt::TypeCode kKindButton = 0x1000B;
inline constexpr rt::TypeCode kKindListView = 0x20004;
inline constexpr rt::TypeCode kKindTransLabel = 0x20005;

inline constexpr int32_t kColourDefault = static_cast<int32_t>(0xFF000000u);
inline constexpr int32_t kColourNone = -1;

inline constexpr int32_t colour(int red, int green, int blue) {
  return (red & 0xFF) | (green & 0xFF) << 8 | (blue & 0xFF) << 16;
}

// Caps on lengths read from property data.
inline constexpr size_t kMaxTextLength = size_t{1} << 20;
inline constexpr size_t kMaxByteSetLength = size_t{64} << 20;

// Indices 0 to 7 are the same for every kind and handled by the core.
namespace common_property {
enum : int32_t { kLeft, kTop, kWidth, kHeight, kTag, kVisible, kDisabled, kMouseCursor };
}

// Border choices shared by EditBox, PicBox and ListView: 0 none, 1 sunken, 2 raised,
// 3 shallow sunken, 4 bump, 5 single line.
enum Border : int32_t {
  kBorderNone,
  kBorderSunken,
  kBorderRaised,
  kBorderShallow,
  kBorderBump,
  kBorderLine,
};

// `window` (0x10001): the top-level window itself.
namespace window_property {
enum : int32_t {
  kCaption = 8,             // 1005 title bar text
  kBorder = 9,              // 1006 0 none (no frame), 1 sizeable, 2 fixed, 3 dialog, 4 tool window,
                            //      5 sizeable tool window; 4 and 5 stay out of the task bar; the
                            //      window manager frames 1, 2 and 3 alike
  kBackgroundColour = 10,   // 1017 client area colour
  kBackgroundPicture = 11,  // 1009 picture file bytes, kept for the imaging layer
  kBackgroundPictureMode = 12,  // 1006 0 tiled, 1 top left, 2 stretched, 3 centred (kept)
  kBackgroundSound = 13,        // 1012 sound file bytes (kept; this program has no sound output)
  kSoundRepeatCount = 14,       // 1006 (kept)
  kControlBox = 15,             // 1003 title bar with system menu and close button
  kMaximiseButton = 16,         // 1003
  kMinimiseButton = 17,         // 1003
  kStartPosition = 18,    // 1006 0 as the template says, 1 centred on the screen, 2 minimised,
                          //      3 maximised; applied when the window is created
  kMovable = 19,          // 1003 (kept: the window manager moves windows)
  kIcon = 20,             // 1010 icon file bytes, kept for the imaging layer
  kEnterMovesFocus = 21,  // 1003 Enter not taken by a unit moves the focus to the next unit
  kEscapeCloses = 22,     // 1003 Escape asks the window to close
  kF1OpensHelp = 23,      // 1003 (kept)
  kHelpFile = 24,         // 1016 (kept)
  kHelpContext = 25,      // 1001 (kept)
  kShowInTaskbar = 26,    // 1003 off: a tool window, left out of the task bar
  kDragAnywhere = 27,     // 1003 a drag on the client area moves the window
  kShape = 28,            // 1006 (kept)
  kAlwaysOnTop = 29,      // 1003 above every window that is not on top itself
  kKeepTitleActive = 30,  // 1003 (kept)
  kClassName = 31,        // 1005 (kept)
};
}

// `EditBox` (0x10005): a single-line or multi-line text field.
namespace edit_property {
enum : int32_t {
  kContent = 8,            // 1005 the text; line breaks are CR LF
  kBorder = 9,             // 1006 Border
  kTextColour = 10,        // 1014
  kBackgroundColour = 11,  // 1017
  kFont = 12,              // 1013
  kHideSelection = 13,     // 1003 off: the selection stays drawn without the focus
  kMaxLength = 14,         // 1001 characters; 0 or less: no limit
  kMultiLine = 15,         // 1003 re-creates the unit when changed
  kScrollBars = 16,        // 1006 0 none, 1 horizontal, 2 vertical, 3 both (multi-line only;
                           //      a horizontal bar turns line wrapping off)
  kAlignment = 17,         // 1006 0 left, 1 centred, 2 right
  kInputMode = 18,         // 1006 0 normal, 1 read-only, 2 password, 3 digits only
  kPasswordChar = 19,      // 1005 (kept; the desktop's own mask character is drawn)
  kCaseConversion = 20,    // 1006 0 none, 1 typed letters become upper case, 2 lower case
  kSpinner = 21,           // 1006 0 none, 1 spin buttons (kept)
  kSpinMinimum = 22,       // 1001 (kept)
  kSpinMaximum = 23,       // 1001 (kept)
  kSelectionStart = 24,    // 1001 live: first selected character, 0-based
  kSelectionLength = 25,   // 1001 live: number of selected characters
  kSelectedText = 26,      // 1005 live: the selected text; setting it replaces the selection
  kDataSource = 27,        // 1018 (kept)
  kDataColumn = 28,        // 1020 (kept)
};
}

// `PicBox` (0x10006): a picture frame. The picture bytes are kept as given and handed back;
// decoding and drawing them belongs to the imaging layer.
namespace picture_property {
enum : int32_t {
  kBorder = 8,            // 1006 Border
  kBackgroundColour = 9,  // 1017
  kPicture = 10,          // 1009 the bytes of an image file
  kDisplayMode = 11,      // 1006 0 top left, 1 scaled, 2 centred, 3 scaled keeping the aspect,
                          //      4 tiled (for the imaging layer)
  kAnimate = 12,          // 1003 (kept)
  kDataSource = 13,       // 1018 (kept)
  kDataColumn = 14,       // 1020 (kept)
};
}

// `GroupBox` (0x10009): a titled frame that holds other units.
namespace group_property {
enum : int32_t {
  kCaption = 8,            // 1005
  kCaptionAlignment = 9,   // 1006 0 left, 1 centred, 2 right
  kTextColour = 10,        // 1014
  kBackgroundColour = 11,  // 1017
  kFont = 12,              // 1013
};
}

// `Button` (0x1000B): a push button; a click raises event 0.
namespace button_property {
enum : int32_t {
  kPicture = 8,               // 1009 image file bytes, kept for the imaging layer
  kButtonType = 9,            // 1006 0 normal, 1 default button (Enter in the window presses it)
  kCaption = 10,              // 1005
  kHorizontalAlignment = 11,  // 1006 0 left, 1 centred, 2 right
  kVerticalAlignment = 12,    // 1006 0 top, 1 centred, 2 bottom
  kFont = 13,                 // 1013
};
}

// `ListView` (0x20004): the list of the results and of the episodes.
namespace list_property {
enum : int32_t {
  kBorder = 8,                 // 1006 Border
  kTextColour = 9,             // 1014 read back from the widget
  kTextBackgroundColour = 10,  // 1017 behind the rows' texts; read back from the widget
  kBackgroundColour = 11,      // 1017 read back from the widget
  kFont = 12,                  // 1013
  kView = 13,                  // 1006 0 large icons, 1 small icons, 2 list, 3 report
  kIconAlignment = 14,         // 1006 0 top, 1 left
  kAutoArrange = 15,           // 1003
  kLabelWrap = 16,             // 1003
  kColumns = 17,               // 1024 the columns (encode_columns)
  kNoColumnHeader = 18,        // 1003
  kHeaderImages = 19,          // 1023 (kept for the imaging layer)
  kClickableHeaders = 20,      // 1003
  kFullRowSelect = 21,         // 1003
  kGridLines = 22,             // 1003
  kHeaderDragDrop = 23,        // 1003
  kItemImages = 24,            // 1023 (kept for the imaging layer)
  kStateImages = 25,           // 1023 (kept for the imaging layer)
  kHotTracking = 26,           // 1003
  kHandCursor = 27,            // 1003
  kUnderlineCold = 28,         // 1003
  kUnderlineHot = 29,          // 1003
  kEditLabels = 30,            // 1003
  kSorting = 31,               // 1006 0 none, 1 ascending, 2 descending (rows inserted in order)
  kCheckBoxes = 32,            // 1003
  kFlatScrollBars = 33,        // 1003 (kept: the desktop draws one kind of scroll bar)
  kSingleSelection = 34,       // 1003
  kCurrentRow = 35,            // 1001 first selected row, -1 none
  kKeepSelection = 36,         // 1003 the selection stays drawn without the focus
  kRows = 37,                  // 1024 the rows (encode_rows); templates leave it empty, and a
                               //      unit's saved state carries its rows through re-creation
  kCurrentText = 38,           // 1005 read only: first cell of the current row, empty when none
};
}

// `TransLabel` (0x20005): text without a background, drawn over whatever lies beneath.
namespace label_property {
enum : int32_t {
  kCaption = 8,             // 1005
  kAlignment = 9,           // 1006 0 left, 1 centred, 2 right
  kFont = 10,               // 1013
  kTextColour = 11,         // 1014
  kVerticalAlignment = 12,  // 1006 0 top, 1 centred, 2 bottom
  kWordWrap = 13,           // 1003
  kTextEffect = 14,         // 1006 0 none, 1 shadow, 2 outline
};
}

// --- Property tables ---

struct KindTable {
  rt::TypeCode code = 0;
  const char* name = "";  // GBK
  const char* english_name = "";
  int32_t property_count = 0;  // including the common 0 to 7
  const rt::PropertyInfo* properties = nullptr;
};

// The seven kinds this program builds.
std::span<const KindTable> kind_tables();
// The table of one kind; null for a code this program does not build.
const KindTable* kind_table(rt::TypeCode kind);
// A property's entry; null for an index the kind does not have.
const rt::PropertyInfo* property_info(rt::TypeCode kind, int32_t index);
// The index of the property with this English name, or -1.
int32_t property_index(rt::TypeCode kind, std::string_view english_name);
// The number of choice texts of a property (0 when it has none).
int32_t choice_count(const rt::PropertyInfo& info);
// A word value brought into its property's range: bools to 0 or 1, choices with choice texts
// into 0 .. count - 1, negative choices to 0. Other types pass unchanged.
int32_t normalised(const rt::PropertyInfo& info, int32_t value);

enum class ValueForm { kWord, kTwoWords, kText, kBytes, kFont };
ValueForm value_form(uint16_t type);

// --- Property values ---

struct PropertyValue {
  uint16_t type = 0;
  int32_t word = 0;   // word types; the low word of two-word types
  int32_t high = 0;   // the high word of two-word types
  std::string bytes;  // texts (GBK) and byte sets
  rt::LogicalFont font{};
};

// The kind properties of one unit, indexed by property index (8 and up). Reads of an index the
// kind does not have, or of another form, answer 0 or empty; writes of that kind do nothing.
class PropertyValues {
 public:
  PropertyValues() = default;

  // Every kind property at its default (the settings of this program's units where they share
  // one); empty for a kind this program does not build.
  static PropertyValues defaults(rt::TypeCode kind);
  static std::optional<PropertyValues> decode(rt::TypeCode kind, std::span<const uint8_t> data);
  std::vector<uint8_t> encode() const;

  rt::TypeCode kind() const { return kind_; }
  bool has(int32_t index) const { return find(index) != nullptr; }
  const PropertyValue* find(int32_t index) const;
  uint16_t type(int32_t index) const;

  int32_t word(int32_t index) const;
  bool flag(int32_t index) const { return word(index) != 0; }
  std::string_view text(int32_t index) const;
  std::span<const uint8_t> bytes(int32_t index) const;
  rt::LogicalFont font(int32_t index) const;

  // set_word normalises the value (bools, choices); texts are cut at a 0 byte.
  void set_word(int32_t index, int32_t value);
  void set_two_words(int32_t index, int32_t low, int32_t high);
  void set_text(int32_t index, std::string_view value);
  void set_bytes(int32_t index, std::span<const uint8_t> value);
  void set_font(int32_t index, const rt::LogicalFont& value);

 private:
  PropertyValue* slot(int32_t index);

  rt::TypeCode kind_ = 0;
  std::vector<PropertyValue> values_;  // property index - 8
};

// --- Fonts ---

// The face name of a font record, up to its 0 byte.
std::string_view face_name(const rt::LogicalFont& font);
bool has_own_font(const rt::LogicalFont& font);
// A font record; face names longer than 31 bytes are cut at a character boundary.
rt::LogicalFont make_font(std::string_view face, int32_t height, int32_t weight = 400);

// --- List view columns and rows ---

enum ColumnAlignment : int32_t { kColumnLeft = 0, kColumnRight = 1, kColumnCentre = 2 };

inline constexpr int32_t kMaxColumns = 256;
inline constexpr int32_t kMaxColumnWidth = 32767;
inline constexpr int32_t kMaxRows = 1 << 20;
// A cell keeps at most this many bytes of what is written into it: a row of a film site's list
// is a few dozen characters, and one huge cell would cost seconds to lay out at every hover.
inline constexpr size_t kMaxCellBytes = 4096;

// The longest start of a GBK text that fits in kMaxCellBytes without splitting a character.
std::string_view cell_prefix(std::string_view text);

struct ListColumn {
  std::string title;  // GBK
  int32_t width = 0;  // pixels; 0 hides the column
  int32_t alignment = kColumnLeft;
  bool operator==(const ListColumn&) const = default;
};

// Columns byte set: int32 count, then per column int32 title length, the title's GBK bytes,
// int32 width (0 to 32767), int32 alignment (ColumnAlignment). An empty byte set is no columns.
std::vector<uint8_t> encode_columns(std::span<const ListColumn> columns);
std::optional<std::vector<ListColumn>> decode_columns(std::span<const uint8_t> data);

struct ListRow {
  std::vector<std::string> cells;  // GBK, one per column that has been written
  int32_t image = -1;              // item image, -1 none
  int32_t state_image = 0;         // state image number + 1, 0 none
  int32_t indent = 0;
  int32_t data = 0;  // item data
  bool operator==(const ListRow&) const = default;
};

// Rows byte set: int32 count, then per row int32 image, state image, indent, item data, int32
// cell count (up to kMaxColumns) and each cell as int32 length and GBK bytes. Empty: no rows.
std::vector<uint8_t> encode_rows(std::span<const ListRow> rows);
std::optional<std::vector<ListRow>> decode_rows(std::span<const uint8_t> data);

}  // namespace units
