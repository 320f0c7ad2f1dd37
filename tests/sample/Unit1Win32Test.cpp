// The form unit inside the test process with the Win32 toolkit: the values
// that only the owning process can read (the font, the painted background),
// toggling through the list's own messages, and the end of the loop.
#include "Unit1.h"
#include "Unit1FormText.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace {

HWND ListOf(const TForm1& form) { return form.CheckListBox1->Handle(); }

std::vector<bool> States(const TForm1& form) {
  std::vector<bool> states;
  for (int i = 0; i < form.CheckListBox1->Count(); ++i) states.push_back(form.CheckListBox1->Checked(i));
  return states;
}

void Click(HWND list, int x, int y) {
  SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
  SendMessageW(list, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

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

TEST_F(Unit1Win32, ListHoldsSevenUncheckedEntries) {
  TForm1 form;
  EXPECT_EQ(form.CheckListBox1, &form.FindCheckListBox("CheckListBox1"));
  ASSERT_EQ(form.CheckListBox1->Count(), 7);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(form.CheckListBox1->Item(i), std::to_string(i + 1));
  EXPECT_EQ(States(form), std::vector<bool>(7, false));
  EXPECT_EQ(SendMessageW(ListOf(form), LB_GETITEMHEIGHT, 0, 0), 13);
  RECT client;
  GetClientRect(ListOf(form), &client);
  EXPECT_GE(client.bottom, 7 * 13);  // no scrolling needed
}

TEST_F(Unit1Win32, MouseTogglesInTheBoxAndSelectsOnTheText) {
  TForm1 form;
  HWND list = ListOf(form);
  Click(list, 6, 2 * 13 + 6);
  EXPECT_EQ(States(form), (std::vector<bool>{false, false, true, false, false, false, false}));
  Click(list, 100, 4 * 13 + 6);
  EXPECT_EQ(SendMessageW(list, LB_GETCURSEL, 0, 0), 4);
  EXPECT_EQ(States(form), (std::vector<bool>{false, false, true, false, false, false, false}));
  Click(list, 6, 2 * 13 + 6);
  Click(list, 6, 100 * 13);  // below the last entry: nothing
  EXPECT_EQ(States(form), std::vector<bool>(7, false));
}

TEST_F(Unit1Win32, SpaceBarTogglesTheCaretEntry) {
  TForm1 form;
  HWND list = ListOf(form);
  SendMessageW(list, LB_SETCURSEL, 5, 0);
  SendMessageW(list, WM_CHAR, L' ', 0x00390001);
  EXPECT_TRUE(form.CheckListBox1->Checked(5));
  SendMessageW(list, WM_CHAR, L' ', 0x00390001);
  EXPECT_EQ(States(form), std::vector<bool>(7, false));
}

TEST_F(Unit1Win32, ANewFormStartsUnchecked) {
  {
    TForm1 form;
    for (int i = 0; i < 7; ++i) form.CheckListBox1->Toggle(i);
    ASSERT_EQ(States(form), std::vector<bool>(7, true));
  }
  TForm1 again;
  EXPECT_EQ(States(again), std::vector<bool>(7, false));
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
  TForm other(ReadFormSpec(ParseFormDescription(
      "[Other: TOther]\nPixelsPerInch = 192\nLeft = 100\nTop = 60\nWidth = 800\nHeight = 600\n"
      "Caption = \"Zwei\"\nFont.Height = -20\nFont.Style = [fsBold]\n"
      "[Second: TCheckListBox]\nTabOrder = 1\nItems.Strings = \"b\"\n"
      "[First: TCheckListBox]\nTabOrder = 0\nLeft = 10\nTop = 20\nWidth = 100\nHeight = 60\n"
      "ItemHeight = 40\nItems.Strings = \"x\", \"y\"\n")));
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
