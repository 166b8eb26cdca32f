// Capturing the foreground program's selection onto the clipboard: the copy request, the copy keys for
// programs that ignore it, and the user's clipboard kept and put back.
#include "ui/selectioncapture.h"

#include <string.h>

#include "app/trayapp.h"
#include "core/capturesteps.h"

namespace {

// Another program (or the system's own clipboard bridge) may hold the clipboard open for a moment.
const int openAttempts = 20;
const DWORD openRetryMs = 5;

const int keyDownBit = 0x8000;

// The virtual key of each CaptureKey, and whether it is one of the keyboard's extended keys.
struct KeyCode {
    WORD virtualKey;
    bool extended;
};
const KeyCode keyCodes[] = {
    {VK_LSHIFT, false}, {VK_RSHIFT, false}, {VK_LCONTROL, false}, {VK_RCONTROL, true}, {VK_LMENU, false},
    {VK_RMENU, true},   {VK_LWIN, true},    {VK_RWIN, true},      {VK_INSERT, true},
};
const int modifierKeyCount = keyInsert;

// Waits one slice, still answering messages other threads send to this one: a program that empties
// the clipboard this program owns waits for its answer.
void waitSlice(DWORD milliseconds)
{
    MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds, QS_SENDMESSAGE);
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

bool openClipboardPatiently(HWND owner)
{
    for (int attempt = 0; attempt < openAttempts; attempt++) {
        if (OpenClipboard(owner))
            return true;
        waitSlice(openRetryMs);
    }
    return false;
}

void freeKept(SelectionCapture* capture)
{
    for (int i = 0; i < capture->keptCount; i++) {
        if (capture->kept[i].data)
            GlobalFree(capture->kept[i].data);
    }
    capture->keptCount = 0;
    capture->keptWhole = false;
}

// A copy of one format's data, or null when it has none that can be copied.
HGLOBAL copyOfData(HANDLE data, SIZE_T size)
{
    const void* source = GlobalLock(data);
    if (!source)
        return nullptr;
    HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, size);
    void* target = copy ? GlobalLock(copy) : nullptr;
    if (target) {
        memcpy(target, source, size);
        GlobalUnlock(copy);
    } else if (copy) {
        GlobalFree(copy);
        copy = nullptr;
    }
    GlobalUnlock(data);
    return copy;
}

// Keeps every format that lives in global memory. All or nothing: a clipboard too large to keep
// whole is not put back in part.
void keepClipboard(SelectionCapture* capture)
{
    if (!openClipboardPatiently(TrayWindow))
        return;
    SIZE_T total = 0;
    bool whole = true;
    for (UINT format = EnumClipboardFormats(0); format != 0 && whole; format = EnumClipboardFormats(format)) {
        if (!isCopyableClipboardFormat(format))
            continue;
        HANDLE data = GetClipboardData(format);
        const SIZE_T size = data ? GlobalSize(data) : 0;
        if (size == 0)
            continue;
        if (capture->keptCount == maxKeptFormats || size > maxKeptBytes - total) {
            whole = false;
            break;
        }
        HGLOBAL copy = copyOfData(data, size);
        if (!copy)
            continue;
        capture->kept[capture->keptCount++] = {format, copy};
        total += size;
    }
    CloseClipboard();
    capture->keptWhole = whole;
    if (!whole)
        freeKept(capture);
}

void putClipboardBack(SelectionCapture* capture)
{
    if (!openClipboardPatiently(TrayWindow))
        return;
    if (EmptyClipboard()) {
        for (int i = 0; i < capture->keptCount; i++) {
            // Data the clipboard took is the system's now.
            if (SetClipboardData(capture->kept[i].format, capture->kept[i].data))
                capture->kept[i].data = nullptr;
        }
    }
    CloseClipboard();
}

unsigned heldModifiers()
{
    unsigned held = 0;
    for (int key = 0; key < modifierKeyCount; key++) {
        if (GetAsyncKeyState(keyCodes[key].virtualKey) & keyDownBit)
            held |= keyBit(static_cast<CaptureKey>(key));
    }
    return held;
}

void typeCopyKeys()
{
    KeyStroke strokes[maxCopyKeystrokes];
    const int count = planCopyKeystrokes(heldModifiers(), strokes, maxCopyKeystrokes);
    INPUT inputs[maxCopyKeystrokes];
    ZeroMemory(inputs, sizeof inputs);
    for (int i = 0; i < count; i++) {
        const KeyCode& code = keyCodes[strokes[i].key];
        inputs[i].type = INPUT_KEYBOARD;
        inputs[i].ki.wVk = code.virtualKey;
        inputs[i].ki.wScan = static_cast<WORD>(MapVirtualKeyW(code.virtualKey, MAPVK_VK_TO_VSC));
        inputs[i].ki.dwFlags =
            (strokes[i].up ? KEYEVENTF_KEYUP : 0) | (code.extended ? KEYEVENTF_EXTENDEDKEY : 0);
    }
    SendInput(static_cast<UINT>(count), inputs, sizeof(INPUT));
}

bool askFocusedControl(HWND focus)
{
    DWORD_PTR ignored = 0;
    return SendMessageTimeoutW(focus, WM_COPY, 0, 0, SMTO_ABORTIFHUNG, captureBudgetMs, &ignored) != 0;
}

bool foregroundIsAnotherProgram()
{
    HWND front = GetForegroundWindow();
    DWORD process = 0;
    return front && GetWindowThreadProcessId(front, &process) && process != GetCurrentProcessId();
}

}  // namespace

void captureSelection(SelectionCapture* capture, bool keep)
{
    capture->keep = keep;
    capture->keptWhole = false;
    capture->keptCount = 0;
    if (keep)
        keepClipboard(capture);
    capture->sequenceBefore = GetClipboardSequenceNumber();

    // The word box is not visible yet, so the foreground thread is still the user's program.
    GUITHREADINFO info;
    ZeroMemory(&info, sizeof info);
    info.cbSize = sizeof info;
    HWND focus = GetGUIThreadInfo(0, &info) ? info.hwndFocus : nullptr;

    WordCapture steps;
    beginWordCapture(&steps, GetTickCount(), focus != nullptr, foregroundIsAnotherProgram());
    bool answered = false;
    for (;;) {
        CaptureObservation seen;
        seen.nowMs = GetTickCount();
        seen.clipboardChanged = GetClipboardSequenceNumber() != capture->sequenceBefore;
        seen.controlAnswered = answered;
        seen.modifiersHeld = (heldModifiers() & blockingModifiers) != 0;
        const CaptureAction action = nextCaptureAction(&steps, seen);
        if (action == CaptureAction::finished)
            break;
        switch (action) {
        case CaptureAction::requestCopy:
            answered = askFocusedControl(focus);
            break;
        case CaptureAction::typeCopyKeys:
            typeCopyKeys();
            break;
        default:
            waitSlice(captureSliceMs);
            break;
        }
    }
    // The copying program may still be adding formats; once it lets the clipboard go, the copy is
    // complete and its sequence number is the one the word is read at.
    if (steps.copied && openClipboardPatiently(TrayWindow))
        CloseClipboard();
    capture->sequenceAtRead = GetClipboardSequenceNumber();
}

void finishSelectionCapture(SelectionCapture* capture)
{
    if (capture->keep && shouldRestoreClipboard(capture->keptWhole, capture->sequenceBefore,
                                                capture->sequenceAtRead, GetClipboardSequenceNumber())) {
        putClipboardBack(capture);
    }
    freeKept(capture);
}
