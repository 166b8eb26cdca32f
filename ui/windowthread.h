// The window thread's message loop, one shape for the program's main loop and the loops that wait
// inside it.
#pragma once
#include <windows.h>

// Handles this thread's messages until done(data) is true after one of them (never, when done is
// null), keys for dialog (when not null) going through IsDialogMessage. False when the program is
// ending: WM_QUIT came, and *exitCode (when not null) holds its code. A loop inside another (done not
// null) passes the quit on, so that the main loop ends too.
bool runMessagesUntil(bool (*done)(void*), void* data, HWND dialog, int* exitCode);
