// keyview.exe: test helper that stands in for a browser-like program, and sets and reads the clipboard.
//
//   keyview view <log file> <word or -> <keys|copy|hang>
//       A window whose view holds <word> selected ("-": nothing selected). keys: the view ignores
//       WM_COPY and copies only on Ctrl+C or Ctrl+Insert; copy: it also answers WM_COPY; hang: WM_COPY
//       keeps it busy for four seconds; copy-grab: it answers WM_COPY and, before it returns, lets a
//       waiting "grabclip" take the clipboard; keys-late: as keys, but the copy lands 600 ms after the keys;
//       copy-hold: it answers WM_COPY and keeps the clipboard open for 140 ms after its copy.
//       Every keystroke it receives is logged with the modifier state.
//   keyview setclip <text>   the clipboard gets the text, a registered format of 256 bytes and a 2x2 DIB
//   keyview setclip-emf      the clipboard gets only an enhanced metafile
//   keyview setclip-private <text>       the text and a private format (CF_PRIVATEFIRST) of 256 bytes
//   keyview setclip-many <text> <count>  the text and <count> registered formats of 16 bytes each
//   keyview setclip-delayed <text>       the text and a delay-rendered format, then stays busy for three
//                                        seconds before it renders it on demand (for ten more)
//   keyview grabclip <text>  another program: once copy-grab's view has copied, opens the clipboard, holds
//                            it for 60 ms and copies the text
//   keyview minimal <log>    a minimal word box: on Ctrl+Shift+D sends WM_COPY to the focused window, reads
//                            the clipboard and shows it in a window ("Minimal Box", Escape closes it)
//   keyview getclip          prints "clip format= size= hash=" per format and "text value=" for its text;
//                            metafiles are hashed by their bits
//
// Log lines: "<ms> <event> key=value ...", flushed at once so that the test can read them while it runs.
#include <windows.h>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const wchar_t windowClass[] = L"KeyViewWindow";
const wchar_t paneClass[] = L"KeyViewPane";
const char testFormatName[] = "Lexitray Test Bytes";
const int wordCapacity = 256;
const DWORD hangMs = 4000;
const DWORD ownerBusyMs = 3000;
const DWORD ownerRendersMs = 10000;
const DWORD grabHoldMs = 60;
const DWORD grabWaitMs = 30000;
const wchar_t grabEventName[] = L"LexitrayTestGrab";
const wchar_t grabbedEventName[] = L"LexitrayTestGrabbed";
const char delayedFormatName[] = "Lexitray Test Delayed";
const int hotkeyId = 1;
const UINT_PTR lateCopyTimer = 1;
const UINT lateCopyMs = 600;
const UINT_PTR holdTimer = 2;
const UINT holdMs = 140;
const int keyDownBit = 0x8000;

FILE* logFile;
wchar_t selectedWord[wordCapacity];
enum class Mode { keys, copy, hang, copyGrab, keysLate, copyHold, keysPicture } mode;
HWND pane;

bool down(int virtualKey) { return (GetKeyState(virtualKey) & keyDownBit) != 0; }

void logLine(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    fprintf(logFile, "%lu ", static_cast<unsigned long>(GetTickCount()));
    vfprintf(logFile, format, args);
    fputc('\n', logFile);
    fflush(logFile);
    va_end(args);
}

void logKey(const char* kind, WPARAM virtualKey, bool system)
{
    logLine("%s vk=0x%02x ctrl=%d shift=%d alt=%d win=%d sys=%d", kind, static_cast<unsigned>(virtualKey),
            down(VK_CONTROL), down(VK_SHIFT), down(VK_MENU), down(VK_LWIN) || down(VK_RWIN), system ? 1 : 0);
}

// Copies the selected word; with hold, the clipboard stays open until the hold timer closes it.
void copySelection(const char* how, bool hold = false)
{
    if (!selectedWord[0]) {
        logLine("nothing-to-copy how=%s", how);
        return;
    }
    if (!OpenClipboard(pane)) {
        logLine("copy-failed how=%s", how);
        return;
    }
    EmptyClipboard();
    const size_t bytes = (wcslen(selectedWord) + 1) * sizeof(wchar_t);
    HGLOBAL data = GlobalAlloc(GMEM_MOVEABLE, bytes);
    memcpy(GlobalLock(data), selectedWord, bytes);
    GlobalUnlock(data);
    // A drawing program's copy holds no text: the same bytes under a format of its own.
    SetClipboardData(mode == Mode::keysPicture ? RegisterClipboardFormatA(testFormatName) : CF_UNICODETEXT,
                     data);
    if (hold)
        SetTimer(pane, holdTimer, holdMs, nullptr);
    else
        CloseClipboard();
    logLine("copied how=%s", how);
}

// Wakes the waiting grabclip and returns once it holds the clipboard, answering messages sent meanwhile
// (emptying the clipboard this view owns waits for its answer).
void letGrabberIn()
{
    HANDLE grab = CreateEventW(nullptr, TRUE, FALSE, grabEventName);
    HANDLE grabbed = CreateEventW(nullptr, TRUE, FALSE, grabbedEventName);
    SetEvent(grab);
    const DWORD until = GetTickCount() + grabWaitMs / 10;
    bool held = false;
    while (!held && GetTickCount() < until) {
        held = MsgWaitForMultipleObjects(1, &grabbed, FALSE, until - GetTickCount(), QS_SENDMESSAGE) ==
               WAIT_OBJECT_0;
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    logLine("grab held=%d", held ? 1 : 0);
    CloseHandle(grab);
    CloseHandle(grabbed);
}

void onKeyDown(WPARAM virtualKey, bool system)
{
    logKey("keydown", virtualKey, system);
    const bool plainCtrl = down(VK_CONTROL) && !down(VK_SHIFT) && !down(VK_MENU);
    if (plainCtrl && (virtualKey == VK_INSERT || virtualKey == 'C')) {
        if (mode == Mode::keysLate)
            SetTimer(pane, lateCopyTimer, lateCopyMs, nullptr);
        else
            copySelection(virtualKey == VK_INSERT ? "ctrl+insert" : "ctrl+c");
    }
}

void paintPane(HWND hwnd)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(hwnd, &paint);
    SetBkColor(dc, GetSysColor(COLOR_HIGHLIGHT));
    SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
    TextOutW(dc, 10, 10, selectedWord, static_cast<int>(wcslen(selectedWord)));
    EndPaint(hwnd, &paint);
}

LRESULT CALLBACK paneProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        onKeyDown(wParam, message == WM_SYSKEYDOWN);
        break;
    case WM_KEYUP:
    case WM_SYSKEYUP:
        logKey("keyup", wParam, message == WM_SYSKEYUP);
        break;
    case WM_COPY:
        logLine("wmcopy mode=%d", static_cast<int>(mode));
        if (mode == Mode::copy || mode == Mode::copyGrab)
            copySelection("wm_copy");
        else if (mode == Mode::copyHold)
            copySelection("wm_copy", true);
        else if (mode == Mode::hang)
            Sleep(hangMs);
        if (mode == Mode::copyGrab)
            letGrabberIn();
        return 0;
    case WM_PAINT:
        paintPane(hwnd);
        return 0;
    case WM_TIMER:
        KillTimer(hwnd, wParam);
        if (wParam == holdTimer) {
            CloseClipboard();
            logLine("released");
        } else {
            copySelection("late");
        }
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_ACTIVATE:
        logLine("active state=%d", LOWORD(wParam) != WA_INACTIVE ? 1 : 0);
        break;
    case WM_SETFOCUS:
        SetFocus(pane);
        return 0;
    case WM_SIZE:
        MoveWindow(pane, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_KEYMENU)
            logLine("menu");
        break;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

int runView(const char* logPath, const char* word, const char* modeName)
{
    logFile = fopen(logPath, "a");
    if (!logFile)
        return 2;
    if (strcmp(word, "-") != 0)
        MultiByteToWideChar(CP_UTF8, 0, word, -1, selectedWord, wordCapacity);
    selectedWord[wordCapacity - 1] = 0;
    mode = strcmp(modeName, "copy") == 0           ? Mode::copy
           : strcmp(modeName, "hang") == 0         ? Mode::hang
           : strcmp(modeName, "copy-grab") == 0    ? Mode::copyGrab
           : strcmp(modeName, "keys-late") == 0    ? Mode::keysLate
           : strcmp(modeName, "copy-hold") == 0    ? Mode::copyHold
           : strcmp(modeName, "keys-picture") == 0 ? Mode::keysPicture
                                                   : Mode::keys;

    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW frame = {};
    frame.lpfnWndProc = windowProc;
    frame.hInstance = instance;
    frame.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    frame.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    frame.lpszClassName = windowClass;
    WNDCLASSW view = frame;
    view.lpfnWndProc = paneProc;
    view.lpszClassName = paneClass;
    RegisterClassW(&frame);
    RegisterClassW(&view);
    HWND window = CreateWindowW(windowClass, L"Key View", WS_OVERLAPPEDWINDOW, 100, 100, 420, 160, nullptr,
                                nullptr, instance, nullptr);
    pane = CreateWindowW(paneClass, L"", WS_CHILD | WS_VISIBLE, 0, 0, 400, 120, window, nullptr, instance,
                         nullptr);
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    SetFocus(pane);
    logLine("ready");
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    fclose(logFile);
    return 0;
}

HGLOBAL globalCopy(const void* bytes, size_t size)
{
    HGLOBAL data = GlobalAlloc(GMEM_MOVEABLE, size);
    memcpy(GlobalLock(data), bytes, size);
    GlobalUnlock(data);
    return data;
}

int setClipboard(const char* text)
{
    wchar_t wide[wordCapacity] = {};
    MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, wordCapacity - 1);
    unsigned char bytes[256];
    for (int i = 0; i < 256; i++)
        bytes[i] = static_cast<unsigned char>(255 - i);
    // A 2x2 picture, 24 bits a pixel, rows padded to four bytes.
    struct {
        BITMAPINFOHEADER header;
        unsigned char pixels[16];
    } picture = {};
    picture.header.biSize = sizeof picture.header;
    picture.header.biWidth = 2;
    picture.header.biHeight = 2;
    picture.header.biPlanes = 1;
    picture.header.biBitCount = 24;
    picture.header.biCompression = BI_RGB;
    picture.header.biSizeImage = sizeof picture.pixels;
    for (int i = 0; i < 16; i++)
        picture.pixels[i] = static_cast<unsigned char>(i * 16);
    for (int attempt = 0; attempt < 50 && !OpenClipboard(nullptr); attempt++)
        Sleep(20);
    EmptyClipboard();
    SetClipboardData(CF_UNICODETEXT, globalCopy(wide, (wcslen(wide) + 1) * sizeof(wchar_t)));
    SetClipboardData(RegisterClipboardFormatA(testFormatName), globalCopy(bytes, sizeof bytes));
    SetClipboardData(CF_DIB, globalCopy(&picture, sizeof picture));
    CloseClipboard();
    printf("set sequence=%lu\n", static_cast<unsigned long>(GetClipboardSequenceNumber()));
    return 0;
}

unsigned long fnv1a(const unsigned char* bytes, size_t size)
{
    unsigned long hash = 2166136261ul;
    for (size_t i = 0; i < size; i++)
        hash = ((hash ^ bytes[i]) * 16777619ul) & 0xFFFFFFFFul;
    return hash;
}

void printText(const wchar_t* text, size_t capacity)
{
    char utf8[4 * wordCapacity] = {};
    size_t length = 0;
    while (length < capacity && length < wordCapacity && text[length])
        length++;
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), utf8, sizeof utf8 - 1, nullptr, nullptr);
    printf("text value=\"");
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(utf8); *p; ++p) {
        if (*p == '"' || *p == '\\')
            printf("\\%c", *p);
        else if (*p < 32 || *p >= 127)
            printf("\\x%02x", *p);
        else
            putchar(*p);
    }
    printf("\"\n");
}

// A metafile's bits (after the picture's mapping mode and extents) as one "clip" line.
void printMetafile(UINT format)
{
    HANDLE data = GetClipboardData(format);
    unsigned char* bits = nullptr;
    UINT size = 0;
    if (format == CF_ENHMETAFILE && data) {
        size = GetEnhMetaFileBits(static_cast<HENHMETAFILE>(data), 0, nullptr);
        bits = static_cast<unsigned char*>(malloc(size));
        GetEnhMetaFileBits(static_cast<HENHMETAFILE>(data), size, bits);
    } else if (const METAFILEPICT* picture =
                   data ? static_cast<const METAFILEPICT*>(GlobalLock(data)) : nullptr) {
        const UINT header = 3 * sizeof(LONG);
        size = header + GetMetaFileBitsEx(picture->hMF, 0, nullptr);
        bits = static_cast<unsigned char*>(malloc(size));
        const LONG facts[3] = {picture->mm, picture->xExt, picture->yExt};
        memcpy(bits, facts, header);
        GetMetaFileBitsEx(picture->hMF, size - header, bits + header);
        GlobalUnlock(data);
    }
    printf("clip format=%u name=\"\" size=%u hash=0x%08lx\n", format, size, bits ? fnv1a(bits, size) : 0ul);
    free(bits);
}

bool openClipboardFor(HWND owner)
{
    for (int attempt = 0; attempt < 50; attempt++) {
        if (OpenClipboard(owner))
            return true;
        Sleep(20);
    }
    return false;
}

int setEnhancedMetafile()
{
    HDC dc = CreateEnhMetaFileW(nullptr, nullptr, nullptr, L"Lexitray test\0picture\0");
    Rectangle(dc, 10, 10, 120, 80);
    TextOutW(dc, 20, 30, L"meadowlark", 10);
    HENHMETAFILE picture = CloseEnhMetaFile(dc);
    if (!openClipboardFor(nullptr))
        return 1;
    EmptyClipboard();
    SetClipboardData(CF_ENHMETAFILE, picture);
    CloseClipboard();
    printf("set sequence=%lu\n", static_cast<unsigned long>(GetClipboardSequenceNumber()));
    return 0;
}

// The text and further formats of the given kind and size; private formats hold one block.
int setTextAnd(const char* text, UINT firstFormat, int count, size_t size)
{
    wchar_t wide[wordCapacity] = {};
    MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, wordCapacity - 1);
    if (!openClipboardFor(nullptr))
        return 1;
    EmptyClipboard();
    SetClipboardData(CF_UNICODETEXT, globalCopy(wide, (wcslen(wide) + 1) * sizeof(wchar_t)));
    for (int i = 0; i < count; i++) {
        unsigned char bytes[256];
        for (size_t b = 0; b < size; b++)
            bytes[b] = static_cast<unsigned char>(i * 7 + b);
        UINT format = firstFormat;
        if (!format) {
            char name[64];
            snprintf(name, sizeof name, "Lexitray Test Bytes %d", i);
            format = RegisterClipboardFormatA(name);
        }
        SetClipboardData(format, globalCopy(bytes, size));
    }
    CloseClipboard();
    printf("set sequence=%lu\n", static_cast<unsigned long>(GetClipboardSequenceNumber()));
    return 0;
}

HWND plainWindow(const wchar_t* caption, WNDPROC procedure)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = caption;
    RegisterClassW(&windowClass);
    return CreateWindowW(caption, caption, WS_OVERLAPPEDWINDOW, 560, 100, 300, 120, nullptr, nullptr,
                         windowClass.hInstance, nullptr);
}

LRESULT CALLBACK delayedOwnerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_RENDERFORMAT) {
        unsigned char bytes[16];
        for (int i = 0; i < 16; i++)
            bytes[i] = static_cast<unsigned char>(0xA0 + i);
        SetClipboardData(static_cast<UINT>(wParam), globalCopy(bytes, sizeof bytes));
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

// An owner that promises a format and is too busy to render it for a while.
int setDelayed(const char* text)
{
    wchar_t wide[wordCapacity] = {};
    MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, wordCapacity - 1);
    HWND owner = plainWindow(L"Delayed Owner", delayedOwnerProc);
    if (!openClipboardFor(owner))
        return 1;
    EmptyClipboard();
    SetClipboardData(CF_UNICODETEXT, globalCopy(wide, (wcslen(wide) + 1) * sizeof(wchar_t)));
    SetClipboardData(RegisterClipboardFormatA(delayedFormatName), nullptr);
    CloseClipboard();
    printf("set sequence=%lu\n", static_cast<unsigned long>(GetClipboardSequenceNumber()));
    fflush(stdout);
    Sleep(ownerBusyMs);
    const DWORD until = GetTickCount() + ownerRendersMs;
    MSG message;
    while (GetTickCount() < until) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
    }
    return 0;
}

LRESULT CALLBACK plainProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

// Another program that copies right after the view's copy, holding the clipboard meanwhile.
int grabClipboard(const char* text)
{
    wchar_t wide[wordCapacity] = {};
    MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, wordCapacity - 1);
    HWND owner = plainWindow(L"Clipboard Grabber", plainProc);
    HANDLE grab = CreateEventW(nullptr, TRUE, FALSE, grabEventName);
    HANDLE grabbed = CreateEventW(nullptr, TRUE, FALSE, grabbedEventName);
    printf("waiting\n");
    fflush(stdout);
    if (WaitForSingleObject(grab, grabWaitMs) != WAIT_OBJECT_0 || !OpenClipboard(owner))
        return 1;
    SetEvent(grabbed);
    Sleep(grabHoldMs);
    EmptyClipboard();
    SetClipboardData(CF_UNICODETEXT, globalCopy(wide, (wcslen(wide) + 1) * sizeof(wchar_t)));
    CloseClipboard();
    printf("grabbed sequence=%lu\n", static_cast<unsigned long>(GetClipboardSequenceNumber()));
    fflush(stdout);
    // The owner window stays a little, as a program that copied would.
    Sleep(2000);
    return 0;
}

HWND minimalBox;

LRESULT CALLBACK minimalBoxProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_KEYDOWN && wParam == VK_ESCAPE) {
        ShowWindow(hwnd, SW_HIDE);
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

// What the word box has to match: the copy request and the clipboard read, nothing else.
void onMinimalHotkey()
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (GetGUIThreadInfo(0, &info) && info.hwndFocus) {
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(info.hwndFocus, WM_COPY, 0, 0, SMTO_ABORTIFHUNG, 1000, &ignored);
    }
    wchar_t text[wordCapacity] = L"";
    if (IsClipboardFormatAvailable(CF_UNICODETEXT) && OpenClipboard(minimalBox)) {
        HANDLE data = GetClipboardData(CF_UNICODETEXT);
        if (const wchar_t* source = data ? static_cast<const wchar_t*>(GlobalLock(data)) : nullptr) {
            wcsncpy(text, source, wordCapacity - 1);
            GlobalUnlock(data);
        }
        CloseClipboard();
    }
    SetWindowTextW(minimalBox, text);
    ShowWindow(minimalBox, SW_SHOW);
    SetForegroundWindow(minimalBox);
    logLine("box text-length=%d", static_cast<int>(wcslen(text)));
}

int runMinimal(const char* logPath)
{
    logFile = fopen(logPath, "a");
    if (!logFile)
        return 2;
    minimalBox = plainWindow(L"Minimal Box", minimalBoxProc);
    if (!RegisterHotKey(nullptr, hotkeyId, MOD_CONTROL | MOD_SHIFT, 'D')) {
        logLine("hotkey-taken");
        return 1;
    }
    logLine("ready");
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_HOTKEY)
            onMinimalHotkey();
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

int getClipboard()
{
    bool opened = false;
    for (int attempt = 0; attempt < 50 && !(opened = OpenClipboard(nullptr)); attempt++)
        Sleep(20);
    if (!opened) {
        printf("busy\n");
        return 1;
    }
    printf("sequence value=%lu\n", static_cast<unsigned long>(GetClipboardSequenceNumber()));
    for (UINT format = EnumClipboardFormats(0); format; format = EnumClipboardFormats(format)) {
        char name[128] = "";
        GetClipboardFormatNameA(format, name, sizeof name);
        if (format == CF_ENHMETAFILE || format == CF_METAFILEPICT) {
            printMetafile(format);
            continue;
        }
        // Handles of bitmaps and palettes are no memory blocks (the tests compare the DIB they come from).
        const bool block = format != CF_BITMAP && format != CF_PALETTE;
        HANDLE data = block ? GetClipboardData(format) : nullptr;
        const SIZE_T size = data ? GlobalSize(data) : 0;
        const unsigned char* bytes = size ? static_cast<const unsigned char*>(GlobalLock(data)) : nullptr;
        printf("clip format=%u name=\"%s\" size=%lu hash=0x%08lx\n", format, name,
               static_cast<unsigned long>(size), bytes ? fnv1a(bytes, size) : 0ul);
        if (format == CF_UNICODETEXT && bytes)
            printText(reinterpret_cast<const wchar_t*>(bytes), size / sizeof(wchar_t));
        if (bytes)
            GlobalUnlock(data);
    }
    CloseClipboard();
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && strcmp(argv[1], "view") == 0)
        return runView(argv[2], argv[3], argv[4]);
    if (argc == 3 && strcmp(argv[1], "setclip") == 0)
        return setClipboard(argv[2]);
    if (argc == 2 && strcmp(argv[1], "getclip") == 0)
        return getClipboard();
    if (argc == 2 && strcmp(argv[1], "setclip-emf") == 0)
        return setEnhancedMetafile();
    if (argc == 3 && strcmp(argv[1], "setclip-private") == 0)
        return setTextAnd(argv[2], CF_PRIVATEFIRST, 1, 256);
    if (argc == 4 && strcmp(argv[1], "setclip-many") == 0)
        return setTextAnd(argv[2], 0, atoi(argv[3]), 16);
    if (argc == 3 && strcmp(argv[1], "setclip-delayed") == 0)
        return setDelayed(argv[2]);
    if (argc == 3 && strcmp(argv[1], "grabclip") == 0)
        return grabClipboard(argv[2]);
    if (argc == 3 && strcmp(argv[1], "minimal") == 0)
        return runMinimal(argv[2]);
    fputs("usage: keyview view <log> <word|-> <keys|copy|hang|copy-grab|keys-late|copy-hold>\n"
          "       | setclip <text> | setclip-emf |"
          " setclip-private <text> | setclip-many <text> <count> | setclip-delayed <text> | grabclip <text> |"
          " minimal <log> | getclip\n",
          stderr);
    return 2;
}
