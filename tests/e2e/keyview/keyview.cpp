// keyview.exe: test helper that stands in for a browser-like program, and sets and reads the clipboard.
//
//   keyview view <log file> <word or -> <keys|copy|hang>
//       A window whose view holds <word> selected ("-": nothing selected). keys: the view ignores
//       WM_COPY and copies only on Ctrl+C or Ctrl+Insert; copy: it also answers WM_COPY; hang: WM_COPY
//       keeps it busy for four seconds. Every keystroke it receives is logged with the modifier state.
//   keyview setclip <text>   the clipboard gets the text, a registered format of 256 bytes and a 2x2 DIB
//   keyview getclip          prints "clip format= size= hash=" per format and "text value=" for its text
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
const int keyDownBit = 0x8000;

FILE* logFile;
wchar_t selectedWord[wordCapacity];
enum class Mode { keys, copy, hang } mode;
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

void copySelection(const char* how)
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
    SetClipboardData(CF_UNICODETEXT, data);
    CloseClipboard();
    logLine("copied how=%s", how);
}

void onKeyDown(WPARAM virtualKey, bool system)
{
    logKey("keydown", virtualKey, system);
    const bool plainCtrl = down(VK_CONTROL) && !down(VK_SHIFT) && !down(VK_MENU);
    if (plainCtrl && (virtualKey == VK_INSERT || virtualKey == 'C'))
        copySelection(virtualKey == VK_INSERT ? "ctrl+insert" : "ctrl+c");
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
        if (mode == Mode::copy)
            copySelection("wm_copy");
        else if (mode == Mode::hang)
            Sleep(hangMs);
        return 0;
    case WM_PAINT:
        paintPane(hwnd);
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
    mode = strcmp(modeName, "copy") == 0   ? Mode::copy
           : strcmp(modeName, "hang") == 0 ? Mode::hang
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
        // Handles of bitmaps, palettes and metafiles are no memory blocks.
        const bool block = format != CF_BITMAP && format != CF_PALETTE && format != CF_ENHMETAFILE &&
                           format != CF_METAFILEPICT;
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
    fputs("usage: keyview view <log> <word|-> <keys|copy|hang> | setclip <text> | getclip\n", stderr);
    return 2;
}
