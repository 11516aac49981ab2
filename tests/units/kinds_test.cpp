// The unit kinds as the core drives them: the libraries' descriptors, creation from template
// property data through interface 1, properties through interfaces 4, 5 and 6, and the events
// the kinds raise.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QGroupBox>
#include <QLineEdit>
#include <QMoveEvent>
#include <QTextBlock>
#include <QTextEdit>

#include "runtime/command.h"
#include "runtime/events.h"
#include "unit_test_support.h"
#include "units/list_view_commands.h"

namespace {

using namespace unit_test;
namespace ep = units::edit_property;

constexpr uint32_t kWindow = 0x52010001;

TEST(UnitLibraries, KindsSitAtTheirNumbers) {
  const rt::UnitLibrary& core = units::core_unit_library();
  ASSERT_EQ(core.kind_count, 49);
  const std::map<int32_t, std::pair<std::string, uint32_t>> core_kinds = {
      {1, {"window", 0xC0}},   {5, {"EditBox", 0x40}}, {6, {"PicBox", 0x40}},
      {9, {"GroupBox", 0x80}}, {11, {"Button", 0x40}}, {48, {"ComObject", 0}},
      {49, {"Variant", 0}}};
  for (int32_t n = 1; n <= core.kind_count; ++n) {
    const rt::KindDescriptor& d = core.kinds[n - 1];
    const auto it = core_kinds.find(n);
    if (it == core_kinds.end()) {
      EXPECT_STREQ(d.english_name, "") << n;
      EXPECT_EQ(d.interface_of, nullptr) << n;
      continue;
    }
    EXPECT_EQ(d.english_name, it->second.first);
    EXPECT_EQ(d.flags, it->second.second) << d.english_name;
    EXPECT_EQ(d.interface_of == nullptr, n >= 48) << d.english_name;
    if (n >= 48) {
      EXPECT_EQ(d.property_count, 0);
    }
  }
  EXPECT_STREQ(core.kinds[0].name, "窗口");
  EXPECT_STREQ(core.kinds[48].name, "变体型");

  const rt::UnitLibrary& extended = units::extended_unit_library();
  ASSERT_EQ(extended.kind_count, 5);
  EXPECT_STREQ(extended.kinds[3].english_name, "ListView");
  EXPECT_EQ(extended.kinds[3].flags, 0x40u);
  EXPECT_EQ(extended.kinds[3].property_count, 39);
  EXPECT_STREQ(extended.kinds[4].english_name, "TransLabel");
  EXPECT_EQ(extended.kinds[4].flags, 0u) << "a label never raises events";
  EXPECT_EQ(extended.kinds[0].interface_of, nullptr);
  ASSERT_EQ(extended.command_count, 4);
  EXPECT_EQ(extended.commands[units::kCommandInsertRow], &units::insert_row);
  EXPECT_EQ(extended.commands[units::kCommandCellText], &units::cell_text);
  EXPECT_EQ(core.notify(1, 0, 0), 0);
  EXPECT_EQ(core.notify(99, 0, 0), -1);
}

TEST(UnitLibraries, InterfacesOneFourFiveSixOnly) {
  for (rt::TypeCode kind :
       {units::kKindWindow, units::kKindEditBox, units::kKindPicBox, units::kKindGroupBox,
        units::kKindButton, units::kKindListView, units::kKindTransLabel}) {
    const rt::KindDescriptor* d = descriptor(kind);
    ASSERT_NE(d, nullptr);
    for (int32_t n : {1, 4, 5, 6}) EXPECT_NE(d->interface_of(n), nullptr) << kind << " " << n;
    for (int32_t n : {0, 2, 3, 7, -1}) EXPECT_EQ(d->interface_of(n), nullptr) << kind << " " << n;
  }
}

class UnitKinds : public ::testing::Test {
 protected:
  FakeCore core;
  StartWindowValues start;
  std::unique_ptr<QWidget> parent = std::make_unique<QWidget>();

  rt::UnitObject* make(const units::PropertyValues& v, Placement at, uint32_t id,
                       uint32_t style = rt::kStyleTabStop) {
    rt::UnitObject* u = create_unit(v.kind(), v.encode(), parent.get(), at, id, kWindow, style);
    if (u)
      core.add(u);
    return u;
  }
};

TEST_F(UnitKinds, EveryPrefixOfTemplateDataCreatesNothing) {
  for (const units::PropertyValues* sample : start.samples()) {
    const std::vector<uint8_t> data = sample->encode();
    for (size_t n = 0; n < data.size(); ++n) {
      const std::vector<uint8_t> cut(data.begin(), data.begin() + static_cast<ptrdiff_t>(n));
      QWidget* owner = sample->kind() == units::kKindWindow ? nullptr : parent.get();
      EXPECT_EQ(create_unit(sample->kind(), cut, owner, {}, 0x16000001), nullptr)
          << "kind " << std::hex << sample->kind() << std::dec << ", " << n << " bytes";
    }
  }
  EXPECT_TRUE(parent->findChildren<QWidget*>().isEmpty()) << "no widget left behind";
  EXPECT_TRUE(core.natives.empty());
}

TEST_F(UnitKinds, CreatedHiddenWithTheCoresStyleAndKnownAsNativeWindows) {
  rt::UnitObject* a = make(start.search_box, {104, 208, 112, 32}, 0x16010004);
  rt::UnitObject* b = make(start.play_button, {224, 208, 88, 32}, 0x16012209,
                           rt::kStyleDisabled | rt::kStyleTabStop);
  rt::UnitObject* c = make(start.address_box, {7, 17, 480, 206}, 0x160121E3, 0);
  ASSERT_TRUE(a && b && c);
  EXPECT_EQ(widget_of(a)->geometry(), QRect(104, 208, 112, 32));
  for (rt::UnitObject* u : {a, b, c}) EXPECT_TRUE(widget_of(u)->isHidden());
  EXPECT_TRUE(widget_of(a)->isEnabled());
  EXPECT_FALSE(widget_of(b)->isEnabled());
  EXPECT_EQ(widget_of(a)->focusPolicy(), Qt::StrongFocus);
  EXPECT_EQ(widget_of(c)->focusPolicy(), Qt::ClickFocus);
  EXPECT_EQ(core.natives, (std::vector<void*>{a->native(), b->native(), c->native()}));
}

TEST_F(UnitKinds, SearchBoxIsACentredSingleLineFieldInItsColours) {
  rt::UnitObject* box = make(start.search_box, {104, 208, 112, 32}, 0x16010004);
  ASSERT_NE(box, nullptr);
  auto* line = qobject_cast<QLineEdit*>(widget_of(box));
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(get_text(box, ep::kContent), "周星驰");
  EXPECT_EQ(line->text(), QString::fromUtf16(u"周星驰"));
  EXPECT_EQ(line->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
  EXPECT_EQ(line->palette().color(QPalette::Text), QColor(88, 48, 224));
  EXPECT_EQ(line->palette().color(QPalette::Base), QColor(255, 255, 255));
  EXPECT_EQ(get_int(box, ep::kTextColour), units::colour(88, 48, 224));

  const std::string keyword(40000, 'k');  // no length limit
  set_text(box, ep::kContent, keyword.c_str());
  EXPECT_EQ(get_text(box, ep::kContent).size(), keyword.size());

  line->setText(QString::fromUtf16(u"刘德华"));  // typed by the user
  EXPECT_EQ(get_text(box, ep::kContent), "刘德华");
}

TEST_F(UnitKinds, AddressBoxIsMultiLineWithAVerticalScrollBar) {
  rt::UnitObject* box = make(start.address_box, {7, 17, 480, 206}, 0x160121E3);
  ASSERT_NE(box, nullptr);
  auto* text = qobject_cast<QTextEdit*>(widget_of(box));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(text->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_FALSE(text->isReadOnly());
  EXPECT_EQ(text->lineWrapMode(), QTextEdit::WidgetWidth);

  set_text(box, ep::kContent, "第1集$http://a/1.m3u8\r\n第2集$http://a/2.m3u8\r\n");
  EXPECT_EQ(text->document()->blockCount(), 3) << "each entry on a line of its own";
  EXPECT_EQ(get_text(box, ep::kContent), "第1集$http://a/1.m3u8\r\n第2集$http://a/2.m3u8\r\n");
  EXPECT_EQ(text->document()->firstBlock().blockFormat().alignment() & Qt::AlignHorizontal_Mask,
            Qt::AlignLeft);
}

TEST_F(UnitKinds, EditBoxSelectionAndChangeEvent) {
  rt::UnitObject* box = make(start.search_box, {0, 0, 200, 30}, 0x16010004);
  ASSERT_NE(box, nullptr);
  core.events.clear();
  set_text(box, ep::kContent, "abcdef");
  EXPECT_EQ(core.event_numbers(0x16010004), std::vector<int32_t>{0}) << "content changed";
  set_int(box, ep::kSelectionStart, 2);
  set_int(box, ep::kSelectionLength, 3);
  EXPECT_EQ(get_text(box, ep::kSelectedText), "cde");
  EXPECT_EQ(get_int(box, ep::kSelectionStart), 2);
  set_text(box, ep::kSelectedText, "XY");
  EXPECT_EQ(get_text(box, ep::kContent), "abXYf");
  set_int(box, ep::kSelectionStart, 2);
  set_int(box, ep::kSelectionLength, 100);  // past the end: up to the end
  EXPECT_EQ(get_text(box, ep::kSelectedText), "XYf");
  set_int(box, ep::kSelectionStart, 50);
  EXPECT_EQ(get_int(box, ep::kSelectionStart), 5);
}

TEST_F(UnitKinds, MultiLineSwitchAsksForRecreationAndStateCarriesTheContent) {
  rt::UnitObject* box = make(start.search_box, {0, 0, 200, 30}, 0x16010004);
  ASSERT_NE(box, nullptr);
  qobject_cast<QLineEdit*>(widget_of(box))->setText("typed");
  EXPECT_EQ(set_int(box, ep::kAlignment, 2), 0);
  EXPECT_EQ(set_int(box, ep::kMultiLine, 1), 1);
  const std::vector<uint8_t> state = save_state(box);
  rt::UnitObject* again = create_unit(units::kKindEditBox, state, parent.get(), {}, 0x16010004);
  ASSERT_NE(again, nullptr);
  ASSERT_NE(qobject_cast<QTextEdit*>(widget_of(again)), nullptr);
  EXPECT_EQ(get_text(again, ep::kContent), "typed");
  EXPECT_EQ(get_int(again, ep::kAlignment), 2);
  EXPECT_EQ(get_int(again, ep::kTextColour), units::colour(88, 48, 224));
}

TEST_F(UnitKinds, PictureBytesComeBackAsGiven) {
  rt::UnitObject* pic = make(start.poster, {4, 16, 163, 211}, 0x160121E2);
  ASSERT_NE(pic, nullptr);
  const rt::PropertyPair p = get(pic, units::picture_property::kPicture);
  EXPECT_EQ(std::vector<uint8_t>(p.bytes(), p.bytes() + p.second), start.poster_bytes);
  const std::vector<uint8_t> other = {1, 2, 0, 3};
  set_bytes(pic, units::picture_property::kPicture, other);
  const rt::PropertyPair q = get(pic, units::picture_property::kPicture);
  EXPECT_EQ(std::vector<uint8_t>(q.bytes(), q.bytes() + q.second), other);
  set(pic, units::picture_property::kPicture, rt::PropertyPair{});  // the empty byte set
  EXPECT_EQ(get(pic, units::picture_property::kPicture).second, 0u);
}

TEST_F(UnitKinds, CaptionsOfFramesButtonsAndLabels) {
  rt::UnitObject* frame = make(start.address_frame, {1, 241, 495, 231}, 0x160121DF);
  rt::UnitObject* button = make(start.search_button, {7, 208, 88, 32}, 0x16010003);
  rt::UnitObject* label = make(start.notice, {328, 208, 336, 24}, 0x16012204);
  ASSERT_TRUE(frame && button && label);
  EXPECT_EQ(qobject_cast<QGroupBox*>(widget_of(frame))->title(), QString::fromUtf16(u"下载地址"));
  EXPECT_EQ(get_text(button, units::button_property::kCaption), "搜索");
  EXPECT_EQ(qobject_cast<QAbstractButton*>(widget_of(button))->text(), QString::fromUtf16(u"搜索"));
  EXPECT_EQ(get_text(label, units::label_property::kCaption), "切勿商业化使用，本软件完全免费。");
  set_text(label, units::label_property::kCaption, "搜索中，请耐心等待......");
  EXPECT_EQ(get_text(label, units::label_property::kCaption), "搜索中，请耐心等待......");
  set_text(label, units::label_property::kCaption, nullptr);  // null is the empty text
  EXPECT_EQ(get_text(label, units::label_property::kCaption), "");
  EXPECT_TRUE(widget_of(label)->testAttribute(Qt::WA_TransparentForMouseEvents));
  EXPECT_FALSE(widget_of(label)->autoFillBackground());
}

TEST_F(UnitKinds, ButtonClickRaisesEventZero) {
  rt::UnitObject* button = make(start.search_button, {7, 208, 88, 32}, 0x16010003);
  ASSERT_NE(button, nullptr);
  qobject_cast<QAbstractButton*>(widget_of(button))->click();
  EXPECT_EQ(core.events, (std::vector<RaisedEvent>{{kWindow, 0x16010003, 0, {}}}));
}

TEST_F(UnitKinds, IndicesAKindDoesNotHaveChangeAndAnswerNothing) {
  rt::UnitObject* button = make(start.search_button, {7, 208, 88, 32}, 0x16010003);
  ASSERT_NE(button, nullptr);
  const std::vector<uint8_t> before = save_state(button);
  for (int32_t index : {14, 40, 7, -3}) {
    EXPECT_EQ(set_int(button, index, 1), 0) << index;
    const rt::PropertyPair p = get(button, index);
    EXPECT_EQ(p.first, 0u) << index;
    EXPECT_EQ(p.second, 0u) << index;
  }
  EXPECT_EQ(save_state(button), before);
}

TEST_F(UnitKinds, FontsCrossAsLogicalFontRecords) {
  rt::UnitObject* label = make(start.notice, {0, 0, 300, 30}, 0x16012204);
  ASSERT_NE(label, nullptr);
  const rt::PropertyPair own = get(label, units::label_property::kFont);
  ASSERT_EQ(own.second, sizeof(rt::LogicalFont)) << "the widget's font when none is set";
  const rt::LogicalFont font = units::make_font("Noto Sans CJK SC", -20, 700);
  set(label, units::label_property::kFont, rt::PropertyPair::data(&font, sizeof font));
  EXPECT_EQ(widget_of(label)->font().pixelSize(), 20);
  EXPECT_EQ(widget_of(label)->font().weight(), QFont::Bold);
  const rt::PropertyPair back = get(label, units::label_property::kFont);
  rt::LogicalFont read;
  std::memcpy(&read, back.bytes(), sizeof read);
  EXPECT_EQ(units::face_name(read), "Noto Sans CJK SC");
  EXPECT_EQ(read.height, -20);
  EXPECT_EQ(set(label, units::label_property::kFont, rt::PropertyPair::data(&font, 10)), 0)
      << "a short record is refused";
}

// --- The window kind ---

class WindowKind : public ::testing::Test {
 protected:
  FakeCore core;
  StartWindowValues start;
  rt::UnitObject* window = nullptr;
  QWidget* top = nullptr;

  void SetUp() override {
    window = create_unit(units::kKindWindow, start.window.encode(), nullptr, {50, 50, 678, 505},
                         0x06010000);
    ASSERT_NE(window, nullptr);
    core.add(window);
    top = widget_of(window);
  }
  void TearDown() override {
    if (!core.destroyed.empty())
      return;
    delete top;
    settle();
  }
  rt::UnitObject* child(const units::PropertyValues& v, uint32_t id) {
    rt::UnitObject* u = create_unit(v.kind(), v.encode(), top, {}, id);
    core.add(u);
    return u;
  }
};

TEST_F(WindowKind, TopLevelWithCaptionAndGeometry) {
  EXPECT_TRUE(top->isWindow());
  EXPECT_TRUE(top->isHidden()) << "the core shows it after events 0, 3 and 4";
  EXPECT_EQ(top->windowTitle(), QString::fromUtf16(u"影视资源搜索工具 V1.1"));
  EXPECT_EQ(top->size(), QSize(678, 505));
  EXPECT_EQ(top->pos(), QPoint(50, 50));
  EXPECT_EQ(get_text(window, units::window_property::kCaption), "影视资源搜索工具 V1.1");
  EXPECT_EQ(get_int(window, units::window_property::kAlwaysOnTop), 0);
}

TEST_F(WindowKind, ShowHideMoveResizeRaiseTheirEvents) {
  top->show();
  settle();
  EXPECT_EQ(core.event_numbers(0x06010000), std::vector<int32_t>{10})
      << "showing raises 10 and no second 3 or 4";
  core.events.clear();
  top->move(80, 90);
  top->resize(600, 400);
  settle();
  top->hide();
  EXPECT_EQ(core.event_numbers(0x06010000), (std::vector<int32_t>{3, 4, 11}));
}

TEST_F(WindowKind, AlwaysOnTopKeepsTheWindowShownWhereItWas) {
  top->show();
  settle();
  const QPoint where = top->pos();
  core.events.clear();
  EXPECT_EQ(set_int(window, units::window_property::kAlwaysOnTop, 1), 0);
  settle();
  EXPECT_TRUE(top->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(top->isVisible());
  EXPECT_EQ(top->pos(), where);
  EXPECT_EQ(get_int(window, units::window_property::kAlwaysOnTop), 1);
  EXPECT_TRUE(core.events.empty()) << "the flag exchange raises no show or hide events";
  set_int(window, units::window_property::kAlwaysOnTop, 0);
  EXPECT_FALSE(top->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
}

TEST_F(WindowKind, CloseRefusedByTheCoreKeepsTheWindow) {
  top->show();
  core.allow_close = false;
  EXPECT_FALSE(top->close());
  settle();
  EXPECT_EQ(core.close_questions, std::vector<int32_t>{static_cast<int32_t>(kWindow)});
  EXPECT_TRUE(top->isVisible());
  EXPECT_TRUE(core.destroyed.empty());
  EXPECT_EQ(window->native(), top);
}

TEST_F(WindowKind, ClosingDestroysTheWindowAndReportsEveryUnitThenTheWindow) {
  rt::UnitObject* a = child(start.search_button, 0x16010003);
  rt::UnitObject* b = child(start.results, 0x16010002);
  ASSERT_TRUE(a && b);
  bool units_alive_during_event_2 = false;
  core.handler = [&](const RaisedEvent& e, int32_t*) {
    if (e.event == rt::kEventDestroying) {
      units_alive_during_event_2 = a->native() != nullptr && b->native() != nullptr;
    }
    return false;
  };
  top->show();
  settle();
  core.events.clear();
  EXPECT_TRUE(top->close());
  settle();
  EXPECT_TRUE(units_alive_during_event_2);
  EXPECT_EQ(core.event_numbers(0x06010000), (std::vector<int32_t>{11, 2}));
  ASSERT_EQ(core.destroyed.size(), 3u);
  EXPECT_EQ(core.destroyed.back(), std::make_pair(kWindow, 0x06010000u)) << "the window last";
  const std::set<uint32_t> reported = {core.destroyed[0].second, core.destroyed[1].second};
  EXPECT_EQ(reported, (std::set<uint32_t>{0x16010003, 0x16010002}));
}

TEST_F(WindowKind, EscapeClosesOnlyWhenAsked) {
  top->show();
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(top, &escape);
  settle();
  EXPECT_TRUE(core.close_questions.empty());
  set_int(window, units::window_property::kEscapeCloses, 1);
  core.allow_close = false;
  QApplication::sendEvent(top, &escape);
  EXPECT_EQ(core.close_questions.size(), 1u);
}

}  // namespace
