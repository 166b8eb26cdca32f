// The window thread's one message loop and its hold on the foreground.
#include "ui/windowthread.h"

#include "ui/uihost.h"

bool trayMenuOpen;

namespace {

const UINT frontCheckMs = 100;
const int frontChecks = 10;
int frontChecksLeft;
UINT_PTR frontTimer;

BOOL CALLBACK pickAnswerWindow(HWND window, LPARAM found)
{
    // Enumerated from the top: the first visible, enabled dialog is the one the user answers (the
    // owner of a modal dialog is disabled). Message boxes are dialogs too.
    wchar_t className[8];
    if (window == TrayWindow || !IsWindowVisible(window) || !IsWindowEnabled(window) ||
        GetClassNameW(window, className, 8) == 0 || lstrcmpW(className, L"#32770") != 0)
        return TRUE;  // hidden, waiting for a dialog of its own, or no dialog (the tray menu)
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

bool holdsFocus(HWND window)
{
    HWND focus = GetFocus();
    return focus != nullptr && (focus == window || IsChild(window, focus));
}

void CALLBACK checkFront(HWND, UINT, UINT_PTR, DWORD)
{
    if (--frontChecksLeft <= 0) {
        KillTimer(nullptr, frontTimer);
        frontTimer = 0;
    }
    if (trayMenuOpen)
        return;
    HWND answer = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), pickAnswerWindow, reinterpret_cast<LPARAM>(&answer));
    if (answer == nullptr)
        return;
    // A menu or window of the answer's own (a drop-down list) may have the foreground rightly.
    HWND front = GetForegroundWindow();
    if (front != answer && GetWindow(front, GW_OWNER) != answer) {
        SetForegroundWindow(answer);
        return;
    }
    if (front != answer)
        return;
    // In front, yet inactive, or the keys' focus elsewhere: it takes both.
    if (GetActiveWindow() != answer || !holdsFocus(answer))
        SetFocus(answer);
    // The program the activation went back to may have raised its window over it afterwards (seen under
    // Wine: the answer foreground, yet hidden behind, topmost or not). Asking for the top it has changes
    // nothing, so it leaves its band and comes back, which stacks it on top of the others again.
    const bool topmost = (GetWindowLongW(answer, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    const UINT restack = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE;
    SetWindowPos(answer, topmost ? HWND_NOTOPMOST : HWND_TOPMOST, 0, 0, 0, 0, restack);
    SetWindowPos(answer, topmost ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, restack);
}

}  // namespace

int runWindowLoop(bool (*dialogMessage)(MSG* message))
{
    MSG message;
    BOOL got;
    while ((got = GetMessageW(&message, nullptr, 0, 0)) > 0) {
        if (dialogMessage != nullptr && dialogMessage(&message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return got == 0 ? static_cast<int>(message.wParam) : 0;
}

void keepAnswerInFront()
{
    frontChecksLeft = frontChecks;
    if (frontTimer == 0)
        frontTimer = SetTimer(nullptr, 0, frontCheckMs, checkFront);
}
