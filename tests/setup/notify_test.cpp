#include <gtest/gtest.h>

#include "kvprtobj/kvprtobj.h"
#include "setup/internal/notify.h"

TEST(NotifyMessage, PostsOnlyWhileTheWindowExists) {
    HWND w = CreateMessageWindow(nullptr);
    EXPECT_NE(PostNotifyMessage(w, 9, 3), 0);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, w, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, 2024u);
    EXPECT_EQ(msg.wParam, 9u);
    EXPECT_EQ(msg.lParam, 3);
    DestroyWindow(w);
    EXPECT_EQ(PostNotifyMessage(w, 10, 0), 0);
    EXPECT_EQ(PostNotifyMessage(nullptr, 10, 0), 0);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}
