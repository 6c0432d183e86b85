// The main window as it comes up: place, size, every control, Tab order, tooltips, the
// link's cursor, and the close box.
#include <cstddef>
#include <sstream>

#include "tests/ui/tool_test.h"

namespace {

constexpr int kWidth = 332;
constexpr int kHeight = 213;

struct ExpectedControl {
  const char* className;
  std::string text;
  DWORD style;
  DWORD exStyle;
  RECT rect;  // left, top, right, bottom in client coordinates
  int id;
};

RECT At(int x, int y, int width, int height) {
  return RECT{x, y, x + width, y + height};
}

std::string Describe(const RECT& rect) {
  std::ostringstream text;
  text << "(" << rect.left << ", " << rect.top << ") " << rect.right - rect.left << " x "
       << rect.bottom - rect.top;
  return text.str();
}

std::string Hex(DWORD value) {
  std::ostringstream text;
  text << "0x" << std::hex << std::uppercase << value;
  return text.str();
}

// A list box without LBS_NOINTEGRALHEIGHT snaps its height to whole items when it is
// created; the same box made here shows what that gives on this system.
RECT SnappedListBox(const RECT& requested, DWORD style, DWORD exStyle) {
  HWND parent = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 400, 400, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
  HWND list =
      CreateWindowExA(exStyle, "LISTBOX", "", style & ~WS_VISIBLE, requested.left, requested.top,
                      requested.right - requested.left, requested.bottom - requested.top, parent,
                      nullptr, GetModuleHandleA(nullptr), nullptr);
  const RECT snapped = RectInParent(list);
  DestroyWindow(parent);
  return snapped;
}

std::vector<ExpectedControl> ExpectedControls(const WINDOWINFO& info) {
  const int clientWidth = info.rcClient.right - info.rcClient.left;
  const int clientHeight = info.rcClient.bottom - info.rcClient.top;
  const int bx = static_cast<int>(info.cxWindowBorders);
  const int by = static_cast<int>(info.cyWindowBorders);
  const int separatorWidth = clientWidth - bx;
  const int separatorHeight = clientHeight - (by + 53);
  // Wine gives etched lines WS_EX_STATICEDGE, one pixel on each side.
  const DWORD etchedEx = WS_EX_STATICEDGE;
  const RECT horizontal = At(bx, 52, separatorWidth + 2, 0 + 2);
  const RECT vertical = At(separatorWidth / 2, by + 53, 0 + 2, separatorHeight + 2);
  // An empty list box has no scroll bar until it needs one.
  const DWORD listStyle = 0x50210400 & ~WS_VSCROLL;
  return {
      {"Static", "Path:", 0x50000000, 0, At(8, 8, 117, 14), 0},
      {"Edit", "", 0x50010880, 0x200, At(8, 22, 117, 22), 0},
      {"Button", "...", 0x50010000, 0, At(130, 21, 23, 23), 10},
      {"Static", "Save to:", 0x50000000, 0, At(172, 8, 117, 14), 0},
      {"Edit", "", 0x50010880, 0x200, At(172, 22, 117, 22), 0},
      {"Button", "...", 0x50010000, 0, At(294, 21, 23, 23), 11},
      {"Static", "Files:", 0x50000000, 0, At(8, 62, 145, 14), 0},
      {"ListBox", "", listStyle, 0x200, SnappedListBox(At(8, 76, 145, 145), 0x50210400, 0x200), 14},
      {"Static", "Current file:", 0x50000000, 0, At(172, 62, 145, 14), 0},
      {"msctls_progress32", "", 0x50000001, 0, At(172, 76, 145, 17), 0},
      {"Static", "Total:", 0x50000000, 0, At(172, 102, 145, 14), 0},
      {"msctls_progress32", "", 0x50000001, 0, At(172, 116, 145, 17), 0},
      {"Button", "Extract", 0x50010000, 0, At(172, 142, 68, 26), 12},
      {"Static", "", 0x50000010, etchedEx, horizontal, 0},
      {"Static", "", 0x50000011, etchedEx, vertical, 0},
      {"Static", "PWRBADGE", 0x5000000E, 0, At(245, 142, 72, 26), 15},
      {"Static", "Web Site: http://wza.example", 0x50000001, 0, At(170, 180, 150, 16), 0},
      {"Static", "", 0x50000012, 0, At(0, 0, kWidth - 2 * bx, kHeight - 2 * by), 0},
  };
}

// Moves the mouse to a point of the client area and returns the cursor the tool sets.
HCURSOR CursorAt(const Tool& tool, const RECT& client, POINT point) {
  MoveMouse(client.left + point.x, client.top + point.y);
  Sleep(50);
  CURSORINFO info{};
  info.cbSize = sizeof info;
  HCURSOR cursor = nullptr;
  // Settled once two readings a little apart agree.
  WaitUntil([&] {
    GetCursorInfo(&info);
    HCURSOR first = info.hCursor;
    Sleep(100);
    GetCursorInfo(&info);
    cursor = info.hCursor;
    return first == cursor && IsRunning(tool);
  });
  return cursor;
}

using MainWindowTest = ToolTest;

TEST_F(MainWindowTest, IsCentredWithItsTitleClassAndFixedSize) {
  EXPECT_EQ(TextOf(tool.window), "Vexmoor WZA Unpacker v1.0 by Quorvel");
  EXPECT_EQ(ClassOf(tool.window), "Game_UnArch20913173");
  ASSERT_EQ(GetSystemMetrics(SM_CXSCREEN), 1024) << "the checks assume a 1024 x 768 screen";
  ASSERT_EQ(GetSystemMetrics(SM_CYSCREEN), 768);

  WINDOWINFO info{};
  info.cbSize = sizeof info;
  ASSERT_TRUE(GetWindowInfo(tool.window, &info));
  const int caption = GetSystemMetrics(SM_CYCAPTION);
  EXPECT_EQ(Describe(info.rcWindow), Describe(At(346, 277, kWidth, kHeight + caption)));
  // WS_OVERLAPPED | WS_VISIBLE | WS_SYSMENU | WS_MINIMIZEBOX; the system adds WS_CAPTION
  // and WS_CLIPSIBLINGS to an overlapped window, and the window edge to its ex-style.
  EXPECT_EQ(Hex(info.dwStyle), Hex(0x100A0000 | WS_CAPTION | WS_CLIPSIBLINGS));
  EXPECT_EQ(Hex(info.dwExStyle & ~WS_EX_WINDOWEDGE), Hex(0));
  EXPECT_EQ(GetParent(tool.window), nullptr);
  EXPECT_EQ(GetMenu(tool.window), nullptr);
  // Of the class, only its style can be read from another process.
  EXPECT_EQ(GetClassLongA(tool.window, GCL_STYLE), static_cast<DWORD>(CS_VREDRAW | CS_HREDRAW));
}

TEST(ToolResources, HoldTheIconAndThe72By26Badge) {
  HMODULE exe = LoadLibraryExA(ToolPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_TRUE(exe) << ToolPath();
  EXPECT_TRUE(FindResourceA(exe, "APPICON", MAKEINTRESOURCEA(14))) << "no icon group APPICON";
  HICON icon = static_cast<HICON>(LoadImageA(exe, "APPICON", IMAGE_ICON, 32, 32, 0));
  EXPECT_TRUE(icon) << "APPICON has no 32 x 32 image";
  if (icon) DestroyIcon(icon);
  HRSRC badge = FindResourceA(exe, "PWRBADGE", MAKEINTRESOURCEA(2));
  ASSERT_TRUE(badge) << "no bitmap PWRBADGE";
  const auto* header = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(exe, badge)));
  ASSERT_TRUE(header);
  EXPECT_EQ(header->biWidth, 72);
  EXPECT_EQ(header->biHeight, 26);
  EXPECT_EQ(header->biBitCount, 8) << "a 256-colour badge";
  FreeLibrary(exe);
}

TEST_F(MainWindowTest, HasEveryControlInCreationOrderWithItsClassTextStyleIdAndPlace) {
  WINDOWINFO info{};
  info.cbSize = sizeof info;
  ASSERT_TRUE(GetWindowInfo(tool.window, &info));
  const std::vector<ExpectedControl> expected = ExpectedControls(info);
  const std::vector<Control> actual = ChildControls(tool.window);
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE("control " + std::to_string(i + 1) + " (" + expected[i].className + " \"" +
                 expected[i].text + "\")");
    EXPECT_STRCASEEQ(actual[i].className.c_str(), expected[i].className);
    EXPECT_EQ(actual[i].text, expected[i].text);
    EXPECT_EQ(Hex(actual[i].style), Hex(expected[i].style));
    EXPECT_EQ(Hex(actual[i].exStyle), Hex(expected[i].exStyle));
    EXPECT_EQ(Describe(actual[i].rect), Describe(expected[i].rect));
    EXPECT_EQ(actual[i].id, expected[i].id);
  }
}

TEST_F(MainWindowTest, FramesAndLinesFollowTheMeasuredClientArea) {
  // On this system: a 326 x 207 client area with 3-pixel borders.
  WINDOWINFO info{};
  info.cbSize = sizeof info;
  ASSERT_TRUE(GetWindowInfo(tool.window, &info));
  EXPECT_EQ(info.rcClient.right - info.rcClient.left, 326);
  EXPECT_EQ(info.rcClient.bottom - info.rcClient.top, 207);
  EXPECT_EQ(info.cxWindowBorders, 3u);
  EXPECT_EQ(info.cyWindowBorders, 3u);
  const std::vector<Control> actual = ChildControls(tool.window);
  ASSERT_EQ(actual.size(), 18u);
  EXPECT_EQ(Describe(actual[13].rect), Describe(At(3, 52, 323 + 2, 0 + 2)));
  EXPECT_EQ(Describe(actual[14].rect), Describe(At(161, 56, 0 + 2, 151 + 2)));
  EXPECT_EQ(Describe(actual[17].rect), Describe(At(0, 0, 326, 207)));
}

TEST_F(MainWindowTest, BadgeShowsItsBitmapAndBarsStartEmpty) {
  HWND badge = GetDlgItem(tool.window, 15);
  ASSERT_TRUE(badge);
  EXPECT_NE(SendMessageW(badge, STM_GETIMAGE, IMAGE_BITMAP, 0), 0) << "PWRBADGE not loaded";
  for (HWND bar : {controls.currentBar, controls.totalBar}) {
    EXPECT_EQ(ProgressPosition(bar), 0);
    EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, TRUE, 0), 0);
    EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, FALSE, 0), 100);
  }
  EXPECT_TRUE(ListBoxItems(controls.fileList).empty());
  EXPECT_TRUE(IsWindowEnabled(controls.pathButton));
  EXPECT_TRUE(IsWindowEnabled(controls.saveToButton));
}

TEST_F(MainWindowTest, TabMovesThroughTheSixControlsInCreationOrder) {
  ASSERT_TRUE(WaitUntil([&] { return FocusOf(tool) == controls.pathEdit; }))
      << "the path edit does not have the focus at start";
  const std::vector<HWND> order = {controls.pathButton,    controls.saveToEdit,
                                   controls.saveToButton,  controls.fileList,
                                   controls.extractButton, controls.pathEdit};
  for (size_t i = 0; i < order.size(); ++i) {
    HWND from = FocusOf(tool);
    PostKey(from, VK_TAB);
    ASSERT_TRUE(WaitUntil([&] { return FocusOf(tool) == order[i]; }, 5000))
        << "Tab " << i + 1 << " moved the focus to " << ClassOf(FocusOf(tool)) << " \""
        << TextOf(FocusOf(tool)) << "\" id " << GetDlgCtrlID(FocusOf(tool));
  }
}

// The tool registers its tooltips with the record of its own architecture: 44 bytes in the
// 32-bit build, 64 in the 64-bit one. With the wrong size the control registers nothing,
// which the count below catches.
constexpr size_t kToolRecordSize = offsetof(TTTOOLINFOA, lParam) + sizeof(LPARAM);
static_assert(kToolRecordSize == (sizeof(void*) == 8 ? 64 : 44), "tooltip record size");

TEST_F(MainWindowTest, ButtonsHaveTheirTooltips) {
  std::vector<ToolTip> tips;
  ASSERT_TRUE(WaitUntil([&] { return (tips = ToolTipsOf(tool)).size() >= 3; }));
  ASSERT_EQ(tips.size(), 3u);
  const std::vector<std::pair<HWND, std::string>> expected = {
      {controls.pathButton, "Select files"},
      {controls.saveToButton, "Select path for output files"},
      {controls.extractButton, "Start Extracting"}};
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE("tool " + std::to_string(i));
    EXPECT_EQ(tips[i].flags, static_cast<UINT>(TTF_IDISHWND | TTF_SUBCLASS));
    EXPECT_EQ(tips[i].owner, tool.window);
    EXPECT_EQ(reinterpret_cast<HWND>(tips[i].id), expected[i].first);
    EXPECT_EQ(tips[i].text, expected[i].second);
  }
}

TEST_F(MainWindowTest, CursorIsTheHandOverTheWebLinkAndTheArrowElsewhere) {
  RECT client{};
  GetClientRect(tool.window, &client);
  MapWindowPoints(tool.window, nullptr, reinterpret_cast<POINT*>(&client), 2);
  SetForegroundWindow(tool.window);
  const RECT link = RectInParent(controls.webLink);
  const POINT onLink{(link.left + link.right) / 2, (link.top + link.bottom) / 2};

  // The arrow is the button class's cursor; the edit has its own I-beam.
  const HCURSOR arrow = CursorAt(tool, client, POINT{190, 150});  // Extract button
  const HCURSOR beam = CursorAt(tool, client, POINT{30, 30});     // path edit
  const HCURSOR hand = CursorAt(tool, client, onLink);
  EXPECT_NE(hand, arrow);
  EXPECT_NE(hand, beam);
  EXPECT_NE(arrow, beam);
  EXPECT_EQ(CursorAt(tool, client, POINT{20, 12}), arrow) << "over the label Path:";
  EXPECT_EQ(CursorAt(tool, client, POINT{onLink.x, link.bottom}), arrow) << "below the link";
  EXPECT_EQ(CursorAt(tool, client, POINT{link.left + 2, link.top + 2}), hand) << "link corner";
  EXPECT_EQ(CursorAt(tool, client, POINT{280, 155}), arrow) << "over the badge";
  EXPECT_EQ(CursorAt(tool, client, POINT{onLink.x, link.bottom - 1}), hand) << "link bottom";
  EXPECT_EQ(CursorAt(tool, client, POINT{163, 120}), arrow) << "over the vertical line";
  EXPECT_EQ(CursorAt(tool, client, POINT{link.left - 1, onLink.y}), arrow) << "left of it";
}

TEST_F(MainWindowTest, CloseBoxEndsTheProcessWithExitCodeZero) {
  Snapshot("main-window");
  PressCloseBox(tool.window);
  DWORD code = 1;
  ASSERT_TRUE(WaitForExit(tool, kWindowTimeoutMs, code)) << "the tool did not end";
  EXPECT_EQ(code, 0u);
  EXPECT_TRUE(OpenBoxes(tool).empty());
}

}  // namespace
