// The real Marrowby on an X server (run under xvfb-run), driven from outside
// as a user would: the window's title, place and size, the list's window,
// toggling an entry by mouse and space bar, closing through the window
// system, and a second start that shows everything unchecked again.
// Usage: marrowby_x11_test PATH_TO_MARROWBY
// GoogleTest comes before Xlib, whose macros (None, Bool) clash with it.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "WaitFor.h"

extern char** environ;

namespace {

std::string MarrowbyPath;

constexpr auto WindowTimeout = std::chrono::seconds(30);
constexpr auto ReactionTimeout = std::chrono::seconds(10);

struct TRect {
  int X, Y, Width, Height;
  bool operator==(const TRect&) const = default;
};

void PrintTo(const TRect& r, std::ostream* os) {
  *os << "(" << r.X << ", " << r.Y << ") " << r.Width << " x " << r.Height;
}

// One started Marrowby; killed if a test ends before it does.
class TProcess {
public:
  explicit TProcess(const std::vector<std::string>& extraArguments = {}) {
    std::vector<std::string> arguments{MarrowbyPath};
    arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
    std::vector<char*> argv;
    for (auto& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment;
    for (char** e = environ; *e != nullptr; ++e)
      if (std::strncmp(*e, "QT_QPA_PLATFORM=", 16) != 0) environment.emplace_back(*e);
    environment.emplace_back("QT_QPA_PLATFORM=xcb");
    std::vector<char*> envp;
    for (auto& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);
    if (posix_spawn(&Pid, MarrowbyPath.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0) Pid = -1;
  }

  ~TProcess() {
    if (Running()) {
      kill(Pid, SIGKILL);
      waitpid(Pid, nullptr, 0);
    }
  }

  pid_t Id() const { return Pid; }
  bool Running() const { return Pid > 0 && !ExitStatus; }

  // The exit status once the process has ended within timeout.
  std::optional<int> WaitForExit(TClock::duration timeout) {
    WaitFor([this] {
      int status = 0;
      if (waitpid(Pid, &status, WNOHANG) == Pid) ExitStatus = status;
      return ExitStatus.has_value();
    }, timeout);
    return ExitStatus;
  }

private:
  pid_t Pid = -1;
  std::optional<int> ExitStatus;
};

class MarrowbyX11 : public testing::Test {
protected:
  void SetUp() override {
    Dpy = XOpenDisplay(nullptr);
    ASSERT_NE(Dpy, nullptr) << "no X display: run this test under xvfb-run";
    int event, error, major, minor;
    ASSERT_TRUE(XTestQueryExtension(Dpy, &event, &error, &major, &minor));
  }

  void TearDown() override {
    if (Dpy) XCloseDisplay(Dpy);
  }

  Atom AtomNamed(const char* name) { return XInternAtom(Dpy, name, False); }

  std::vector<unsigned char> Property(Window w, const char* name) {
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    std::vector<unsigned char> result;
    if (XGetWindowProperty(Dpy, w, AtomNamed(name), 0, 1024, False, AnyPropertyType, &type, &format, &count,
                           &after, &data) == Success && data != nullptr) {
      result.assign(data, data + count * (format == 32 ? sizeof(long) : format / 8));
      XFree(data);
    }
    return result;
  }

  std::string Title(Window w) {
    auto bytes = Property(w, "_NET_WM_NAME");
    if (bytes.empty()) bytes = Property(w, "WM_NAME");
    return std::string(bytes.begin(), bytes.end());
  }

  long WindowPid(Window w) {
    auto bytes = Property(w, "_NET_WM_PID");
    long pid = 0;
    if (bytes.size() >= sizeof(long)) std::memcpy(&pid, bytes.data(), sizeof(long));
    return pid;
  }

  std::vector<Window> Children(Window w) {
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    std::vector<Window> result;
    if (XQueryTree(Dpy, w, &root, &parent, &children, &count)) {
      result.assign(children, children + count);
      if (children) XFree(children);
    }
    return result;
  }

  bool Viewable(Window w) {
    XWindowAttributes a;
    return XGetWindowAttributes(Dpy, w, &a) && a.map_state == IsViewable;
  }

  // The process's viewable top-level window with that title.
  Window FindTopLevel(pid_t pid, const std::string& title) {
    Window found = 0;
    WaitFor([&] {
      for (Window w : Children(DefaultRootWindow(Dpy)))
        if (WindowPid(w) == pid && Title(w) == title && Viewable(w)) found = w;
      return found != 0;
    }, WindowTimeout);
    return found;
  }

  // The place of w relative to its parent (Root: to the screen) and its size.
  TRect Geometry(Window w, bool onScreen) {
    XWindowAttributes a{};
    XGetWindowAttributes(Dpy, w, &a);
    int x = a.x, y = a.y;
    Window child;
    if (onScreen) XTranslateCoordinates(Dpy, w, DefaultRootWindow(Dpy), 0, 0, &x, &y, &child);
    return {x, y, a.width, a.height};
  }

  // The pixels of an area of the screen, as the X server holds them.
  std::vector<char> Grab(const TRect& area) {
    XImage* image = XGetImage(Dpy, DefaultRootWindow(Dpy), area.X, area.Y, area.Width, area.Height,
                              AllPlanes, ZPixmap);
    if (image == nullptr) return {};
    std::vector<char> pixels(image->data, image->data + image->bytes_per_line * image->height);
    XDestroyImage(image);
    return pixels;
  }

  // The area once two grabs 200 ms apart agree, so the window has painted.
  std::vector<char> GrabSettled(const TRect& area) {
    std::vector<char> last = Grab(area), now;
    WaitFor([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      now = Grab(area);
      bool same = now == last;
      last = now;
      return same;
    }, ReactionTimeout);
    return last;
  }

  void Click(int x, int y) {
    XTestFakeMotionEvent(Dpy, DefaultScreen(Dpy), x, y, CurrentTime);
    XTestFakeButtonEvent(Dpy, 1, True, CurrentTime);
    XTestFakeButtonEvent(Dpy, 1, False, CurrentTime);
    XFlush(Dpy);
  }

  void PressSpace(Window focus) {
    XSetInputFocus(Dpy, focus, RevertToParent, CurrentTime);
    KeyCode space = XKeysymToKeycode(Dpy, XK_space);
    XTestFakeKeyEvent(Dpy, space, True, CurrentTime);
    XTestFakeKeyEvent(Dpy, space, False, CurrentTime);
    XFlush(Dpy);
  }

  // Asks the window to close as a window manager does (WM_DELETE_WINDOW).
  void RequestClose(Window w) {
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = w;
    e.xclient.message_type = AtomNamed("WM_PROTOCOLS");
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(AtomNamed("WM_DELETE_WINDOW"));
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(Dpy, w, False, NoEventMask, &e);
    XFlush(Dpy);
  }

  // The one viewable child window of the form: the check list.
  Window ListWindow(Window form) {
    std::vector<Window> lists;
    for (Window w : Children(form))
      if (Viewable(w)) lists.push_back(w);
    return lists.size() == 1 ? lists.front() : 0;
  }

  // Inside entry row's check box, on the screen: the list has a 1-pixel
  // frame, entries are 13 pixels high and the box sits at their left end.
  static TRect BoxInterior(const TRect& list, int row) { return {list.X + 6, list.Y + 1 + row * 13 + 3, 8, 7}; }
  static int RowCentre(const TRect& list, int row) { return list.Y + 1 + row * 13 + 6; }

  using TBoxes = std::vector<std::vector<char>>;

  TBoxes GrabBoxes(const TRect& list) {
    GrabSettled({list.X, list.Y, list.Width, 7 * 13 + 2});
    TBoxes boxes;
    for (int row = 0; row < 7; ++row) boxes.push_back(Grab(BoxInterior(list, row)));
    return boxes;
  }

  // Which boxes look different from the unchecked ones.
  std::vector<bool> Marked(const TRect& list, const TBoxes& unchecked) {
    std::vector<bool> marked;
    for (int row = 0; row < 7; ++row) marked.push_back(Grab(BoxInterior(list, row)) != unchecked[row]);
    return marked;
  }

  bool WaitForMarks(const TRect& list, const TBoxes& unchecked, const std::vector<bool>& expected) {
    return WaitFor([&] { return Marked(list, unchecked) == expected; }, ReactionTimeout);
  }

  void CloseAndExpectCodeZero(TProcess& process, Window form) {
    RequestClose(form);
    std::optional<int> status = process.WaitForExit(ReactionTimeout);
    ASSERT_TRUE(status.has_value()) << "Marrowby did not end after the close request";
    ASSERT_TRUE(WIFEXITED(*status)) << "Marrowby ended abnormally, status " << *status;
    EXPECT_EQ(WEXITSTATUS(*status), 0);
  }

  Display* Dpy = nullptr;
};


TEST_F(MarrowbyX11, ShowsItsWindowTogglesAndClosesWithCodeZero) {
  TProcess process;
  ASSERT_GT(process.Id(), 0) << "cannot start " << MarrowbyPath;
  Window form = FindTopLevel(process.Id(), "Form1");
  ASSERT_NE(form, 0u) << "no window \"Form1\" appeared";
  EXPECT_EQ(Geometry(form, true), (TRect{192, 107, 870, 640}));

  Window list = ListWindow(form);
  ASSERT_NE(list, 0u) << "the form has not exactly one child window";
  EXPECT_EQ(Geometry(list, false), (TRect{24, 24, 425, 473}));

  TRect onScreen = Geometry(list, true);
  TBoxes unchecked = GrabBoxes(onScreen);
  ASSERT_EQ(unchecked[0].size(), 8u * 7u * 4u);
  for (int row = 1; row < 7; ++row) EXPECT_EQ(unchecked[row], unchecked[0]) << "box " << row + 1 << " is not empty";

  Click(onScreen.X + 10, RowCentre(onScreen, 2));
  EXPECT_TRUE(WaitForMarks(onScreen, unchecked, {false, false, true, false, false, false, false}))
      << "a click in the third box did not check it alone";

  Click(onScreen.X + 100, RowCentre(onScreen, 4));  // on the text: selects only
  PressSpace(form);
  EXPECT_TRUE(WaitForMarks(onScreen, unchecked, {false, false, true, false, true, false, false}))
      << "the space bar did not check the selected fifth entry";

  CloseAndExpectCodeZero(process, form);
}

TEST_F(MarrowbyX11, NewStartShowsAllEntriesUncheckedAndIgnoresArguments) {
  TBoxes firstStart;
  {
    TProcess process;
    Window form = FindTopLevel(process.Id(), "Form1");
    ASSERT_NE(form, 0u);
    TRect list = Geometry(ListWindow(form), true);
    firstStart = GrabBoxes(list);
    for (int row = 0; row < 7; ++row) Click(list.X + 10, RowCentre(list, row));
    ASSERT_TRUE(WaitForMarks(list, firstStart, std::vector<bool>(7, true)));
    CloseAndExpectCodeZero(process, form);
  }
  // Arguments that would send a Qt program elsewhere: Marrowby reads none.
  TProcess again({"-platform", "offscreen"});
  Window form = FindTopLevel(again.Id(), "Form1");
  ASSERT_NE(form, 0u) << "the second start showed no window on the display";
  TRect list = Geometry(ListWindow(form), true);
  EXPECT_EQ(GrabBoxes(list), firstStart) << "the second start shows checked entries";
  CloseAndExpectCodeZero(again, form);
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: marrowby_x11_test PATH_TO_MARROWBY\n");
    return 2;
  }
  MarrowbyPath = argv[1];
  return RUN_ALL_TESTS();
}
