#include <gtest/gtest.h>

#include <thread>
#include <tuple>
#include <vector>

#include "kvprtobj/kvprtobj.h"

namespace {
struct Seen {
    std::vector<MSG> messages;
};
LRESULT recordingProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    static_cast<Seen*>(GetWindowUserData(w))->messages.push_back(MSG{w, m, wp, lp});
    return 7;
}
}  // namespace

TEST(MessageWindows, PostedFromAnotherThreadDispatchedByTheOwnerNoneOnceDestroyed) {
    Seen seen;
    HWND w = CreateMessageWindow(recordingProc, &seen);
    ASSERT_TRUE(IsWindow(w));
    std::thread([w] {
        for (int i = 0; i < 3; ++i) EXPECT_TRUE(PostMessageA(w, WM_USER + 1, static_cast<WPARAM>(i), -i));
    }).join();
    MSG msg;
    int taken = 0;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        EXPECT_EQ(DispatchMessageA(&msg), 7);
        ++taken;
    }
    ASSERT_EQ(std::tuple(taken, seen.messages.size()), std::tuple(3, 3u));
    EXPECT_EQ(std::tuple(seen.messages[2].wParam, seen.messages[2].lParam), std::tuple(2u, -2));
    // A destroyed window takes no messages.
    EXPECT_TRUE(DestroyWindow(w) && !IsWindow(w) && !PostMessageA(w, WM_USER, 0, 0));
    HWND next = CreateMessageWindow(nullptr);
    EXPECT_NE(next, w);   // handles are not reused
    EXPECT_FALSE(IsWindow(w));
    DestroyWindow(next);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST(MessageWindows, GetMessageWaitsAndStopsAtQuit) {
    HWND w = CreateMessageWindow(nullptr);
    std::thread poster([w] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        PostMessageA(w, WM_USER + 5, 1, 2);
    });
    MSG msg;
    ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, WM_USER + 5u);
    poster.join();
    PostQuitMessage(3);
    EXPECT_FALSE(GetMessageA(&msg, nullptr, 0, 0) || msg.wParam != 3u);
    EXPECT_EQ(GetMessageTimeout(&msg, nullptr, 10), -1);
    DestroyWindow(w);
}

TEST(MessageWindows, PeekFiltersByWindowAndRange) {
    HWND a = CreateMessageWindow(nullptr), b = CreateMessageWindow(nullptr);
    PostMessageA(a, 100, 0, 0);
    PostMessageA(b, 200, 0, 0);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, b, 0, 0, PM_NOREMOVE) && msg.message == 200u);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 150, 250, PM_REMOVE) && msg.hwnd == b);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) && msg.hwnd == a);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    DestroyWindow(a);
    DestroyWindow(b);
}
