// TCheckListBox on Win32: an owner-drawn LISTBOX. Each entry's check state is
// its item data (0 or 1); a click in the check box or the space bar toggles it.
#include "Win32Forms.h"
#include "Win32Text.h"

#include <windowsx.h>

#include <stdexcept>

struct TCheckListBox::TImpl {
    HWND Handle = nullptr;
    WNDPROC ListProc = nullptr;  // the LISTBOX class's own procedure
    TColor TextColor = clWindowText;
    ~TImpl();
};

namespace {

constexpr wchar_t ImplProperty[] = L"Marrowby.CheckListBox";
constexpr int BoxMargin = 1;  // pixels left of and right of the check box

TCheckListBox::TImpl* ImplOf(HWND list) { return static_cast<TCheckListBox::TImpl*>(GetPropW(list, ImplProperty)); }

int CheckBoxSide(HWND list) { return static_cast<int>(SendMessageW(list, LB_GETITEMHEIGHT, 0, 0)); }

bool ItemChecked(HWND list, int index) { return SendMessageW(list, LB_GETITEMDATA, index, 0) == 1; }

void SetItemChecked(HWND list, int index, bool checked) {
    SendMessageW(list, LB_SETITEMDATA, index, checked ? 1 : 0);
    RECT item;
    if (SendMessageW(list, LB_GETITEMRECT, index, reinterpret_cast<LPARAM>(&item)) != LB_ERR)
        InvalidateRect(list, &item, FALSE);
}

void ToggleItem(HWND list, int index) { SetItemChecked(list, index, !ItemChecked(list, index)); }

// A press inside an entry's check box toggles that entry.
void ToggleAtPoint(HWND list, LPARAM point) {
    LRESULT hit = SendMessageW(list, LB_ITEMFROMPOINT, 0, point);
    if (HIWORD(hit) != 0) return;  // below the last entry
    int index = LOWORD(hit);
    RECT item;
    if (SendMessageW(list, LB_GETITEMRECT, index, reinterpret_cast<LPARAM>(&item)) == LB_ERR) return;
    int x = GET_X_LPARAM(point);
    if (x >= item.left && x < item.left + BoxMargin * 2 + CheckBoxSide(list)) ToggleItem(list, index);
}

void ToggleCaretItem(HWND list) {
    int index = static_cast<int>(SendMessageW(list, LB_GETCARETINDEX, 0, 0));
    if (index >= 0 && index < static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0))) ToggleItem(list, index);
}

void Unsubclass(HWND list, TCheckListBox::TImpl& impl) {
    SetWindowLongPtrW(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(impl.ListProc));
    RemovePropW(list, ImplProperty);
}

LRESULT CALLBACK CheckListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam) {
    TCheckListBox::TImpl* impl = ImplOf(list);
    WNDPROC base = impl->ListProc;
    switch (message) {
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK: {
            LRESULT result = CallWindowProcW(base, list, message, wParam, lParam);  // selects first
            ToggleAtPoint(list, lParam);
            return result;
        }
        case WM_CHAR:
            if (wParam == L' ') {
                ToggleCaretItem(list);
                return 0;
            }
            break;
        case WM_NCDESTROY:
            Unsubclass(list, *impl);
            impl->Handle = nullptr;
            break;
    }
    return CallWindowProcW(base, list, message, wParam, lParam);
}

std::wstring ItemText(HWND list, int index) {
    LRESULT length = SendMessageW(list, LB_GETTEXTLEN, index, 0);
    if (length == LB_ERR) return {};
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    length = SendMessageW(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text.data()));
    text.resize(length == LB_ERR ? 0 : static_cast<size_t>(length));
    return text;
}

void DrawBox(const DRAWITEMSTRUCT& item, int side, bool checked) {
    const RECT& r = item.rcItem;
    int top = r.top + ((r.bottom - r.top) - side) / 2;
    RECT box{r.left + BoxMargin, top, r.left + BoxMargin + side, top + side};
    DrawFrameControl(item.hDC, &box, DFC_BUTTON, DFCS_BUTTONCHECK | (checked ? DFCS_CHECKED : 0));
}

void DrawLabel(const DRAWITEMSTRUCT& item, const RECT& area, TColor textColor) {
    bool selected = (item.itemState & ODS_SELECTED) != 0;
    FillRect(item.hDC, &area, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    SetBkMode(item.hDC, TRANSPARENT);
    SetTextColor(item.hDC, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : SystemColorIndex(textColor)));
    std::wstring text = ItemText(item.hwndItem, static_cast<int>(item.itemID));
    RECT textArea{area.left + 2, area.top, area.right, area.bottom};
    DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &textArea,
              DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    if (item.itemState & ODS_FOCUS) DrawFocusRect(item.hDC, &area);
}

HWND CreateListWindow(HWND parent, const TCheckListSpec& spec) {
    const TBounds& b = spec.Bounds;
    HWND list = CreateWindowExW(WS_EX_CLIENTEDGE, L"LISTBOX", L"",
                                WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | LBS_OWNERDRAWFIXED | LBS_HASSTRINGS |
                                    LBS_NOTIFY | LBS_NOINTEGRALHEIGHT,
                                b.Left, b.Top, b.Width, b.Height, parent, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (list == nullptr)
        throw std::runtime_error("CreateWindowExW of a list box failed (error " + std::to_string(GetLastError()) + ")");
    return list;
}

}  // namespace

void DrawCheckListItem(const DRAWITEMSTRUCT& item) {
    TCheckListBox::TImpl* impl = item.CtlType == ODT_LISTBOX ? ImplOf(item.hwndItem) : nullptr;
    if (impl == nullptr) return;
    if (item.itemID == static_cast<UINT>(-1)) {  // empty list: only the focus
        if (item.itemState & ODS_FOCUS) DrawFocusRect(item.hDC, &item.rcItem);
        return;
    }
    int side = CheckBoxSide(item.hwndItem);
    RECT whole = item.rcItem;
    FillRect(item.hDC, &whole, GetSysColorBrush(COLOR_WINDOW));
    DrawBox(item, side, ItemChecked(item.hwndItem, static_cast<int>(item.itemID)));
    RECT label{whole.left + BoxMargin * 2 + side, whole.top, whole.right, whole.bottom};
    DrawLabel(item, label, impl->TextColor);
}

TCheckListBox::TImpl::~TImpl() {
    if (Handle == nullptr) return;
    Unsubclass(Handle, *this);
    DestroyWindow(Handle);
}

TCheckListBox::TCheckListBox(TForm& owner, const TCheckListSpec& spec)
    : ComponentName(spec.Name), Impl(std::make_unique<TImpl>()) {
    TForm::TImpl& form = FormImplOf(owner.Handle());
    HWND list = CreateListWindow(owner.Handle(), spec);
    Impl->Handle = list;
    Impl->TextColor = form.TextColor;
    SetPropW(list, ImplProperty, Impl.get());
    Impl->ListProc =
        reinterpret_cast<WNDPROC>(SetWindowLongPtrW(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CheckListProc)));
    SendMessageW(list, WM_SETFONT, reinterpret_cast<WPARAM>(form.Font), FALSE);
    SendMessageW(list, LB_SETITEMHEIGHT, 0, spec.ItemHeight);
    for (const auto& text : spec.Items) {
        LRESULT index = SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(WideFromUtf8(text).c_str()));
        if (index < 0) throw std::runtime_error("the list box refused an entry");
        SendMessageW(list, LB_SETITEMDATA, index, 0);
    }
    if (form.FocusControl == nullptr) form.FocusControl = list;
}

TCheckListBox::~TCheckListBox() = default;

int TCheckListBox::Count() const { return static_cast<int>(SendMessageW(Impl->Handle, LB_GETCOUNT, 0, 0)); }

std::string TCheckListBox::Item(int index) const {
    CheckIndex(index);
    return Utf8FromWide(ItemText(Impl->Handle, index));
}

bool TCheckListBox::Checked(int index) const {
    CheckIndex(index);
    return ItemChecked(Impl->Handle, index);
}

void TCheckListBox::SetChecked(int index, bool checked) {
    CheckIndex(index);
    SetItemChecked(Impl->Handle, index, checked);
}

void TCheckListBox::TakeFocus() { SetFocus(Impl->Handle); }

TNativeWindow TCheckListBox::Handle() const { return Impl->Handle; }
