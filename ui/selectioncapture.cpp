// Capturing the foreground program's selection onto the clipboard: the copy request, the copy keys for
// programs that ignore it, and the user's clipboard kept and put back.
#include "ui/selectioncapture.h"

#include <stddef.h>
#include <string.h>

#include "core/capturesteps.h"
#include "ui/uihost.h"

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

// With the clipboard open: its text, up to capacity - 1 characters, terminated; false without text.
bool copyClipboardText(wchar_t* text, int capacity)
{
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    const wchar_t* source = data ? static_cast<const wchar_t*>(GlobalLock(data)) : nullptr;
    if (!source)
        return false;
    // The data need not be terminated within its block: never read past the block.
    const size_t available = GlobalSize(data) / sizeof(wchar_t);
    int length = 0;
    while (length < capacity - 1 && static_cast<size_t>(length) < available && source[length]) {
        text[length] = source[length];
        length++;
    }
    text[length] = L'\0';
    GlobalUnlock(data);
    return true;
}

// The clipboard's owner renders delayed formats when they are read; an owner that does not answer
// within this long would hold the reader, and the box, past the capture's bound.
const UINT ownerAnswerMs = 250;

void freeKeptData(FormatKeeping how, HANDLE data)
{
    switch (how) {
    case FormatKeeping::enhancedMetafile:
        DeleteEnhMetaFile(static_cast<HENHMETAFILE>(data));
        break;
    case FormatKeeping::metafilePicture:
        if (const METAFILEPICT* picture = static_cast<const METAFILEPICT*>(GlobalLock(data))) {
            DeleteMetaFile(picture->hMF);
            GlobalUnlock(data);
        }
        GlobalFree(data);
        break;
    case FormatKeeping::bitmap:
    case FormatKeeping::palette:
        DeleteObject(data);
        break;
    default:
        GlobalFree(data);
        break;
    }
}

void freeKept(SelectionCapture* capture)
{
    for (int i = 0; i < capture->keptCount; i++) {
        if (capture->kept[i].data)
            freeKeptData(formatKeeping(capture->kept[i].format), capture->kept[i].data);
    }
    capture->keptCount = 0;
    capture->keptWhole = false;
}

// A copy of a memory block of the given size.
HGLOBAL copyOfBlock(HANDLE data, SIZE_T size)
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

HANDLE copyOfMetafilePicture(HANDLE data, SIZE_T room, SIZE_T* size)
{
    const METAFILEPICT* picture = static_cast<const METAFILEPICT*>(GlobalLock(data));
    if (!picture)
        return nullptr;
    METAFILEPICT copied = *picture;
    GlobalUnlock(data);
    *size = sizeof copied + GetMetaFileBitsEx(copied.hMF, 0, nullptr);
    if (*size > room)
        return nullptr;
    copied.hMF = CopyMetaFileW(copied.hMF, nullptr);
    HGLOBAL block = copied.hMF ? GlobalAlloc(GMEM_MOVEABLE, sizeof copied) : nullptr;
    void* target = block ? GlobalLock(block) : nullptr;
    if (!target) {
        if (block)
            GlobalFree(block);
        if (copied.hMF)
            DeleteMetaFile(copied.hMF);
        return nullptr;
    }
    memcpy(target, &copied, sizeof copied);
    GlobalUnlock(block);
    return block;
}

HANDLE copyOfPalette(HPALETTE palette, SIZE_T* size)
{
    const UINT count = GetPaletteEntries(palette, 0, 0, nullptr);
    *size = offsetof(LOGPALETTE, palPalEntry) + count * sizeof(PALETTEENTRY);
    LOGPALETTE* entries = count ? static_cast<LOGPALETTE*>(HeapAlloc(GetProcessHeap(), 0, *size)) : nullptr;
    if (!entries)
        return nullptr;
    entries->palVersion = 0x300;
    entries->palNumEntries = static_cast<WORD>(count);
    GetPaletteEntries(palette, 0, count, entries->palPalEntry);
    HPALETTE copy = CreatePalette(entries);
    HeapFree(GetProcessHeap(), 0, entries);
    return copy;
}

// A copy of one format's data, of at most room bytes, or null when it cannot be had.
HANDLE copyOfFormat(FormatKeeping how, HANDLE data, SIZE_T room, SIZE_T* size)
{
    *size = 0;
    switch (how) {
    case FormatKeeping::memoryBlock:
        *size = GlobalSize(data);
        return *size && *size <= room ? copyOfBlock(data, *size) : nullptr;
    case FormatKeeping::enhancedMetafile:
        *size = GetEnhMetaFileBits(static_cast<HENHMETAFILE>(data), 0, nullptr);
        return *size && *size <= room ? CopyEnhMetaFileW(static_cast<HENHMETAFILE>(data), nullptr) : nullptr;
    case FormatKeeping::metafilePicture:
        return copyOfMetafilePicture(data, room, size);
    case FormatKeeping::bitmap: {
        BITMAP facts;
        if (!GetObjectW(data, sizeof facts, &facts))
            return nullptr;
        *size = static_cast<SIZE_T>(facts.bmWidthBytes) * static_cast<SIZE_T>(facts.bmHeight);
        return *size <= room ? CopyImage(data, IMAGE_BITMAP, 0, 0, 0) : nullptr;
    }
    case FormatKeeping::palette: {
        HANDLE copy = copyOfPalette(static_cast<HPALETTE>(data), size);
        if (copy && *size > room) {
            DeleteObject(copy);
            copy = nullptr;
        }
        return copy;
    }
    case FormatKeeping::uncopyable:
        break;
    }
    return nullptr;
}

bool ownerAnswers()
{
    HWND owner = GetClipboardOwner();
    if (!owner || GetWindowThreadProcessId(owner, nullptr) == GetCurrentThreadId())
        return true;
    DWORD_PTR ignored = 0;
    return SendMessageTimeoutW(owner, WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, ownerAnswerMs,
                               &ignored) != 0;
}

// Keeps every format the clipboard offers, all or nothing: a format that cannot be copied, more than
// the limits, or an owner that does not answer leaves nothing kept, and the capture then leaves the
// clipboard alone. The sequence number is taken while the clipboard is open, so nothing slips in
// between the keeping and the count the capture compares with.
void keepClipboard(SelectionCapture* capture)
{
    capture->readable = ownerAnswers();
    if (!capture->readable || !openClipboardPatiently(TrayWindow))
        return;
    capture->sequenceBefore = GetClipboardSequenceNumber();
    const bool dibOffered = IsClipboardFormatAvailable(CF_DIB) || IsClipboardFormatAvailable(CF_DIBV5);
    SIZE_T total = 0;
    bool whole = true;
    for (UINT format = EnumClipboardFormats(0); format != 0 && whole; format = EnumClipboardFormats(format)) {
        if (restoredFromOtherFormats(format, dibOffered))
            continue;
        const FormatKeeping how = formatKeeping(format);
        HANDLE data = how == FormatKeeping::uncopyable ? nullptr : GetClipboardData(format);
        SIZE_T size = 0;
        HANDLE copy = data && capture->keptCount < maxKeptFormats
                          ? copyOfFormat(how, data, maxKeptBytes - total, &size)
                          : nullptr;
        if (!copy) {
            whole = false;
            break;
        }
        capture->kept[capture->keptCount++] = {format, copy};
        total += size;
    }
    CloseClipboard();
    capture->keptWhole = whole;
    if (!whole)
        freeKept(capture);
}

// With the clipboard open: puts every kept format back. The clipboard takes the data it accepts.
bool putClipboardBack(SelectionCapture* capture)
{
    if (!EmptyClipboard())
        return false;
    bool all = true;
    for (int i = 0; i < capture->keptCount; i++) {
        if (SetClipboardData(capture->kept[i].format, capture->kept[i].data))
            capture->kept[i].data = nullptr;
        else
            all = false;
    }
    return all;
}

// Whether the clipboard's present owner is a window of the program the capture asked (a copy made
// without an owner window cannot be told apart and counts as the asked program's).
bool ownedBy(DWORD program)
{
    HWND owner = GetClipboardOwner();
    DWORD process = 0;
    return !owner || (GetWindowThreadProcessId(owner, &process) && process == program);
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

DWORD processOf(HWND window)
{
    DWORD process = 0;
    return window && GetWindowThreadProcessId(window, &process) ? process : 0;
}

CaptureObservation observe(const SelectionCapture* capture)
{
    CaptureObservation seen;
    seen.nowMs = GetTickCount();
    seen.clipboardChanged = GetClipboardSequenceNumber() != capture->sequenceBefore;
    seen.controlAnswered = capture->answered;
    return seen;
}

}  // namespace

CapturedClipboard startSelectionCapture(SelectionCapture* capture, bool keep)
{
    ZeroMemory(capture, sizeof *capture);
    capture->keep = keep;
    capture->readable = true;
    if (keep) {
        keepClipboard(capture);
        capture->untouched = !capture->keptWhole;
    } else {
        capture->sequenceBefore = GetClipboardSequenceNumber();
    }

    // The word box is not visible yet, so the foreground thread is still the user's program.
    GUITHREADINFO info;
    ZeroMemory(&info, sizeof info);
    info.cbSize = sizeof info;
    HWND focus = GetGUIThreadInfo(0, &info) ? info.hwndFocus : nullptr;
    HWND front = GetForegroundWindow();
    capture->program = processOf(focus ? focus : front);
    const bool another = front && capture->program && capture->program != GetCurrentProcessId();
    const bool ask = !capture->untouched;
    beginWordCapture(&capture->steps, GetTickCount(), ask && focus != nullptr, ask && another);
    for (;;) {
        switch (nextCaptureAction(&capture->steps, observe(capture))) {
        case CaptureAction::finished:
            return capture->steps.copied ? CapturedClipboard::copied : CapturedClipboard::none;
        case CaptureAction::requestCopy:
            capture->answered = askFocusedControl(focus);
            break;
        case CaptureAction::typeCopyKeys:
            // What the box shows until the copy lands, read while nobody is copying yet.
            if (capture->readable && openClipboardPatiently(TrayWindow)) {
                capture->hasTextBefore = copyClipboardText(capture->textBefore, maxWideInput + 1);
                CloseClipboard();
            }
            // Handed over: the copy is awaited with the box up.
            typeCopyKeys();
            return CapturedClipboard::waiting;
        case CaptureAction::wait:
            waitSlice(captureSliceMs);
            break;
        }
    }
}

CapturedClipboard pollSelectionCapture(SelectionCapture* capture)
{
    if (capture->over)
        return CapturedClipboard::none;
    if (nextCaptureAction(&capture->steps, observe(capture)) != CaptureAction::finished)
        return CapturedClipboard::waiting;
    return capture->steps.copied ? CapturedClipboard::copied : CapturedClipboard::none;
}

bool readCapturedText(SelectionCapture* capture, CapturedClipboard state, wchar_t* text, int capacity)
{
    text[0] = L'\0';
    if (state == CapturedClipboard::waiting) {
        lstrcpynW(text, capture->textBefore, capacity);
        return capture->hasTextBefore;
    }
    // An owner that does not answer would hold the box while it renders its text.
    if (!capture->readable)
        return false;
    const bool restoring = state == CapturedClipboard::copied && capture->keep && capture->keptWhole;
    // The copying program may still be adding formats; once it lets the clipboard go, the copy is whole.
    if (!openClipboardPatiently(TrayWindow)) {
        capture->restoreFailed = restoring;
        return false;
    }
    const bool read = copyClipboardText(text, capacity);
    if (restoring) {
        // Decided with the clipboard open, so no other program's copy can come in between.
        // An earlier read that found the clipboard still held said nothing final: this one decides.
        capture->restoreFailed =
            shouldRestoreClipboard(capture->keptWhole, capture->sequenceBefore, GetClipboardSequenceNumber(),
                                   ownedBy(capture->program)) &&
            !putClipboardBack(capture);
        freeKept(capture);
    }
    CloseClipboard();
    return read;
}

bool endSelectionCapture(SelectionCapture* capture, wchar_t* text, int capacity)
{
    if (capture->over)
        return false;
    CapturedClipboard state = pollSelectionCapture(capture);
    // Without a clipboard to put back, a copy landing later changes nothing that was promised.
    while (state == CapturedClipboard::waiting && capture->keep && capture->keptWhole) {
        waitSlice(captureSliceMs);
        state = pollSelectionCapture(capture);
    }
    bool read = false;
    if (state == CapturedClipboard::copied && capture->keep && capture->keptWhole) {
        wchar_t ignored[2];
        read = readCapturedText(capture, state, text ? text : ignored, text ? capacity : 2);
    }
    freeKept(capture);
    capture->over = true;
    return read && text != nullptr;
}
