// TForm on Win32: a top-level window of a class named after the form class.
#include "FormScaling.h"
#include "Win32Forms.h"
#include "Win32Text.h"

#include <stdexcept>
#include <string>

namespace {

[[noreturn]] void FailWin32(const std::string& what) {
    throw std::runtime_error(what + " failed (error " + std::to_string(GetLastError()) + ")");
}

LRESULT CALLBACK FormProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

void RegisterFormClass(const std::wstring& className) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof existing;
    if (GetClassInfoExW(instance, className.c_str(), &existing)) return;
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_DBLCLKS;
    windowClass.lpfnWndProc = FormProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, L"MAINICON");
    if (windowClass.hIcon == nullptr) windowClass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = className.c_str();
    if (!RegisterClassExW(&windowClass)) FailWin32("RegisterClassExW");
}

HFONT CreateFormFont(const TFontSpec& font) {
    LOGFONTW logFont{};
    logFont.lfHeight = font.Height;
    logFont.lfWeight = (font.Style & fsBold) ? FW_BOLD : FW_NORMAL;
    logFont.lfItalic = (font.Style & fsItalic) ? TRUE : FALSE;
    logFont.lfUnderline = (font.Style & fsUnderline) ? TRUE : FALSE;
    logFont.lfStrikeOut = (font.Style & fsStrikeOut) ? TRUE : FALSE;
    logFont.lfCharSet = font.Charset;
    std::wstring face = WideFromUtf8(font.Name).substr(0, LF_FACESIZE - 1);
    face.copy(logFont.lfFaceName, face.size());
    HFONT handle = CreateFontIndirectW(&logFont);
    if (handle == nullptr) FailWin32("CreateFontIndirectW");
    return handle;
}

void PaintBackground(const TForm::TImpl& form, HDC dc) {
    RECT client;
    GetClientRect(form.Handle, &client);
    FillRect(dc, &client, GetSysColorBrush(SystemColorIndex(form.Color)));
}

void FocusFirstControl(const TForm::TImpl& form) {
    if (form.FocusControl != nullptr) SetFocus(form.FocusControl);
}

LRESULT CALLBACK FormProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* form = static_cast<TForm::TImpl*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        form->Handle = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    }
    auto* form = reinterpret_cast<TForm::TImpl*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (form == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
    switch (message) {
        case WM_ERASEBKGND:
            PaintBackground(*form, reinterpret_cast<HDC>(wParam));
            return 1;
        case WM_DRAWITEM:
            DrawCheckListItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            return TRUE;
        case WM_GETFONT:
            return reinterpret_cast<LRESULT>(form->Font);
        case WM_SETFOCUS:
            FocusFirstControl(*form);
            return 0;
        case WM_ACTIVATE:  // hand the focus on to the control, not to the form
            if (form->FocusControl != nullptr && LOWORD(wParam) != WA_INACTIVE && !HIWORD(wParam)) {
                FocusFirstControl(*form);
                return 0;
            }
            break;
        case WM_DESTROY:
            if (form->MainForm) PostQuitMessage(0);
            break;
        case WM_NCDESTROY:
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            form->Handle = nullptr;
            break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace

TForm::TImpl::~TImpl() {
    MainForm = false;  // destroying the object is no request to end the program
    if (Handle != nullptr) DestroyWindow(Handle);
    if (Font != nullptr) DeleteObject(Font);
}

TForm::TImpl& FormImplOf(HWND hwnd) {
    auto* form = reinterpret_cast<TForm::TImpl*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (form == nullptr) throw std::logic_error("the window is not a form");
    return *form;
}

int SystemColorIndex(TColor color) {
    switch (color) {
        case clBtnFace:
            return COLOR_BTNFACE;
        case clBtnText:
            return COLOR_BTNTEXT;
        case clWindow:
            return COLOR_WINDOW;
        case clWindowText:
            return COLOR_WINDOWTEXT;
    }
    return COLOR_BTNFACE;
}

TForm::TForm(const TFormSpec& stored) : ComponentName(stored.Name), Impl(std::make_unique<TImpl>()) {
    const TFormSpec spec = ScaleForm(stored, ToolkitPixelsPerInch);
    const std::wstring className = WideFromUtf8(spec.ClassName);
    RegisterFormClass(className);
    Impl->Color = spec.Color;
    Impl->TextColor = spec.Font.Color;
    Impl->Font = CreateFormFont(spec.Font);
    const TBounds& b = spec.Bounds;
    HWND created =
        CreateWindowExW(0, className.c_str(), WideFromUtf8(spec.Caption).c_str(), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                        b.Left, b.Top, b.Width, b.Height, nullptr, nullptr, GetModuleHandleW(nullptr), Impl.get());
    if (created == nullptr) FailWin32("CreateWindowExW");
    CreateControls(spec);
}

TForm::~TForm() = default;

TNativeWindow TForm::Handle() const { return Impl->Handle; }

void TForm::Show() {
    ShowWindow(Impl->Handle, SW_SHOWDEFAULT);
    UpdateWindow(Impl->Handle);
    FocusFirstControl(*Impl);
}

void TForm::Close() { SendMessageW(Impl->Handle, WM_CLOSE, 0, 0); }

void TForm::MakeMainForm() { Impl->MainForm = true; }
