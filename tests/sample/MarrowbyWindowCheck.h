// What both window tests check on the real Marrowby, as its user sees it: a
// window "Form1" at (192, 107), 870 x 640; seven entries, unchecked; typing
// "1" to "7" selects the first to the seventh entry in turn, the space bar
// checks each and unchecks it again; closing the window ends the program with
// exit code 0. A driver per window system starts it, types and reads the screen.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace std::chrono_literals;

struct TRect {
    int X, Y, Width, Height;
    bool operator==(const TRect&) const = default;
};

inline void PrintTo(const TRect& r, std::ostream* os) {
    *os << "(" << r.X << ", " << r.Y << ") " << r.Width << " x " << r.Height;
}

inline char* const MarrowbyPath = std::getenv("MARROWBY_EXE");  // the program under test

using TPixels = std::vector<std::uint32_t>;  // 0xRRGGBB, row by row

// Polls condition every 50 ms until it holds or timeout passes.
template <class TCondition>
bool WaitFor(TCondition condition, std::chrono::milliseconds timeout) {
    for (auto end = std::chrono::steady_clock::now() + timeout; !condition(); std::this_thread::sleep_for(50ms))
        if (std::chrono::steady_clock::now() > end) return false;
    return true;
}

inline bool Dark(std::uint32_t rgb) { return (rgb >> 16 & 255) < 100 && (rgb >> 8 & 255) < 100 && (rgb & 255) < 100; }
inline bool Blank(const TPixels& p) { return std::adjacent_find(p.begin(), p.end(), std::not_equal_to<>()) == p.end(); }

// The screen area of entry row: entries are 13 pixels high, as stored.
template <class TDriver>
TRect EntryArea(TDriver& marrowby, int row, int rows = 1) {
    TRect list = marrowby.Entries();
    return {list.X, list.Y + row * 13, list.Width, rows * 13};
}

// Which of the seven check boxes show a tick: a dark pixel inside the light box.
template <class TDriver>
std::vector<bool> Ticks(TDriver& marrowby) {
    std::vector<bool> ticks;
    for (int row = 0; row < 7; ++row) {
        TRect entry = EntryArea(marrowby, row), in = TDriver::BoxInside;
        TPixels box = marrowby.Grab({entry.X + in.X, entry.Y + in.Y, in.Width, in.Height});
        ticks.push_back(std::any_of(box.begin(), box.end(), Dark));
    }
    return ticks;
}

// Waits until the list shows its first entry and has kept one picture for
// 300 ms, with ticks where expected and nowhere else. Only a settled picture
// is judged: a list still being painted may look empty.
template <class TDriver>
testing::AssertionResult ShowsTicks(TDriver& marrowby, const std::vector<bool>& expected) {
    TPixels last;
    std::vector<bool> ticks;
    auto settled = [&] {
        std::this_thread::sleep_for(300ms);
        bool same = std::exchange(last, marrowby.Grab(EntryArea(marrowby, 0, 8))) == last;
        ticks = same && !Blank(marrowby.Grab(EntryArea(marrowby, 0))) ? Ticks(marrowby) : std::vector<bool>();
        return ticks == expected;
    };
    if (WaitFor(settled, 15s)) return testing::AssertionSuccess();
    return testing::AssertionFailure() << (ticks.empty() ? "the list shows no settled picture with a first entry"
                                                         : "the list shows ticks " + testing::PrintToString(ticks));
}

template <class TDriver>
void CheckMarrowbyWindow(TDriver& marrowby) {
    ASSERT_TRUE(marrowby.FindForm()) << "Marrowby (MARROWBY_EXE) did not start, or showed no window with its list";
    EXPECT_EQ(marrowby.Title(), "Form1");
    EXPECT_EQ(marrowby.FormRect(), (TRect{192, 107, 870, 640}));
    std::vector<bool> expected(7, false);
    EXPECT_TRUE(ShowsTicks(marrowby, expected)) << "at the start";
    EXPECT_TRUE(Blank(marrowby.Grab(EntryArea(marrowby, 7)))) << "the list shows an eighth entry";
    for (char entry = '1'; entry <= '7'; ++entry) {
        std::this_thread::sleep_for(500ms);  // a list may join keys typed in quick succession into one search
        marrowby.Type(entry);
        marrowby.Type(' ');
        expected[entry - '1'] = true;
        EXPECT_TRUE(ShowsTicks(marrowby, expected)) << "after typing " << entry << " and space";
    }
    marrowby.Type(' ');
    expected[6] = false;
    EXPECT_TRUE(ShowsTicks(marrowby, expected)) << "after space again";
    EXPECT_EQ(marrowby.Close(), std::optional<int>(0)) << "closing the window did not end Marrowby with code 0";
}
