// The real Marrowby.exe under Wine, on the display xvfb-run gave it, driven
// from outside through the Win32 API as a user would.
#include "MarrowbyWindowCheck.h"

#include <windows.h>

namespace {

class TWin32Marrowby {
public:
    static constexpr TRect BoxInside{4, 3, 7, 7};  // of an entry, whose box sits at its left end in a 2-pixel frame

    TWin32Marrowby() {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        CreateProcessA(MarrowbyPath, nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &Process);
    }

    ~TWin32Marrowby() {
        TerminateProcess(Process.hProcess, 255);  // no effect once it has ended
        CloseHandle(Process.hThread);
        CloseHandle(Process.hProcess);
    }

    // The program's active window, visible, and the window in it that has the
    // keyboard focus, the list.
    bool FindForm() {
        return Process.hProcess && WaitFor(
                                       [&] {
                                           GUITHREADINFO gui{};
                                           gui.cbSize = sizeof gui;
                                           GetGUIThreadInfo(Process.dwThreadId, &gui);
                                           Form = gui.hwndActive;
                                           List = gui.hwndFocus;
                                           return IsWindowVisible(Form) && List && GetParent(List) == Form;
                                       },
                                       60s);  // a fresh Wine prefix starts slowly
    }

    std::string Title() {
        char text[64] = {};
        GetWindowTextA(Form, text, sizeof text);
        return text;
    }

    TRect FormRect() {
        RECT r;
        GetWindowRect(Form, &r);
        return {r.left, r.top, r.right - r.left, r.bottom - r.top};
    }

    TRect Entries() {  // the list's client area
        RECT r;
        GetClientRect(List, &r);
        MapWindowPoints(List, HWND_DESKTOP, reinterpret_cast<POINT*>(&r), 2);
        return {r.left, r.top, r.right - r.left, r.bottom - r.top};
    }

    TPixels Grab(const TRect& a) {
        HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
        HBITMAP bitmap = CreateCompatibleBitmap(screen, a.Width, a.Height);
        SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, a.Width, a.Height, screen, a.X, a.Y, SRCCOPY);
        DeleteDC(memory);  // which lets go of the bitmap, for GetDIBits
        BITMAPINFO info{{sizeof(BITMAPINFOHEADER), a.Width, -a.Height, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
        TPixels pixels(a.Width * a.Height);
        GetDIBits(screen, bitmap, 0, a.Height, pixels.data(), &info, DIB_RGB_COLORS);
        DeleteObject(bitmap);
        ReleaseDC(nullptr, screen);
        for (auto& p : pixels) p &= 0xFFFFFF;  // from blue, green, red, unused
        return pixels;
    }

    // A key press and release as the keyboard gives them to the list, which
    // has the focus; the program's message loop makes the WM_CHAR. Digits' and
    // the space bar's key codes are their characters.
    void Type(char c) {
        LPARAM scanCode = MapVirtualKeyW(static_cast<UINT>(c), MAPVK_VK_TO_VSC) << 16;
        PostMessageW(List, WM_KEYDOWN, c, scanCode | 1);
        PostMessageW(List, WM_KEYUP, c, scanCode | 0xC0000001);
    }

    // The close command of the form's title bar; the exit code once the
    // process has ended.
    std::optional<int> Close() {
        PostMessageW(Form, WM_SYSCOMMAND, SC_CLOSE, 0);
        DWORD code = 0;
        if (WaitForSingleObject(Process.hProcess, 30000) != WAIT_OBJECT_0) return std::nullopt;
        GetExitCodeProcess(Process.hProcess, &code);
        return static_cast<int>(code);
    }

private:
    PROCESS_INFORMATION Process{};
    HWND Form = nullptr, List = nullptr;
};

TEST(MarrowbyWin32, ShowsForm1WithSevenEntriesTogglesThemAndClosesWithCodeZero) {
    TWin32Marrowby marrowby;
    CheckMarrowbyWindow(marrowby);
}

}  // namespace
