// The typed values of a form description: what the toolkit applies when it
// builds a form. A property that the description leaves out keeps the default
// given here.
#pragma once

#include "FormDescription.h"

#include <string>
#include <vector>

// The system colours that a description may name.
enum TColor { clBtnFace, clBtnText, clWindow, clWindowText };

enum TFontStyle : unsigned { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };

// Character sets by their Windows numbers.
enum TFontCharset : unsigned char { fcAnsi = 0, fcDefault = 1, fcSymbol = 2, fcOem = 255 };

struct TBounds {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
    bool operator==(const TBounds&) const = default;
};

struct TFontSpec {
    std::string Name;  // empty: the toolkit's default face
    int Height = 0;    // < 0: character height, > 0: cell height, 0: default
    TFontCharset Charset = fcDefault;
    TColor Color = clWindowText;
    unsigned Style = 0;  // TFontStyle bits
};

struct TCheckListSpec {
    std::string Name;
    TBounds Bounds{0, 0, 120, 95};
    int ItemHeight = 16;
    std::vector<std::string> Items;
    int TabOrder = -1;  // -1: after the controls that give one
};

struct TFormSpec {
    std::string Name;
    std::string ClassName;
    TBounds Bounds{0, 0, 320, 240};
    std::string Caption;
    TColor Color = clBtnFace;
    TFontSpec Font;
    bool OldCreateOrder = true;
    int PixelsPerInch = 96;  // the density for which bounds and heights are given
    int TextHeight = 0;
    std::vector<TCheckListSpec> CheckLists;
};

// Checks every property's name, kind and range; throws EFormDescription.
TFormSpec ReadFormSpec(const TFormDescription& description);
