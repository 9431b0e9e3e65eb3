#include "setup/internal/notify.h"

#include "kvprtobj/quicksetup.h"

int PostNotifyMessage(HWND window, WPARAM wParam, LPARAM lParam) {
    if (!IsWindow(window)) return 0;
    return PostMessageA(window, QuickSetup::kNotifyMessage, wParam, lParam);
}
