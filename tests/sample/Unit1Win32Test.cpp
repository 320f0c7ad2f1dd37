// The form unit inside the test process with the Win32 toolkit: what only
// the owning process can read (the font, the painted background), the end of
// the loop, and a form built from another description. Entries and toggling
// are checked on the real program (MarrowbyWin32Test.cpp).
#include "OtherFormText.h"
#include "Unit1.h"
#include "Unit1FormText.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace {

HWND ListOf(const TForm1& form) { return form.CheckListBox1->Handle(); }

LOGFONTW FontOf(HWND window) {
  LOGFONTW font{};
  auto handle = reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
  GetObjectW(handle, sizeof font, &font);
  return font;
}

// Drops messages that a test left behind, WM_QUIT included.
void DrainMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message != WM_QUIT) DispatchMessageW(&message);
  }
}

bool QuitPosted(WPARAM* code) {
  MSG message;
  if (!PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) return false;
  *code = message.wParam;
  return true;
}

class Unit1Win32 : public testing::Test {
protected:
  void TearDown() override { DrainMessages(); }
};

TEST_F(Unit1Win32, WindowHasTheStoredClassTitlePlaceAndSize) {
  TForm1 form;
  HWND window = form.Handle();
  wchar_t text[64] = {};
  GetClassNameW(window, text, 64);
  EXPECT_STREQ(text, L"TForm1");
  GetWindowTextW(window, text, 64);
  EXPECT_STREQ(text, L"Form1");
  RECT outer;
  GetWindowRect(window, &outer);
  EXPECT_EQ(outer.left, 192);
  EXPECT_EQ(outer.top, 107);
  EXPECT_EQ(outer.right - outer.left, 870);
  EXPECT_EQ(outer.bottom - outer.top, 640);
  EXPECT_TRUE(GetClassLongPtrW(window, GCLP_HICON) != 0);
}

TEST_F(Unit1Win32, FormAndListUseTheStoredFont) {
  TForm1 form;
  LOGFONTW font = FontOf(form.Handle());
  EXPECT_EQ(font.lfHeight, -11);
  EXPECT_STREQ(font.lfFaceName, L"MS Sans Serif");
  EXPECT_EQ(font.lfCharSet, DEFAULT_CHARSET);
  EXPECT_EQ(font.lfWeight, FW_NORMAL);
  EXPECT_FALSE(font.lfItalic || font.lfUnderline || font.lfStrikeOut);
  EXPECT_EQ(SendMessageW(ListOf(form), WM_GETFONT, 0, 0), SendMessageW(form.Handle(), WM_GETFONT, 0, 0));
}

TEST_F(Unit1Win32, BackgroundIsTheButtonFaceColour) {
  TForm1 form;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, 900, 700);
  HGDIOBJ old = SelectObject(memory, bitmap);
  RECT all{0, 0, 900, 700};
  FillRect(memory, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  EXPECT_NE(SendMessageW(form.Handle(), WM_ERASEBKGND, reinterpret_cast<WPARAM>(memory), 0), 0);
  EXPECT_EQ(GetPixel(memory, 600, 300), GetSysColor(COLOR_BTNFACE));
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
}

TEST_F(Unit1Win32, ClosingTheMainFormEndsTheLoopWithCodeZero) {
  DrainMessages();
  WPARAM code = 99;
  {
    TForm1 other;
    other.Close();
    EXPECT_FALSE(QuitPosted(&code)) << "closing a form that is not the main form ended the loop";
  }
  TForm1 form;
  form.MakeMainForm();
  form.Close();
  EXPECT_FALSE(IsWindow(form.Handle()));
  ASSERT_TRUE(QuitPosted(&code));
  EXPECT_EQ(code, 0u);
}

TEST_F(Unit1Win32, FormFollowsADifferentDescription) {
  TForm other(ReadFormSpec(ParseFormDescription(OtherFormText)));
  RECT outer;
  GetWindowRect(other.Handle(), &outer);
  EXPECT_EQ(outer.left, 50);
  EXPECT_EQ(outer.right - outer.left, 400);
  LOGFONTW font = FontOf(other.Handle());
  EXPECT_EQ(font.lfHeight, -10);
  EXPECT_EQ(font.lfWeight, FW_BOLD);
  HWND first = other.FindCheckListBox("First").Handle();
  EXPECT_EQ(SendMessageW(first, LB_GETITEMHEIGHT, 0, 0), 20);
  // Windows are made in tab order: the first child is the first in it.
  EXPECT_EQ(GetWindow(other.Handle(), GW_CHILD), first);
}

TEST_F(Unit1Win32, TestProgramCarriesTheDescription) {
  EXPECT_EQ(LoadFormResource("TFORM1"), std::string(Unit1FormText));
  EXPECT_THROW(LoadFormResource("TFORM2"), std::runtime_error);
}

}  // namespace
