// The window thread's message loop.
#include "ui/windowthread.h"

bool runMessagesUntil(bool (*done)(void*), void* data, HWND dialog, int* exitCode)
{
    MSG message;
    while (done == nullptr || !done(data)) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got <= 0) {
            const int code = got == 0 ? static_cast<int>(message.wParam) : 0;
            if (exitCode != nullptr)
                *exitCode = code;
            if (done != nullptr)
                PostQuitMessage(code);
            return false;
        }
        if (dialog != nullptr && IsDialogMessageW(dialog, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return true;
}
