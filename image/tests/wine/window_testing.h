// Driving the windows of other processes from a test, as a person would:
// finding dialogs and message boxes, reading control texts (also those a
// control keeps in its own process), and pictures of windows as PNG files.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace vrt::testing {

// A top-level dialog of any process: by caption (null: any) and a control
// it holds, or (id 0xFFFF, a message box's text) by the start of that
// control's text. Null after `timeout`.
HWND WaitForDialog(const char* caption, int controlId, const std::string& textPrefix = "",
                   std::chrono::milliseconds timeout = std::chrono::seconds(20));

// A visible top-level window of a class, null after `timeout`.
HWND WaitForWindowOfClass(const char* className, std::chrono::milliseconds timeout = std::chrono::seconds(30));

// WM_GETTEXT crosses processes; GetWindowText would not ask an edit control.
std::string ControlText(HWND dialog, int id);

// Texts that controls copy into a buffer of the caller's. A common
// control's message (WM_USER and above) gets a buffer placed in the
// control's process and read back from there; the system carries its own
// messages' buffers.
std::string RemoteText(HWND control, UINT message, WPARAM wParam);
// A list view's cell text, and an item's state bits.
std::string ListViewText(HWND list, int item, int column);

// PNG of 24-bit rows.
void WritePng(const std::string& path, int width, int height, const std::vector<std::uint8_t>& rgbRows);

// What the screen shows of `window`, as build/<preset>/<folder>/<name>.png.
void Screenshot(const std::string& folder, HWND window, const std::string& name);

}  // namespace vrt::testing
