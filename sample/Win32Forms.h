// What the Win32 form and check list share: the form's native state and the
// owner-draw hook through which the form paints its check lists.
#pragma once

#include "Forms.h"

#include <windows.h>

struct TForm::TImpl {
    HWND Handle = nullptr;
    HFONT Font = nullptr;
    TColor Color = clBtnFace;
    TColor TextColor = clWindowText;
    HWND FocusControl = nullptr;  // the first control in tab order
    bool MainForm = false;
    ~TImpl();
};

// The state of the form window hwnd; throws when hwnd is not a form.
TForm::TImpl& FormImplOf(HWND hwnd);

int SystemColorIndex(TColor color);

// Paints one entry of a check list; the form calls it for WM_DRAWITEM.
void DrawCheckListItem(const DRAWITEMSTRUCT& item);
