// Message windows. A window belongs to the thread that created it; messages
// posted to it from any thread wait in that thread's queue until the thread
// takes them with PeekMessageA or GetMessageA and hands them to the window's
// procedure with DispatchMessageA. Window handles are never reused, so a
// destroyed window's handle stays invalid.
#pragma once

#include "kvprtobj/fw_base.h"

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_USER = 0x0400;
constexpr UINT PM_NOREMOVE = 0;
constexpr UINT PM_REMOVE = 1;

// Creates a message window owned by the calling thread; `userData` is kept
// for the procedure (GetWindowUserData). `proc` may be null: messages are then
// only queued and taken.
KVPO_API HWND CreateMessageWindow(WNDPROC proc, void* userData = nullptr);
KVPO_API BOOL DestroyWindow(HWND window);
KVPO_API BOOL IsWindow(HWND window);
KVPO_API void* GetWindowUserData(HWND window);

// Queues a message for the window's owning thread; FALSE when `window` is not a window.
KVPO_API BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Queues WM_QUIT for the calling thread.
KVPO_API void PostQuitMessage(int exitCode);

// The calling thread's queue. A null `window` filter takes messages of any
// window; min and max 0 take every message.
KVPO_API BOOL PeekMessageA(MSG* msg, HWND window, UINT min, UINT max, UINT removeFlags);
// Blocks until a message arrives; returns FALSE for WM_QUIT.
KVPO_API BOOL GetMessageA(MSG* msg, HWND window, UINT min, UINT max);
// As GetMessageA with a time-out: -1 when none arrived in `timeoutMs` milliseconds.
KVPO_API int GetMessageTimeout(MSG* msg, HWND window, unsigned long timeoutMs);
KVPO_API BOOL TranslateMessage(const MSG* msg);
// Calls the procedure of msg->hwnd; 0 when the window is gone or has no procedure.
KVPO_API LRESULT DispatchMessageA(const MSG* msg);
