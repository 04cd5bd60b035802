// Dialog template 103 and icon 129 as the DLL carries them, and the live
// dialog that the plug-in builds from them.
#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "tests/wine/panel_fixture.h"

namespace halvorn::wine_tests {
namespace {

struct TemplateItem {
  DWORD style = 0;
  DWORD extended_style = 0;
  int x = 0, y = 0, width = 0, height = 0;
  int id = 0;
  std::string window_class;
  std::string caption;
};

struct DialogTemplate {
  DWORD style = 0;
  DWORD extended_style = 0;
  int x = 0, y = 0, width = 0, height = 0;
  std::string menu, window_class, title;
  int point_size = 0;
  std::string font;
  std::vector<TemplateItem> items;
};

// Reads the resource's bytes in the platform's dialog template layouts.
class TemplateReader {
 public:
  TemplateReader(const BYTE* base, size_t size) : base_(base), size_(size) {}

  DialogTemplate Read() {
    DialogTemplate dialog;
    const bool extended = Peek(2) == 0xFFFF;
    DWORD count = 0;
    if (extended) {
      Skip(8);  // version, signature, help identifier
      dialog.extended_style = Dword();
      dialog.style = Dword();
    } else {
      dialog.style = Dword();
      dialog.extended_style = Dword();
    }
    count = Word();
    dialog.x = Short();
    dialog.y = Short();
    dialog.width = Short();
    dialog.height = Short();
    dialog.menu = NameOrOrdinal();
    dialog.window_class = NameOrOrdinal();
    dialog.title = String();
    if (dialog.style & DS_SETFONT) {
      dialog.point_size = Word();
      if (extended) Skip(4);  // weight, italic, character set
      dialog.font = String();
    }
    for (DWORD i = 0; i < count; ++i) {
      Align();
      TemplateItem item;
      if (extended) {
        Skip(4);  // help identifier
        item.extended_style = Dword();
        item.style = Dword();
      } else {
        item.style = Dword();
        item.extended_style = Dword();
      }
      item.x = Short();
      item.y = Short();
      item.width = Short();
      item.height = Short();
      item.id = extended ? static_cast<int>(Dword()) : static_cast<SHORT>(Word());
      item.window_class = NameOrOrdinal();
      item.caption = NameOrOrdinal();
      Skip(Word());  // creation data
      dialog.items.push_back(item);
    }
    EXPECT_LE(offset_, size_) << "the template runs past its resource";
    return dialog;
  }

 private:
  WORD Peek(size_t at) const { return *reinterpret_cast<const WORD*>(base_ + offset_ + at); }
  WORD Word() {
    const WORD value = Peek(0);
    offset_ += 2;
    return value;
  }
  SHORT Short() { return static_cast<SHORT>(Word()); }
  DWORD Dword() {
    const DWORD low = Word();
    return low | (static_cast<DWORD>(Word()) << 16);
  }
  void Skip(size_t bytes) { offset_ += bytes; }
  void Align() { offset_ = (offset_ + 3) & ~size_t{3}; }
  std::string String() {
    std::string text;
    for (WORD c = Word(); c != 0; c = Word()) text += c < 128 ? static_cast<char>(c) : '?';
    return text;
  }
  // Ordinals come back as "#<number>", with the predefined classes by name.
  std::string NameOrOrdinal() {
    if (Peek(0) == 0) {
      Word();
      return "";
    }
    if (Peek(0) == 0xFFFF) {
      Word();
      const WORD ordinal = Word();
      if (ordinal == 0x0080) return "Button";
      if (ordinal == 0x0082) return "Static";
      return "#" + std::to_string(ordinal);
    }
    return String();
  }

  const BYTE* base_;
  size_t size_;
  size_t offset_ = 0;
};

bool IsGroupBox(const std::string& window_class, DWORD style) {
  return _stricmp(window_class.c_str(), "Button") == 0 && (style & BS_TYPEMASK) == BS_GROUPBOX;
}

// The caption of the smallest group box whose rectangle holds `rect`; "" for none.
std::string EnclosingGroupBox(const std::vector<TemplateItem>& items, const TemplateItem& control) {
  std::string best;
  int best_area = 0;
  for (const TemplateItem& box : items) {
    if (&box == &control || !IsGroupBox(box.window_class, box.style)) continue;
    const bool holds = control.x >= box.x && control.y >= box.y && control.x + control.width <= box.x + box.width &&
                       control.y + control.height <= box.y + box.height;
    if (holds && (best.empty() || box.width * box.height < best_area)) {
      best = box.caption;
      best_area = box.width * box.height;
    }
  }
  return best;
}

class PanelTemplateTest : public PanelTest {
 protected:
  DialogTemplate ReadTemplate() {
    HRSRC resource = FindResourceA(plugin_->module(), MAKEINTRESOURCEA(103), MAKEINTRESOURCEA(5) /*RT_DIALOG*/);
    EXPECT_NE(resource, nullptr) << "no dialog template 103";
    if (resource == nullptr) return {};
    const auto* bytes = static_cast<const BYTE*>(LockResource(LoadResource(plugin_->module(), resource)));
    return TemplateReader(bytes, SizeofResource(plugin_->module(), resource)).Read();
  }

  // The dialog's child windows in z order, which is template order.
  std::vector<HWND> LiveControls() const {
    std::vector<HWND> children;
    for (HWND child = GetWindow(Dialog(), GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
      children.push_back(child);
    }
    return children;
  }

  // A live control as a template item: its rectangle in dialog units.
  TemplateItem LiveItem(HWND control) const {
    TemplateItem item;
    char text[128] = {};
    GetClassNameA(control, text, sizeof text);
    item.window_class = text;
    GetWindowTextA(control, text, sizeof text);
    item.caption = text;
    item.style = static_cast<DWORD>(GetWindowLongA(control, GWL_STYLE));
    item.id = static_cast<SHORT>(GetDlgCtrlID(control));
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, Dialog(), reinterpret_cast<POINT*>(&rect), 2);
    item.x = rect.left;
    item.y = rect.top;
    item.width = rect.right - rect.left;
    item.height = rect.bottom - rect.top;
    return item;
  }

  // Each of the four values converted on its own, as dialog creation does.
  RECT DialogUnitsToPixels(int x, int y, int width, int height) const {
    RECT rect{x, y, width, height};
    MapDialogRect(Dialog(), &rect);
    return rect;
  }

  // The identifiers of the controls in the live group of `id`.
  std::set<int> LiveGroupOf(int id) const {
    std::set<int> group;
    const HWND first = Control(id);
    HWND control = first;
    do {
      group.insert(static_cast<SHORT>(GetDlgCtrlID(control)));
      control = GetNextDlgGroupItem(Dialog(), control, FALSE);
    } while (control != nullptr && control != first && group.size() < 64);
    return group;
  }
};

TEST_F(PanelTemplateTest, TemplateIsAChildDialogOfItsSizeAndFontWithThirtyOneControls) {
  const DialogTemplate dialog = ReadTemplate();
  EXPECT_EQ(dialog.style, 0x40000040u);
  EXPECT_EQ(dialog.extended_style, 0u);
  EXPECT_EQ(dialog.x, 0);
  EXPECT_EQ(dialog.y, 0);
  EXPECT_EQ(dialog.width, 139);
  EXPECT_EQ(dialog.height, 343);
  EXPECT_EQ(dialog.menu, "");
  EXPECT_EQ(dialog.window_class, "");
  EXPECT_EQ(dialog.title, "");
  EXPECT_EQ(dialog.point_size, 8);
  EXPECT_EQ(dialog.font, "MS Sans Serif");
  EXPECT_EQ(dialog.items.size(), 31u);
}

TEST_F(PanelTemplateTest, TemplateHoldsEveryControlInOrderWithItsExactStyleCaptionAndRectangle) {
  const DialogTemplate dialog = ReadTemplate();
  ASSERT_EQ(dialog.items.size(), kExpectedControls.size());
  for (size_t i = 0; i < kExpectedControls.size(); ++i) {
    const ExpectedControl& expected = kExpectedControls[i];
    const TemplateItem& item = dialog.items[i];
    SCOPED_TRACE("template control " + std::to_string(i + 1) + " \"" + expected.caption + "\"");
    EXPECT_EQ(item.id, expected.id);
    EXPECT_EQ(item.window_class, expected.window_class);
    EXPECT_EQ(item.caption, expected.caption);
    EXPECT_EQ(item.style, expected.style) << std::hex << item.style;
    EXPECT_EQ(item.extended_style, 0u);
    EXPECT_EQ(item.x, expected.x);
    EXPECT_EQ(item.y, expected.y);
    EXPECT_EQ(item.width, expected.width);
    EXPECT_EQ(item.height, expected.height);
    EXPECT_EQ(EnclosingGroupBox(dialog.items, item), expected.inside);
  }
}

TEST_F(PanelTemplateTest, GroupMarksMakeOneRadioGroupForTheAttenuatorAndOneForTheRates) {
  const DialogTemplate dialog = ReadTemplate();
  ASSERT_EQ(dialog.items.size(), 31u);
  // The members of each group, from the marks.
  std::vector<int> group_of(dialog.items.size());
  int group = -1;
  for (size_t i = 0; i < dialog.items.size(); ++i) {
    if (i == 0 || (dialog.items[i].style & WS_GROUP)) ++group;
    group_of[i] = group;
  }
  auto radios_in_group_of = [&](int id) {
    std::set<int> radios;
    int wanted = -1;
    for (size_t i = 0; i < dialog.items.size(); ++i) {
      if (dialog.items[i].id == id) wanted = group_of[i];
    }
    for (size_t i = 0; i < dialog.items.size(); ++i) {
      if (group_of[i] == wanted && (dialog.items[i].style & BS_TYPEMASK) == BS_AUTORADIOBUTTON &&
          _stricmp(dialog.items[i].window_class.c_str(), "Button") == 0) {
        radios.insert(dialog.items[i].id);
      }
    }
    return radios;
  };
  EXPECT_EQ(radios_in_group_of(panel::kAttenuator0dB),
            (std::set<int>{panel::kAttenuator0dB, panel::kAttenuator0dB + 1, panel::kAttenuator0dB + 2,
                           panel::kAttenuator30dB}));
  std::set<int> rates;
  for (int id = panel::kFirstRateButton; id <= panel::kLastRateButton; ++id) rates.insert(id);
  EXPECT_EQ(radios_in_group_of(panel::kFirstRateButton), rates);
  // The rate group starts at the "s" label.
  EXPECT_EQ(dialog.items[19].caption, "s");
  EXPECT_EQ(group_of[19], group_of[22]);
  EXPECT_NE(group_of[18], group_of[19]);
}

TEST_F(PanelTemplateTest, IconHasA16ColourAndA256ColourImage) {
  HRSRC group = FindResourceA(plugin_->module(), MAKEINTRESOURCEA(129), MAKEINTRESOURCEA(14) /*RT_GROUP_ICON*/);
  ASSERT_NE(group, nullptr) << "no icon 129";
  const auto* bytes = static_cast<const BYTE*>(LockResource(LoadResource(plugin_->module(), group)));
  const auto word = [&](size_t at) { return static_cast<WORD>(bytes[at] | (bytes[at + 1] << 8)); };
  ASSERT_EQ(word(2), 1) << "not an icon group";
  ASSERT_EQ(word(4), 2) << "image count";
  struct Image {
    int width, height, colours, bits;
  };
  const Image expected[] = {{32, 32, 16, 4}, {48, 48, 0, 8}};
  for (int i = 0; i < 2; ++i) {
    const BYTE* entry = bytes + 6 + 14 * i;  // width, height, colours, reserved, planes, bits, size, id
    SCOPED_TRACE("image " + std::to_string(i));
    EXPECT_EQ(entry[0], expected[i].width);
    EXPECT_EQ(entry[1], expected[i].height);
    EXPECT_EQ(entry[2], expected[i].colours);
    EXPECT_EQ(word(6 + 14 * i + 6), expected[i].bits);
    // The image itself says the same.
    const WORD image_id = word(6 + 14 * i + 12);
    HRSRC image = FindResourceA(plugin_->module(), MAKEINTRESOURCEA(image_id), MAKEINTRESOURCEA(3) /*RT_ICON*/);
    ASSERT_NE(image, nullptr);
    const auto* header = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(plugin_->module(), image)));
    EXPECT_EQ(header->biWidth, expected[i].width);
    EXPECT_EQ(header->biHeight, 2 * expected[i].height);  // colour bits and mask
    EXPECT_EQ(header->biBitCount, expected[i].bits);
  }
}

TEST_F(PanelTemplateTest, LiveDialogHasEveryTemplateControlAsTheTemplateDefinesIt) {
  const std::vector<HWND> controls = LiveControls();
  ASSERT_EQ(controls.size(), kExpectedControls.size());
  std::vector<TemplateItem> live;
  for (HWND control : controls) live.push_back(LiveItem(control));
  for (size_t i = 0; i < kExpectedControls.size(); ++i) {
    const ExpectedControl& expected = kExpectedControls[i];
    SCOPED_TRACE("live control " + std::to_string(i + 1) + " \"" + expected.caption + "\"");
    EXPECT_EQ(live[i].id, expected.id);
    EXPECT_EQ(_stricmp(live[i].window_class.c_str(), expected.window_class), 0) << live[i].window_class;
    EXPECT_EQ(live[i].caption, expected.caption);
    // Nothing is marked yet, so no radio button has taken a tab stop.
    EXPECT_EQ(live[i].style, expected.style) << std::hex << live[i].style;
    const RECT pixels = DialogUnitsToPixels(expected.x, expected.y, expected.width, expected.height);
    EXPECT_EQ(live[i].x, pixels.left);
    EXPECT_EQ(live[i].y, pixels.top);
    EXPECT_EQ(live[i].width, pixels.right);
    EXPECT_EQ(live[i].height, pixels.bottom);
    EXPECT_EQ(EnclosingGroupBox(live, live[i]), expected.inside);
    if (expected.id != -1) {
      EXPECT_EQ(GetDlgItem(Dialog(), expected.id), controls[i]);
    }
  }
}

TEST_F(PanelTemplateTest, LiveDialogIsAVisibleChildAtTheFramesClientOriginInItsFont) {
  const HWND dialog = Dialog();
  ASSERT_NE(dialog, nullptr);
  // The system marks every dialog DS_3DLOOK.
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(dialog, GWL_STYLE)) & ~DS_3DLOOK, 0x40000040u | WS_VISIBLE);
  char class_name[16] = {};
  GetClassNameA(dialog, class_name, sizeof class_name);
  EXPECT_STREQ(class_name, "#32770");
  RECT window{};
  GetWindowRect(dialog, &window);
  POINT origin{0, 0};
  ClientToScreen(Frame(), &origin);
  EXPECT_EQ(window.left, origin.x);
  EXPECT_EQ(window.top, origin.y);
  const RECT size = DialogUnitsToPixels(0, 0, 139, 343);
  EXPECT_EQ(window.right - window.left, size.right);
  EXPECT_EQ(window.bottom - window.top, size.bottom);
  LOGFONTA font{};
  ASSERT_NE(GetObjectA(reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0)), sizeof font, &font), 0);
  EXPECT_STREQ(font.lfFaceName, "MS Sans Serif");
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(font.lfHeight, -MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72));
  ReleaseDC(nullptr, screen);
}

TEST_F(PanelTemplateTest, LiveRadioGroupsMatchTheTemplatesGroups) {
  const std::set<int> attenuator = LiveGroupOf(panel::kAttenuator0dB);
  for (int id = panel::kAttenuator0dB; id <= panel::kAttenuator30dB; ++id) EXPECT_TRUE(attenuator.count(id)) << id;
  for (int id = panel::kFirstRateButton; id <= panel::kLastRateButton; ++id) EXPECT_FALSE(attenuator.count(id)) << id;
  const std::set<int> rates = LiveGroupOf(panel::kFirstRateButton);
  for (int id = panel::kFirstRateButton; id <= panel::kLastRateButton; ++id) EXPECT_TRUE(rates.count(id)) << id;
  for (int id = panel::kAttenuator0dB; id <= panel::kAttenuator30dB; ++id) EXPECT_FALSE(rates.count(id)) << id;
}

TEST_F(PanelTemplateTest, BeforeOpenEveryControlIsAsTheTemplateLeavesIt) {
  for (const ExpectedControl& expected : kExpectedControls) {
    if (expected.id == -1) continue;
    SCOPED_TRACE(expected.id);
    EXPECT_FALSE(Checked(expected.id));
    EXPECT_TRUE(Enabled(expected.id));
    EXPECT_EQ(Text(expected.id), expected.caption);
  }
}

TEST_F(PanelTemplateTest, AfterInitAndOpenTheControlsShowTheInitialSettings) {
  OpenReceiver();
  const std::set<int> marked{panel::kAttenuator0dB, panel::kPreselector, panel::kAdcDither, panel::kFirstRateButton};
  for (const ExpectedControl& expected : kExpectedControls) {
    if (expected.id == -1) continue;
    SCOPED_TRACE(expected.id);
    const bool is_check_or_radio = (expected.style & BS_TYPEMASK) == BS_AUTOCHECKBOX ||
                                   (expected.style & BS_TYPEMASK) == BS_AUTORADIOBUTTON;
    if (std::string(expected.window_class) == "Button" && is_check_or_radio) {
      EXPECT_EQ(Checked(expected.id), marked.count(expected.id) == 1);
    }
    EXPECT_EQ(Enabled(expected.id), expected.id != panel::kStopButton);
  }
  EXPECT_EQ(Text(panel::kFileSizeField), " ");
  EXPECT_EQ(Text(panel::kFileNameField), " ");
  EXPECT_EQ(Text(panel::kRecordingTimeField), " ");
  // Marking a radio button gives it the tab stop; nothing else changes.
  for (HWND control : LiveControls()) {
    const int id = static_cast<SHORT>(GetDlgCtrlID(control));
    for (const ExpectedControl& expected : kExpectedControls) {
      if (expected.id != id || id == -1) continue;
      const DWORD style = static_cast<DWORD>(GetWindowLongA(control, GWL_STYLE)) & ~WS_DISABLED;
      const DWORD tab_stop = (marked.count(id) && (expected.style & BS_TYPEMASK) == BS_AUTORADIOBUTTON) ? WS_TABSTOP : 0;
      EXPECT_EQ(style, expected.style | tab_stop) << id;
    }
  }
}

}  // namespace
}  // namespace halvorn::wine_tests
