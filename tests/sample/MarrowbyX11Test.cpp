// The real Marrowby on an X server of its own (xvfb-run, no window manager),
// driven from outside through Xlib and XTest as a user would.
// GoogleTest comes before Xlib, whose macros (None, Bool) clash with it.
#include "MarrowbyWindowCheck.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

class TX11Marrowby {
public:
    static constexpr TRect BoxInside{5, 3, 8, 7};  // of an entry, whose box sits at its left end

    TX11Marrowby() {
        char* argv[] = {MarrowbyPath, nullptr};
        if (!Dpy || !MarrowbyPath || posix_spawn(&Pid, MarrowbyPath, nullptr, nullptr, argv, environ) != 0) Pid = 0;
    }

    ~TX11Marrowby() {
        if (Pid > 0 && kill(Pid, SIGKILL) == 0) waitpid(Pid, nullptr, 0);
        if (Dpy) XCloseDisplay(Dpy);
    }

    // The display is the test's own: its one viewable top-level window is the
    // form, and the form's one viewable child the list.
    bool FindForm() {
        return Pid > 0 && WaitFor(
                              [&] {
                                  Form = OnlyViewableChild(DefaultRootWindow(Dpy));
                                  List = Form ? OnlyViewableChild(Form) : 0;
                                  return List != 0;
                              },
                              30s);
    }

    std::string Title() {
        char* name = nullptr;
        std::string title = XFetchName(Dpy, Form, &name) ? name : "";
        XFree(name);
        return title;
    }

    TRect FormRect() { return OnScreen(Form); }  // with no window manager, no frame around it

    TRect Entries() {  // inside the list's 1-pixel frame
        TRect list = OnScreen(List);
        return {list.X + 1, list.Y + 1, list.Width - 2, list.Height - 2};
    }

    TPixels Grab(const TRect& a) {
        TPixels pixels;
        XImage* image = XGetImage(Dpy, DefaultRootWindow(Dpy), a.X, a.Y, a.Width, a.Height, AllPlanes, ZPixmap);
        for (int y = 0; image && y < a.Height; ++y)
            for (int x = 0; x < a.Width; ++x) pixels.push_back(XGetPixel(image, x, y) & 0xFFFFFF);
        if (image) XDestroyImage(image);
        return pixels;
    }

    // A key press and release with the form as the focused window. Digits'
    // and the space bar's key symbols are their characters.
    void Type(char c) {
        XSetInputFocus(Dpy, Form, RevertToParent, CurrentTime);
        KeyCode key = XKeysymToKeycode(Dpy, static_cast<KeySym>(c));
        XTestFakeKeyEvent(Dpy, key, True, CurrentTime);
        XTestFakeKeyEvent(Dpy, key, False, CurrentTime);
        XFlush(Dpy);
    }

    // Asks the form to close as a window manager's close button does; the
    // exit code once the process has ended.
    std::optional<int> Close() {
        XEvent e{};
        e.xclient = {ClientMessage, 0, False, Dpy, Form, XInternAtom(Dpy, "WM_PROTOCOLS", False), 32, {}};
        e.xclient.data.l[0] = static_cast<long>(XInternAtom(Dpy, "WM_DELETE_WINDOW", False));
        XSendEvent(Dpy, Form, False, NoEventMask, &e);
        XFlush(Dpy);
        int status = 0;
        if (!WaitFor([&] { return waitpid(Pid, &status, WNOHANG) == Pid; }, 10s)) return std::nullopt;
        Pid = 0;  // ended and reaped
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    // The one viewable child window of parent; 0 when there is none, or more.
    Window OnlyViewableChild(Window parent) {
        Window root, up, *children = nullptr;
        unsigned count = 0;
        XQueryTree(Dpy, parent, &root, &up, &children, &count);
        std::vector<Window> viewable;
        for (XWindowAttributes a; count > 0; --count)
            if (XGetWindowAttributes(Dpy, children[count - 1], &a) && a.map_state == IsViewable)
                viewable.push_back(children[count - 1]);
        if (children) XFree(children);
        return viewable.size() == 1 ? viewable.front() : 0;
    }

    TRect OnScreen(Window w) {
        XWindowAttributes a{};
        XGetWindowAttributes(Dpy, w, &a);
        Window child;
        XTranslateCoordinates(Dpy, w, DefaultRootWindow(Dpy), 0, 0, &a.x, &a.y, &child);
        return {a.x, a.y, a.width, a.height};
    }

    Display* Dpy = XOpenDisplay(nullptr);
    pid_t Pid = 0;
    Window Form = 0, List = 0;
};

TEST(MarrowbyX11, ShowsForm1WithSevenEntriesTogglesThemAndClosesWithCodeZero) {
    TX11Marrowby marrowby;
    CheckMarrowbyWindow(marrowby);
}

}  // namespace
