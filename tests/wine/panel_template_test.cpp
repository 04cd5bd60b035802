// Dialog template 103 and icon 129 as the DLL carries them, and the live
// dialog that the plug-in builds from them.
#include <windows.h>

#include <map>
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

bool IsGroupBox(const TemplateItem& item) {
  return _stricmp(item.window_class.c_str(), "Button") == 0 && (item.style & BS_TYPEMASK) == BS_GROUPBOX;
}

bool Holds(const TemplateItem& outer, const TemplateItem& inner) {
  return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.width <= outer.x + outer.width &&
         inner.y + inner.height <= outer.y + outer.height;
}

bool Overlap(const TemplateItem& a, const TemplateItem& b) {
  return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

// The caption of the smallest group box whose rectangle holds `rect`; "" for none.
std::string EnclosingGroupBox(const std::vector<TemplateItem>& items, const TemplateItem& control) {
  std::string best;
  int best_area = 0;
  for (const TemplateItem& box : items) {
    if (&box == &control || !IsGroupBox(box)) continue;
    if (Holds(box, control) && (best.empty() || box.width * box.height < best_area)) {
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
  EXPECT_EQ(std::vector<int>({dialog.x, dialog.y, dialog.width, dialog.height}), std::vector<int>({0, 0, 139, 343}));
  EXPECT_EQ(dialog.menu + dialog.window_class + dialog.title, "") << "no menu, class or title";
  EXPECT_EQ(dialog.point_size, 8);
  EXPECT_EQ(dialog.font, "MS Sans Serif");
  EXPECT_EQ(dialog.items.size(), 31u);
}

TEST_F(PanelTemplateTest, TemplateHoldsEveryControlInOrderWithItsKindCaptionAndGroupBox) {
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
    EXPECT_EQ(EnclosingGroupBox(dialog.items, item), expected.inside);
  }
}

// Every control lies on the dialog, two controls meet only where a group box
// holds the other whole, and the radio buttons and check boxes read top to
// bottom in identifier order.
TEST_F(PanelTemplateTest, ControlsLieOnTheDialogWithoutOverlapsInReadingOrder) {
  const DialogTemplate dialog = ReadTemplate();
  const TemplateItem face{0, 0, 0, 0, dialog.width, dialog.height, 0, "", "the dialog"};
  std::map<int, TemplateItem> by_id;
  for (size_t i = 0; i < dialog.items.size(); ++i) {
    const TemplateItem& a = dialog.items[i];
    EXPECT_TRUE(Holds(face, a)) << a.caption;
    by_id[a.id] = a;
    for (size_t j = i + 1; j < dialog.items.size(); ++j) {
      const TemplateItem& b = dialog.items[j];
      const bool nested = (IsGroupBox(a) && Holds(a, b)) || (IsGroupBox(b) && Holds(b, a));
      EXPECT_TRUE(nested || !Overlap(a, b)) << "\"" << a.caption << "\" and \"" << b.caption << "\"";
    }
  }
  const auto above = [&](int upper, int lower) { return by_id[upper].y + by_id[upper].height <= by_id[lower].y; };
  for (int id = panel::kAttenuator0dB; id < panel::kAttenuator30dB; ++id) EXPECT_TRUE(above(id, id + 1)) << id;
  for (int id = panel::kFirstRateButton; id < panel::kLastRateButton; ++id) EXPECT_TRUE(above(id, id + 1)) << id;
  EXPECT_TRUE(above(panel::kPreselector, panel::kAdcPreamp) && above(panel::kAdcPreamp, panel::kAdcDither));
}

TEST_F(PanelTemplateTest, GroupMarksMakeOneRadioGroupForTheAttenuatorAndOneForTheRates) {
  const DialogTemplate dialog = ReadTemplate();
  // The radio buttons of each group, under the caption of the item that starts it.
  std::map<std::string, std::set<int>> radios;
  std::string group;
  for (const TemplateItem& item : dialog.items) {
    if (item.style & WS_GROUP) group = item.caption;
    if (_stricmp(item.window_class.c_str(), "Button") == 0 && (item.style & BS_TYPEMASK) == BS_AUTORADIOBUTTON) {
      radios[group].insert(item.id);
    }
  }
  std::set<int> rates;
  for (int id = panel::kFirstRateButton; id <= panel::kLastRateButton; ++id) rates.insert(id);
  // The rate group starts at the "s" label.
  EXPECT_EQ(radios, (std::map<std::string, std::set<int>>{
                        {"Attenuator", {panel::kAttenuator0dB, panel::kAttenuator0dB + 1, panel::kAttenuator0dB + 2,
                                        panel::kAttenuator30dB}}, {"s", rates}}));
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
  const std::vector<TemplateItem> items = ReadTemplate().items;
  const std::vector<HWND> controls = LiveControls();
  ASSERT_EQ(controls.size(), items.size());
  for (size_t i = 0; i < items.size(); ++i) {
    const TemplateItem live = LiveItem(controls[i]);
    SCOPED_TRACE("live control " + std::to_string(i + 1) + " \"" + items[i].caption + "\"");
    EXPECT_EQ(live.id, items[i].id);
    EXPECT_EQ(_stricmp(live.window_class.c_str(), items[i].window_class.c_str()), 0) << live.window_class;
    EXPECT_EQ(live.caption, items[i].caption);
    // Nothing is marked yet, so no radio button has taken a tab stop.
    EXPECT_EQ(live.style, items[i].style) << std::hex << live.style;
    const RECT pixels = DialogUnitsToPixels(items[i].x, items[i].y, items[i].width, items[i].height);
    EXPECT_EQ(std::vector<LONG>({live.x, live.y, live.width, live.height}),
              std::vector<LONG>({pixels.left, pixels.top, pixels.right, pixels.bottom}));
    if (live.id != -1) {
      EXPECT_EQ(GetDlgItem(Dialog(), live.id), controls[i]);
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
    const DWORD kind = std::string(expected.window_class) == "Button" ? expected.style & BS_TYPEMASK : ~0u;
    const bool radio = kind == BS_AUTORADIOBUTTON;
    if (radio || kind == BS_AUTOCHECKBOX) {
      EXPECT_EQ(Checked(expected.id), marked.count(expected.id) == 1);
    }
    EXPECT_EQ(Enabled(expected.id), expected.id != panel::kStopButton);
    // Marking a radio button gives it the tab stop; nothing else changes.
    const DWORD style = static_cast<DWORD>(GetWindowLongA(Control(expected.id), GWL_STYLE)) & ~WS_DISABLED;
    EXPECT_EQ(style, expected.style | (radio && marked.count(expected.id) ? WS_TABSTOP : 0));
  }
  EXPECT_EQ(Text(panel::kFileSizeField), " ");
  EXPECT_EQ(Text(panel::kFileNameField), " ");
  EXPECT_EQ(Text(panel::kRecordingTimeField), " ");
}

}  // namespace
}  // namespace halvorn::wine_tests
