// The real Marrowby.exe, driven from outside through the Win32 API as a user
// (or an accessibility tool) would: the window "Form1" of class TForm1, its
// place and size, the list box's place, entries, item height and check
// states, toggling by mouse and space bar, WM_CLOSE and the exit code, and a
// second start that shows everything unchecked again.
// Usage: marrowby_win32_test PATH_TO_MARROWBY.EXE
#include "WaitFor.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

std::wstring MarrowbyPath;

constexpr auto WindowTimeout = std::chrono::seconds(60);  // a fresh Wine prefix starts slowly
constexpr auto ReactionTimeout = std::chrono::seconds(10);

std::string Describe(const RECT& r) {
  char text[80];
  std::snprintf(text, sizeof text, "(%ld, %ld)-(%ld, %ld)", r.left, r.top, r.right, r.bottom);
  return text;
}

bool SameRect(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// One started Marrowby; ended by force if a test stops before it does.
class TProcess {
public:
  explicit TProcess(const std::wstring& extraArguments = L"") {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    std::wstring commandLine = L"\"" + MarrowbyPath + L"\"" + extraArguments;
    Started = CreateProcessW(MarrowbyPath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                             nullptr, &startup, &Info) != FALSE;
  }

  ~TProcess() {
    if (!Started) return;
    if (WaitForSingleObject(Info.hProcess, 0) == WAIT_TIMEOUT) {
      TerminateProcess(Info.hProcess, 255);
      WaitForSingleObject(Info.hProcess, 10000);
    }
    CloseHandle(Info.hThread);
    CloseHandle(Info.hProcess);
  }

  bool Running() const { return Started; }
  DWORD Id() const { return Info.dwProcessId; }

  std::optional<DWORD> WaitForExit(DWORD milliseconds) {
    if (WaitForSingleObject(Info.hProcess, milliseconds) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(Info.hProcess, &code);
    return code;
  }

  // The process's visible top-level window "Form1" of class TForm1.
  HWND FindForm() const {
    HWND found = nullptr;
    WaitFor([&] {
      for (HWND w = FindWindowExW(nullptr, nullptr, L"TForm1", L"Form1"); w != nullptr;
           w = FindWindowExW(nullptr, w, L"TForm1", L"Form1")) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner == Info.dwProcessId && IsWindowVisible(w)) found = w;
      }
      return found != nullptr;
    }, WindowTimeout);
    return found;
  }

private:
  PROCESS_INFORMATION Info{};
  bool Started = false;
};

LRESULT Send(HWND w, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
  DWORD_PTR result = 0;
  SendMessageTimeoutW(w, message, wParam, lParam, SMTO_ABORTIFHUNG, 10000, &result);
  return static_cast<LRESULT>(result);
}

std::vector<bool> CheckStates(HWND list) {
  std::vector<bool> states;
  auto count = Send(list, LB_GETCOUNT);
  for (LRESULT i = 0; i < count; ++i) states.push_back(Send(list, LB_GETITEMDATA, i) == 1);
  return states;
}

bool WaitForStates(HWND list, const std::vector<bool>& expected) {
  return WaitFor([&] { return CheckStates(list) == expected; }, ReactionTimeout);
}

std::wstring EntryText(HWND list, int index) {
  wchar_t buffer[64] = {};
  LRESULT length = Send(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(buffer));
  return length < 0 || length >= 64 ? L"<error>" : std::wstring(buffer, static_cast<size_t>(length));
}

// A press and release at (x, y) of the list's client area.
void ClickAt(HWND list, int x, int y) {
  PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
  PostMessageW(list, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

int RowCentre(int row) { return row * 13 + 6; }

// The space bar as the keyboard gives it; the program's message loop turns
// it into WM_CHAR.
void PressSpace(HWND list) {
  PostMessageW(list, WM_KEYDOWN, VK_SPACE, 0x00390001);
  PostMessageW(list, WM_KEYUP, VK_SPACE, 0xC0390001);
}

HWND OnlyChild(HWND form) {
  HWND first = FindWindowExW(form, nullptr, nullptr, nullptr);
  return first != nullptr && FindWindowExW(form, first, nullptr, nullptr) == nullptr ? first : nullptr;
}

void CloseAndExpectCodeZero(TProcess& process, HWND form) {
  PostMessageW(form, WM_CLOSE, 0, 0);
  std::optional<DWORD> code = process.WaitForExit(30000);
  ASSERT_TRUE(code.has_value()) << "Marrowby did not end after WM_CLOSE";
  EXPECT_EQ(*code, 0u);
}

TEST(MarrowbyWin32, ShowsTheStoredWindowAndList) {
  TProcess process;
  ASSERT_TRUE(process.Running()) << "cannot start Marrowby, error " << GetLastError();
  HWND form = process.FindForm();
  ASSERT_NE(form, nullptr) << "no window \"Form1\" of class TForm1 appeared";

  RECT outer;
  GetWindowRect(form, &outer);
  EXPECT_TRUE(SameRect(outer, {192, 107, 192 + 870, 107 + 640})) << Describe(outer);
  EXPECT_TRUE(GetWindowLongW(form, GWL_STYLE) & WS_CAPTION);

  HWND list = OnlyChild(form);
  ASSERT_NE(list, nullptr) << "the form has not exactly one child window";
  wchar_t className[32] = {};
  GetClassNameW(list, className, 32);
  EXPECT_STREQ(className, L"ListBox");
  RECT place;
  GetWindowRect(list, &place);
  MapWindowPoints(HWND_DESKTOP, form, reinterpret_cast<POINT*>(&place), 2);
  EXPECT_TRUE(SameRect(place, {24, 24, 24 + 425, 24 + 473})) << Describe(place);
  LONG style = GetWindowLongW(list, GWL_STYLE);
  EXPECT_TRUE(style & WS_TABSTOP);
  EXPECT_TRUE(style & LBS_OWNERDRAWFIXED);

  ASSERT_EQ(Send(list, LB_GETCOUNT), 7);
  EXPECT_EQ(Send(list, LB_GETITEMHEIGHT), 13);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(EntryText(list, i), std::to_wstring(i + 1));
  EXPECT_EQ(CheckStates(list), std::vector<bool>(7, false));
  EXPECT_EQ(Send(list, LB_GETTOPINDEX), 0);
  CloseAndExpectCodeZero(process, form);
}

TEST(MarrowbyWin32, TogglesByMouseAndSpaceBar) {
  TProcess process;
  HWND form = process.FindForm();
  ASSERT_NE(form, nullptr);
  HWND list = OnlyChild(form);
  ASSERT_NE(list, nullptr);

  ClickAt(list, 6, RowCentre(2));
  EXPECT_TRUE(WaitForStates(list, {false, false, true, false, false, false, false}))
      << "a click in the third box did not check it alone";

  ClickAt(list, 100, RowCentre(4));  // on the text: selects only
  ASSERT_TRUE(WaitFor([&] { return Send(list, LB_GETCURSEL) == 4; }, ReactionTimeout));
  EXPECT_EQ(CheckStates(list), (std::vector<bool>{false, false, true, false, false, false, false}));

  PressSpace(list);
  EXPECT_TRUE(WaitForStates(list, {false, false, true, false, true, false, false}))
      << "the space bar did not check the selected fifth entry";

  PostMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(6, RowCentre(2)));
  PostMessageW(list, WM_LBUTTONUP, 0, MAKELPARAM(6, RowCentre(2)));
  EXPECT_TRUE(WaitForStates(list, {false, false, false, false, true, false, false}))
      << "the second click of a double click did not toggle back";
  CloseAndExpectCodeZero(process, form);
}

TEST(MarrowbyWin32, NewStartShowsAllEntriesUncheckedAndIgnoresArguments) {
  {
    TProcess process;
    HWND form = process.FindForm();
    ASSERT_NE(form, nullptr);
    HWND list = OnlyChild(form);
    for (int row = 0; row < 7; ++row) ClickAt(list, 6, RowCentre(row));
    ASSERT_TRUE(WaitForStates(list, std::vector<bool>(7, true)));
    CloseAndExpectCodeZero(process, form);
  }
  TProcess again(L" -w *.dll C:\\nothing.tds");
  HWND form = again.FindForm();
  ASSERT_NE(form, nullptr) << "the second start showed no window";
  HWND list = OnlyChild(form);
  EXPECT_EQ(Send(list, LB_GETCOUNT), 7);
  EXPECT_EQ(CheckStates(list), std::vector<bool>(7, false));
  CloseAndExpectCodeZero(again, form);
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (arguments == nullptr || argc != 2 || count < 2) {
    std::fprintf(stderr, "usage: marrowby_win32_test PATH_TO_MARROWBY.EXE\n");
    return 2;
  }
  MarrowbyPath = arguments[count - 1];
  LocalFree(arguments);
  return RUN_ALL_TESTS();
}
