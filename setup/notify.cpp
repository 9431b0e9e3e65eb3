#include "setup/internal/notify.h"

int PostNotifyMessage(HWND window, WPARAM wParam, LPARAM lParam) {
    if (!IsWindow(window)) return 0;
    return PostMessageA(window, KV_NOTIFY_MESSAGE, wParam, lParam);
}
