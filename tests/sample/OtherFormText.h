// A description unlike Marrowby's in every value the form reads, for the
// tests that the window follows whatever description it is built from.
#pragma once

inline constexpr const char* OtherFormText =
    "[Other: TOther]\nPixelsPerInch = 192\nLeft = 100\nTop = 60\nWidth = 800\nHeight = 600\n"
    "Caption = \"Zwei\"\nFont.Height = -20\nFont.Style = [fsBold]\n"
    "[Second: TCheckListBox]\nTabOrder = 1\nItems.Strings = \"b\"\n"
    "[First: TCheckListBox]\nTabOrder = 0\nLeft = 10\nTop = 20\nWidth = 100\nHeight = 60\n"
    "ItemHeight = 40\nItems.Strings = \"x\", \"y\"\n";
