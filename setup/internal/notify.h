// Posting Quick Setup notifications to a host window. Not part of the public
// headers: only the Quick Setup workers use it.
#pragma once

#include "kvprtobj/fw_window.h"

// 0 when `window` is no longer a window; otherwise the result of posting
// message 2024 with wParam and lParam to it.
KVPO_API int PostNotifyMessage(HWND window, WPARAM wParam, LPARAM lParam);
