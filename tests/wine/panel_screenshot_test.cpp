// A picture of the panel as the X server shows it, cut to the frame's
// rectangle. scripts/panel-screenshot.sh keeps it as docs/panel.png.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "tests/wine/panel_fixture.h"

namespace halvorn::wine_tests {
namespace {

// Width and height from a PNG file's header chunk; 0, 0 when it is none.
std::pair<long, long> PngSize(const std::string& windows_path) {
  std::ifstream in(windows_path, std::ios::binary);
  unsigned char header[24] = {};
  in.read(reinterpret_cast<char*>(header), sizeof header);
  static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (!in || std::memcmp(header, kSignature, 8) != 0 || std::memcmp(header + 12, "IHDR", 4) != 0) return {0, 0};
  const auto big_endian = [&](int at) {
    return static_cast<long>(header[at]) << 24 | header[at + 1] << 16 | header[at + 2] << 8 | header[at + 3];
  };
  return {big_endian(16), big_endian(20)};
}

using PanelScreenshotTest = PanelTest;

TEST_F(PanelScreenshotTest, TheScreenShowsThePanelAtTheFramesSize) {
  OpenReceiver();
  ASSERT_EQ(plugin_->SetHWLO(7050000), 0);
  RedrawWindow(Frame(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  host::PumpMessagesFor(300);
  RECT frame{};
  GetWindowRect(Frame(), &frame);

  // HALVORN_PANEL_SCREENSHOT names the Unix path to keep it at.
  const char* wanted = std::getenv("HALVORN_PANEL_SCREENSHOT");
  const std::string unix_path = wanted != nullptr && *wanted != '\0'
                                    ? wanted
                                    : "/tmp/halvorn-panel-" + std::to_string(GetCurrentProcessId()) + ".png";
  std::string windows_path = "Z:" + unix_path;
  for (char& c : windows_path) {
    if (c == '/') c = '\\';
  }
  DeleteFileA(windows_path.c_str());
  const std::string geometry = std::to_string(frame.right - frame.left) + "x" +
                               std::to_string(frame.bottom - frame.top) + "+" + std::to_string(frame.left) + "+" +
                               std::to_string(frame.top);
  ASSERT_TRUE(RunUnixProgram("/usr/bin/import -window root -crop " + geometry + " +repage '" + unix_path + "'"));

  const auto [width, height] = PngSize(windows_path);
  EXPECT_EQ(width, frame.right - frame.left);
  EXPECT_EQ(height, frame.bottom - frame.top);
  if (wanted == nullptr || *wanted == '\0') DeleteFileA(windows_path.c_str());
}

}  // namespace
}  // namespace halvorn::wine_tests
