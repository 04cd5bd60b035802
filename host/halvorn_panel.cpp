#include "host/halvorn_panel.h"

#include <cstdio>
#include <vector>

#include "host/bmp_header.h"
#include "host/extio_plugin.h"

namespace halvorn::host {
namespace {

constexpr const char* kPanelCaption = "HALVORN SDR";

struct Search {
  HMODULE module;
  HWND found;
};

BOOL CALLBACK VisitTopLevel(HWND window, LPARAM search_pointer) {
  auto& search = *reinterpret_cast<Search*>(search_pointer);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != GetCurrentProcessId()) return TRUE;
  if (reinterpret_cast<HMODULE>(GetWindowLongPtrA(window, GWLP_HINSTANCE)) != search.module) return TRUE;
  char caption[32] = {};
  GetWindowTextA(window, caption, sizeof caption);
  if (std::string(caption) != kPanelCaption) return TRUE;
  search.found = window;
  return FALSE;
}

}  // namespace

std::optional<HalvornPanel> HalvornPanel::Find(HMODULE plugin_module) {
  Search search{plugin_module, nullptr};
  EnumWindows(&VisitTopLevel, reinterpret_cast<LPARAM>(&search));
  if (search.found == nullptr || GetWindow(search.found, GW_CHILD) == nullptr) return std::nullopt;
  return HalvornPanel(search.found);
}

std::optional<HalvornPanel> HalvornPanel::Await(HMODULE plugin_module, DWORD timeout_ms) {
  const ULONGLONG deadline = GetTickCount64() + timeout_ms;
  for (;;) {
    if (auto panel = Find(plugin_module)) return panel;
    if (GetTickCount64() >= deadline) return std::nullopt;
    PumpMessagesFor(10);
  }
}

HWND HalvornPanel::Control(int id) const { return GetDlgItem(Dialog(), id); }

bool HalvornPanel::Enabled(int id) const {
  const HWND control = Control(id);
  return control != nullptr && IsWindowEnabled(control);
}

bool HalvornPanel::Checked(int id) const {
  const HWND control = Control(id);
  return control != nullptr && SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

std::string HalvornPanel::Text(int id) const {
  char text[256] = {};
  if (const HWND control = Control(id)) GetWindowTextA(control, text, sizeof text);
  return text;
}

bool HalvornPanel::Click(int id, std::string* why) const {
  const HWND control = Control(id);
  const char* problem = control == nullptr              ? "is not on the panel"
                        : !IsWindowVisible(control)      ? "is not shown"
                        : !IsWindowEnabled(control)      ? "is disabled"
                                                         : nullptr;
  if (problem != nullptr) {
    if (why) *why = problem;
    return false;
  }
  // Wine would click a disabled or hidden button too; Windows would not, and
  // neither would a user: hence the checks above.
  SendMessageA(control, BM_CLICK, 0, 0);
  return true;
}

void HalvornPanel::Redraw() const {
  RedrawWindow(frame_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

bool HalvornPanel::SavePicture(const std::string& path, std::string* error) const {
  RECT rect{};
  if (!IsWindowVisible(frame_) || IsIconic(frame_) || !GetWindowRect(frame_, &rect)) {
    if (error) *error = "the panel is not shown";
    return false;
  }
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) {
    if (error) *error = "the panel has no size";
    return false;
  }

  // The screen's pixels under the frame: the panel stays on top of every
  // other window, so that is what the user sees.
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // bottom up, as the file stores it
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  const HDC screen = GetDC(nullptr);
  const HDC memory = CreateCompatibleDC(screen);
  void* bits = nullptr;
  const HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool copied = false;
  if (memory != nullptr && bitmap != nullptr) {
    const HGDIOBJ previous = SelectObject(memory, bitmap);
    copied = BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY | CAPTUREBLT) != 0;
    GdiFlush();
    SelectObject(memory, previous);
  }
  const DWORD copy_error = GetLastError();

  bool saved = false;
  if (copied) {
    const auto header = EncodeBmpHeader(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height));
    const std::size_t pixel_bytes = static_cast<std::size_t>(BmpRowBytes(static_cast<std::uint32_t>(width))) * height;
    if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
      saved = std::fwrite(header.data(), 1, header.size(), file) == header.size() &&
              std::fwrite(bits, 1, pixel_bytes, file) == pixel_bytes;
      saved = std::fclose(file) == 0 && saved;
      if (!saved && error) *error = "cannot write " + path;
    } else if (error) {
      *error = "cannot create " + path;
    }
  } else if (error) {
    *error = "cannot copy the screen (" + SystemErrorText(copy_error) + ")";
  }
  if (bitmap != nullptr) DeleteObject(bitmap);
  if (memory != nullptr) DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return saved;
}

}  // namespace halvorn::host
