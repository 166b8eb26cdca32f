// probe.exe: test helper run beside lexitray.exe in the same Wine desktop; reads and pokes windows, prints
// plain lines.
//
// Every output line is "kind key=value key=value ..."; texts are quoted with C escapes (\n, \r, \t, \", \\,
// \xNN) so the test side can split lines with shlex. Window arguments are a handle ("0x1234") or a caption or
// class name.
#include <windows.h>
#include <aclapi.h>
#include <commctrl.h>
#include <shellapi.h>
#include <psapi.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const int textCapacity = 1024;
const int maxFound = 64;
const DWORD tooltipBalloonStyle = 0x40;  // TTS_BALLOON
const int tipChars = 128;
const int infoChars = 256;
const int infoTitleChars = 64;

void printQuoted(const char* text)
{
    putchar('"');
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        switch (*p) {
        case '\n':
            fputs("\\n", stdout);
            break;
        case '\r':
            fputs("\\r", stdout);
            break;
        case '\t':
            fputs("\\t", stdout);
            break;
        case '"':
            fputs("\\\"", stdout);
            break;
        case '\\':
            fputs("\\\\", stdout);
            break;
        default:
            if (*p < 32 || *p >= 127)
                printf("\\x%02x", *p);
            else
                putchar(*p);
        }
    }
    putchar('"');
}

// Wide texts come from the shell's memory; only ASCII matters to the tests, the rest is escaped.
void printQuotedWide(const WCHAR* text, int capacity)
{
    char narrow[textCapacity];
    int n = 0;
    for (int i = 0; i < capacity && text[i] && n < textCapacity - 1; ++i)
        narrow[n++] = text[i] < 256 ? static_cast<char>(text[i]) : '?';
    narrow[n] = 0;
    printQuoted(narrow);
}

unsigned long handleValue(HWND hwnd) { return static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(hwnd)); }

void describeWindow(const char* kind, HWND hwnd)
{
    char className[256] = "";
    char caption[textCapacity] = "";
    GetClassNameA(hwnd, className, sizeof className);
    GetWindowTextA(hwnd, caption, sizeof caption);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    RECT r = {};
    GetWindowRect(hwnd, &r);
    printf("%s hwnd=0x%lx pid=%lu owner=0x%lx class=", kind, handleValue(hwnd), pid,
           handleValue(GetWindow(hwnd, GW_OWNER)));
    printQuoted(className);
    printf(" caption=");
    printQuoted(caption);
    // The window's thread's active and focus windows: keys typed reach its focus.
    GUITHREADINFO thread = {};
    thread.cbSize = sizeof thread;
    GetGUIThreadInfo(GetWindowThreadProcessId(hwnd, nullptr), &thread);
    printf(" visible=%d enabled=%d foreground=%d style=0x%lx exstyle=0x%lx rect=%ld,%ld,%ld,%ld"
           " active=0x%lx focus=0x%lx\n",
           IsWindowVisible(hwnd) ? 1 : 0, IsWindowEnabled(hwnd) ? 1 : 0,
           GetForegroundWindow() == hwnd ? 1 : 0, static_cast<unsigned long>(GetWindowLongA(hwnd, GWL_STYLE)),
           static_cast<unsigned long>(GetWindowLongA(hwnd, GWL_EXSTYLE)), r.left, r.top, r.right, r.bottom,
           handleValue(thread.hwndActive), handleValue(thread.hwndFocus));
}

struct FindState {
    const char* name;  // caption or class to match; null matches every window
    bool print;        // each match described as it is found: a long-running desktop has hundreds
    HWND found[maxFound];
    int count;
};

BOOL CALLBACK collectTopLevel(HWND hwnd, LPARAM param)
{
    FindState* state = reinterpret_cast<FindState*>(param);
    if (state->name) {
        char className[256] = "";
        char caption[textCapacity] = "";
        GetClassNameA(hwnd, className, sizeof className);
        GetWindowTextA(hwnd, caption, sizeof caption);
        if (strcmp(className, state->name) != 0 && strcmp(caption, state->name) != 0)
            return TRUE;
    }
    if (state->print)
        describeWindow("window", hwnd);
    else if (state->count < maxFound)
        state->found[state->count] = hwnd;
    state->count++;
    return TRUE;
}

void findTopLevel(FindState* state, const char* name, bool print = false)
{
    state->name = name;
    state->print = print;
    state->count = 0;
    EnumWindows(collectTopLevel, reinterpret_cast<LPARAM>(state));
}

// A handle in hex, or the first top-level window whose caption or class is the text.
HWND resolveWindow(const char* spec)
{
    if (spec[0] == '0' && (spec[1] == 'x' || spec[1] == 'X'))
        return reinterpret_cast<HWND>(strtoul(spec, nullptr, 16));
    FindState state;
    findTopLevel(&state, spec);
    return state.count > 0 ? state.found[0] : nullptr;
}

BOOL CALLBACK printChild(HWND hwnd, LPARAM)
{
    char className[256] = "";
    char text[textCapacity] = "";
    GetClassNameA(hwnd, className, sizeof className);
    // WM_GETTEXT reaches controls of other processes where GetWindowText would not ask them.
    SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000,
                        nullptr);
    text[sizeof text - 1] = 0;
    int checked = 0;
    if (_stricmp(className, "Button") == 0) {
        DWORD_PTR state = 0;
        SendMessageTimeoutA(hwnd, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &state);
        checked = static_cast<int>(state);
    }
    // A picture control may hold no picture at all (a message box without an icon keeps its empty one).
    int picture = 0;
    if (_stricmp(className, "Static") == 0 && (GetWindowLongA(hwnd, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
        DWORD_PTR icon = 0;
        SendMessageTimeoutA(hwnd, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 2000, &icon);
        picture = icon != 0;
    }
    RECT r = {};
    GetWindowRect(hwnd, &r);
    printf("control hwnd=0x%lx id=%d icon=%d class=", handleValue(hwnd), GetDlgCtrlID(hwnd), picture);
    printQuoted(className);
    printf(" text=");
    printQuoted(text);
    printf(" enabled=%d visible=%d checked=%d style=0x%lx rect=%ld,%ld,%ld,%ld\n",
           IsWindowEnabled(hwnd) ? 1 : 0, IsWindowVisible(hwnd) ? 1 : 0, checked,
           static_cast<unsigned long>(GetWindowLongA(hwnd, GWL_STYLE)), r.left, r.top, r.right, r.bottom);
    return TRUE;
}

UINT messageNumber(const char* text)
{
    if (text[0] >= '0' && text[0] <= '9')
        return static_cast<UINT>(strtoul(text, nullptr, 0));
    return RegisterWindowMessageA(text);
}

struct TooltipList {
    HWND shellOwner[maxFound];  // windows whose tooltips belong to tray icons
    int ownerCount;
    HWND tips[maxFound];
    int tipCount;
    HWND balloons[maxFound];
    int balloonCount;
};

bool isShellOwner(const TooltipList* list, HWND hwnd)
{
    for (int i = 0; i < list->ownerCount; ++i)
        if (list->shellOwner[i] == hwnd)
            return true;
    return false;
}

BOOL CALLBACK collectTooltip(HWND hwnd, LPARAM param)
{
    TooltipList* list = reinterpret_cast<TooltipList*>(param);
    char className[64] = "";
    GetClassNameA(hwnd, className, sizeof className);
    if (_stricmp(className, TOOLTIPS_CLASSA) != 0 || !isShellOwner(list, GetWindow(hwnd, GW_OWNER)))
        return TRUE;
    if (GetWindowLongA(hwnd, GWL_STYLE) & tooltipBalloonStyle) {
        if (list->balloonCount < maxFound)
            list->balloons[list->balloonCount++] = hwnd;
    } else if (list->tipCount < maxFound) {
        list->tips[list->tipCount++] = hwnd;
    }
    return TRUE;
}

BOOL CALLBACK collectIconWindow(HWND hwnd, LPARAM param)
{
    TooltipList* list = reinterpret_cast<TooltipList*>(param);
    char className[64] = "";
    GetClassNameA(hwnd, className, sizeof className);
    if (strcmp(className, "__wine_tray_icon") == 0 && list->ownerCount < maxFound)
        list->shellOwner[list->ownerCount++] = hwnd;
    return TRUE;
}

// The shell's record of an icon, in pointer-sized slots: the list links, the image, the owner window, the
// adaptor window and a flag come before the tooltip handle; the state, identifier, callback message and
// display slot (four 32-bit words), then the three texts, come after it. The probe is built for the
// shell's own architecture, so a slot is the size of its own pointers.
const int slotBytes = sizeof(void*);
const int recordBefore = 4 * slotBytes;
const int fieldsAfterTooltip = slotBytes + 16;
const int recordBytes = recordBefore + fieldsAfterTooltip + 2 * (tipChars + infoChars + infoTitleChars);

struct IconRecord {
    ULONG_PTR owner;
    DWORD id, callback;
    int display;
    WCHAR tip[tipChars], info[infoChars], title[infoTitleChars];
};

// A text of the record ends within its field and holds no control characters.
bool wideTextFits(const WCHAR* text, int capacity)
{
    for (int i = 0; i < capacity; ++i) {
        if (text[i] == 0)
            return true;
        if (text[i] < 32 && text[i] != '\n' && text[i] != '\r' && text[i] != '\t')
            return false;
    }
    return false;
}

// Checks that the bytes around a copy of the tooltip handle are an icon record, and unpacks it.
bool unpackIconRecord(const BYTE* record, DWORD shellPid, IconRecord* icon)
{
    // Wine versions differ in whether a flag sits between the owner and the tooltip.
    const int ownerOffsets[] = {recordBefore - slotBytes, recordBefore - 3 * slotBytes};
    icon->owner = 0;
    for (int off : ownerOffsets) {
        ULONG_PTR candidate;
        memcpy(&candidate, record + off, sizeof candidate);
        HWND hwnd = reinterpret_cast<HWND>(candidate);
        DWORD pid = 0;
        // Full window handles carry a generation in their high word; small numbers are coincidences.
        if ((candidate >> 16) != 0 && IsWindow(hwnd) && GetWindowThreadProcessId(hwnd, &pid) &&
            pid != shellPid) {
            icon->owner = candidate;
            break;
        }
    }
    if (!icon->owner)
        return false;
    const BYTE* after = record + recordBefore + slotBytes;
    memcpy(&icon->id, after + 4, 4);
    memcpy(&icon->callback, after + 8, 4);
    memcpy(&icon->display, after + 12, 4);
    memcpy(icon->tip, after + 16, sizeof icon->tip + sizeof icon->info + sizeof icon->title);
    return icon->display >= -2 && icon->display < maxFound && wideTextFits(icon->tip, tipChars) &&
           wideTextFits(icon->info, infoChars) && wideTextFits(icon->title, infoTitleChars);
}

// Scans the shell's private memory once for words holding the tooltip handles that start valid icon records;
// found[i] tells whether icons[i] was filled. One scan serves every tooltip: a long run leaves tooltips whose
// records are gone, and a whole scan for each of them made one look at the tray take tens of seconds.
void findIconRecords(HANDLE shell, DWORD shellPid, const HWND* tooltips, int count, IconRecord* icons,
                     bool* found)
{
    const SIZE_T chunkBytes = 1 << 16;
    const SIZE_T scanLimit = static_cast<SIZE_T>(1) << 30;
    static BYTE chunk[1 << 16];
    static BYTE record[recordBytes];
    int missing = count;
    for (int i = 0; i < count; ++i)
        found[i] = false;
    SIZE_T scanned = 0;
    MEMORY_BASIC_INFORMATION info;
    for (ULONG_PTR address = 0; missing > 0 && scanned < scanLimit &&
                                VirtualQueryEx(shell, reinterpret_cast<LPCVOID>(address), &info, sizeof info);
         address = reinterpret_cast<ULONG_PTR>(info.BaseAddress) + info.RegionSize) {
        if (info.RegionSize == 0)
            break;
        if (info.State != MEM_COMMIT || info.Type != MEM_PRIVATE || info.Protect != PAGE_READWRITE)
            continue;
        ULONG_PTR base = reinterpret_cast<ULONG_PTR>(info.BaseAddress);
        for (SIZE_T off = 0; missing > 0 && off < info.RegionSize; off += chunkBytes) {
            SIZE_T want = info.RegionSize - off < chunkBytes ? info.RegionSize - off : chunkBytes;
            SIZE_T got = 0;
            if (!ReadProcessMemory(shell, reinterpret_cast<LPCVOID>(base + off), chunk, want, &got))
                continue;
            scanned += got;
            for (SIZE_T at = 0; at + slotBytes <= got; at += slotBytes) {
                ULONG_PTR word;
                memcpy(&word, chunk + at, sizeof word);
                for (int i = 0; i < count; ++i) {
                    if (found[i] || word != reinterpret_cast<ULONG_PTR>(tooltips[i]))
                        continue;
                    SIZE_T recordGot = 0;
                    ULONG_PTR start = base + off + at - recordBefore;
                    if (ReadProcessMemory(shell, reinterpret_cast<LPCVOID>(start), record, sizeof record,
                                          &recordGot) &&
                        recordGot == sizeof record && unpackIconRecord(record, shellPid, &icons[i])) {
                        found[i] = true;
                        missing--;
                    }
                }
            }
        }
    }
}

// Each icon has its own tooltip window; the shell's record of the icon (null when none was found) holds that
// handle, its owner window, identifier, callback message, slot on the taskbar, tip and pending balloon text.
void describeTrayIcon(HWND tooltip, const IconRecord* icon, const RECT& tray)
{
    printf("trayicon tooltip=0x%lx", handleValue(tooltip));
    if (icon == nullptr) {
        printf(" record=unreadable\n");
        return;
    }
    // Icons sit right to left at the right end of the taskbar, one small icon plus a border each.
    const int iconBorder = 2;
    int cx = GetSystemMetrics(SM_CXSMICON) + 2 * iconBorder;
    int cy = GetSystemMetrics(SM_CYSMICON) + 2 * iconBorder;
    long left = tray.right - cx * (icon->display + 1);
    long top = tray.top + ((tray.bottom - tray.top) - cy) / 2;
    printf(" owner=0x%lx id=%lu callback=%lu display=%d rect=%ld,%ld,%ld,%ld tip=",
           static_cast<unsigned long>(icon->owner), static_cast<unsigned long>(icon->id),
           static_cast<unsigned long>(icon->callback), icon->display, left, top, left + cx, top + cy);
    printQuotedWide(icon->tip, tipChars);
    printf(" info=");
    printQuotedWide(icon->info, infoChars);
    printf(" title=");
    printQuotedWide(icon->title, infoTitleChars);
    printf("\n");
}

int commandTrayIcons()
{
    HWND tray = FindWindowA("Shell_TrayWnd", nullptr);
    if (!tray) {
        printf("notray\n");
        return 1;
    }
    describeWindow("taskbar", tray);
    static TooltipList list;
    list.ownerCount = 0;
    list.tipCount = 0;
    list.balloonCount = 0;
    list.shellOwner[list.ownerCount++] = tray;
    EnumChildWindows(tray, collectIconWindow, reinterpret_cast<LPARAM>(&list));
    EnumWindows(collectIconWindow, reinterpret_cast<LPARAM>(&list));
    EnumWindows(collectTooltip, reinterpret_cast<LPARAM>(&list));
    for (int i = 0; i < list.balloonCount; ++i)
        describeWindow("balloon", list.balloons[i]);
    DWORD pid = 0;
    GetWindowThreadProcessId(tray, &pid);
    HANDLE shell = OpenProcess(PROCESS_VM_READ | PROCESS_QUERY_INFORMATION, FALSE, pid);
    if (!shell) {
        printf("noshellaccess error=%lu\n", static_cast<unsigned long>(GetLastError()));
        return 1;
    }
    RECT trayRect = {};
    GetWindowRect(tray, &trayRect);
    static IconRecord icons[maxFound];
    static bool found[maxFound];
    findIconRecords(shell, pid, list.tips, list.tipCount, icons, found);
    for (int i = 0; i < list.tipCount; ++i)
        describeTrayIcon(list.tips[i], found[i] ? &icons[i] : nullptr, trayRect);
    CloseHandle(shell);
    return 0;
}

// The shell's balloon windows visible now, into found (at most maxFound); their number.
int visibleBalloons(HWND* found)
{
    static TooltipList list;
    list.ownerCount = 0;
    list.tipCount = 0;
    list.balloonCount = 0;
    HWND tray = FindWindowA("Shell_TrayWnd", nullptr);
    if (tray)
        list.shellOwner[list.ownerCount++] = tray;
    EnumChildWindows(tray, collectIconWindow, reinterpret_cast<LPARAM>(&list));
    EnumWindows(collectIconWindow, reinterpret_cast<LPARAM>(&list));
    EnumWindows(collectTooltip, reinterpret_cast<LPARAM>(&list));
    int count = 0;
    for (int i = 0; i < list.balloonCount; ++i)
        if (IsWindowVisible(list.balloons[i]))
            found[count++] = list.balloons[i];
    return count;
}

// Watches for a balloon that the shell shows after the watch began (one already up does not count), for
// at most the given seconds, looking every few milliseconds: a balloon that is up for a moment only is not
// missed between two looks, as it can be by separate probe runs when starting each one takes seconds.
// Prints "watching" once the watch has begun, then the balloon's window, or "noballoon".
int commandWatchBalloon(DWORD seconds)
{
    const DWORD lookEveryMs = 20;
    static HWND before[maxFound];
    int beforeCount = visibleBalloons(before);
    printf("watching\n");
    fflush(stdout);
    DWORD start = GetTickCount();
    while (GetTickCount() - start < seconds * 1000) {
        static HWND now[maxFound];
        int count = visibleBalloons(now);
        for (int i = 0; i < count; ++i) {
            bool seenBefore = false;
            for (int j = 0; j < beforeCount; ++j)
                seenBefore = seenBefore || before[j] == now[i];
            if (!seenBefore) {
                describeWindow("balloon", now[i]);
                return 0;
            }
        }
        Sleep(lookEveryMs);
    }
    printf("noballoon\n");
    return 1;
}

struct PopupSearch {
    const char* ownerClass;
    const HWND* skip;  // popups up before the watch began
    int skipCount;
    HWND found;
};

BOOL CALLBACK findOwnedPopup(HWND hwnd, LPARAM param)
{
    PopupSearch* search = reinterpret_cast<PopupSearch*>(param);
    char className[64] = "";
    char ownerClass[64] = "";
    GetClassNameA(hwnd, className, sizeof className);
    GetClassNameA(GetWindow(hwnd, GW_OWNER), ownerClass, sizeof ownerClass);
    if (strcmp(className, "#32770") != 0 || strcmp(ownerClass, search->ownerClass) != 0 ||
        !IsWindowVisible(hwnd))
        return TRUE;
    for (int i = 0; i < search->skipCount; ++i)
        if (search->skip[i] == hwnd)
            return TRUE;
    search->found = hwnd;
    return FALSE;
}

HWND ownedPopup(const char* ownerClass, const HWND* skip, int skipCount)
{
    PopupSearch search = {ownerClass, skip, skipCount, nullptr};
    EnumWindows(findOwnedPopup, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Watches, as watchballoon does, for a visible dialog owned by a window of the given class that appears after
// the watch began (the popup notice), for at most the given seconds. At first sight it prints the popup and
// its controls, then "shown at=<ms since the watch began>"; when the popup closes or hides, "gone after=<ms
// it was up>". "nopopup" or "stillup" when the time ran out first.
int commandWatchPopup(const char* ownerClass, DWORD seconds)
{
    const DWORD lookEveryMs = 20;
    static HWND before[maxFound];
    int beforeCount = 0;
    for (HWND up; beforeCount < maxFound && (up = ownedPopup(ownerClass, before, beforeCount)) != nullptr;)
        before[beforeCount++] = up;
    printf("watching\n");
    fflush(stdout);
    const DWORD start = GetTickCount();
    HWND popup = nullptr;
    while (!popup && GetTickCount() - start < seconds * 1000) {
        popup = ownedPopup(ownerClass, before, beforeCount);
        if (!popup)
            Sleep(lookEveryMs);
    }
    if (!popup) {
        printf("nopopup\n");
        return 1;
    }
    const DWORD seen = GetTickCount();
    describeWindow("popup", popup);
    EnumChildWindows(popup, printChild, 0);
    printf("shown at=%lu\n", static_cast<unsigned long>(seen - start));
    fflush(stdout);
    while (IsWindow(popup) && IsWindowVisible(popup)) {
        if (GetTickCount() - start >= seconds * 1000) {
            printf("stillup\n");
            return 1;
        }
        Sleep(lookEveryMs);
    }
    printf("gone after=%lu\n", static_cast<unsigned long>(GetTickCount() - seen));
    return 0;
}

// One top-level window of the watched process as watchwindows last saw it.
struct WatchedWindow {
    HWND hwnd;
    bool visible;
    bool seen;  // found in the latest look
    char caption[textCapacity];
};

struct WindowWatch {
    DWORD pid;
    WatchedWindow windows[4 * maxFound];
    int count;
    DWORD start;
};

void printAt(const WindowWatch* watch)
{
    printf(" t=%lu", static_cast<unsigned long>(GetTickCount() - watch->start));
}

BOOL CALLBACK lookAtWindow(HWND hwnd, LPARAM param)
{
    WindowWatch* watch = reinterpret_cast<WindowWatch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != watch->pid)
        return TRUE;
    WatchedWindow* known = nullptr;
    for (int i = 0; i < watch->count && !known; ++i)
        if (watch->windows[i].hwnd == hwnd)
            known = &watch->windows[i];
    if (!known) {
        if (watch->count == 4 * maxFound)
            return TRUE;
        known = &watch->windows[watch->count++];
        known->hwnd = hwnd;
        known->visible = false;
        known->caption[0] = 0;
    }
    known->seen = true;
    const bool visible = IsWindowVisible(hwnd) != 0;
    char caption[textCapacity] = "";
    GetWindowTextA(hwnd, caption, sizeof caption);
    if (visible && !known->visible) {
        describeWindow("shown", hwnd);
        char className[64] = "";
        GetClassNameA(hwnd, className, sizeof className);
        if (strcmp(className, "#32770") == 0)
            EnumChildWindows(hwnd, printChild, 0);
        printf("endshown hwnd=0x%lx", handleValue(hwnd));
        printAt(watch);
        printf("\n");
    } else if (!visible && known->visible) {
        printf("hidden hwnd=0x%lx", handleValue(hwnd));
        printAt(watch);
        printf("\n");
    } else if (visible && strcmp(caption, known->caption) != 0) {
        printf("caption hwnd=0x%lx", handleValue(hwnd));
        printAt(watch);
        printf(" caption=");
        printQuoted(caption);
        printf("\n");
    }
    known->visible = visible;
    lstrcpynA(known->caption, caption, textCapacity);
    return TRUE;
}

// Watches every top-level window of one process for the given seconds, looking every few milliseconds,
// and prints each change as it happens: "shown" (the window, as `list` prints it; a dialog's controls
// follow, then "endshown"), "hidden" when it hides or goes, "caption" when a visible one's caption changes,
// and "foreground" whenever another window (of any process) comes to the foreground. Prints "watching"
// first (the windows up then count as shown) and "ended" when the time is up or the process has ended.
int commandWatchWindows(DWORD pid, DWORD seconds)
{
    const DWORD lookEveryMs = 15;
    static WindowWatch watch;
    watch.pid = pid;
    watch.count = 0;
    watch.start = GetTickCount();
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    printf("watching\n");
    fflush(stdout);
    HWND foreground = nullptr;
    bool ended = false;
    while (!ended && GetTickCount() - watch.start < seconds * 1000) {
        ended = process != nullptr && WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
        for (int i = 0; i < watch.count; ++i)
            watch.windows[i].seen = false;
        EnumWindows(lookAtWindow, reinterpret_cast<LPARAM>(&watch));
        for (int i = 0; i < watch.count; ++i) {
            if (watch.windows[i].seen)
                continue;
            if (watch.windows[i].visible) {
                printf("hidden hwnd=0x%lx", handleValue(watch.windows[i].hwnd));
                printAt(&watch);
                printf(" destroyed=1\n");
            }
            watch.windows[i--] = watch.windows[--watch.count];
        }
        HWND now = GetForegroundWindow();
        if (now != foreground) {
            foreground = now;
            printf("foreground hwnd=0x%lx", handleValue(now));
            printAt(&watch);
            printf("\n");
        }
        fflush(stdout);
        if (!ended)
            Sleep(lookEveryMs);
    }
    printf("ended");
    printAt(&watch);
    printf(" exited=%d\n", ended ? 1 : 0);
    if (process)
        CloseHandle(process);
    return 0;
}

struct WindowCount {
    DWORD pid;
    int count;
};

BOOL CALLBACK countChildWindow(HWND, LPARAM param)
{
    reinterpret_cast<WindowCount*>(param)->count++;
    return TRUE;
}

BOOL CALLBACK countWindows(HWND hwnd, LPARAM param)
{
    WindowCount* windows = reinterpret_cast<WindowCount*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == windows->pid) {
        windows->count++;
        EnumChildWindows(hwnd, countChildWindow, param);
    }
    return TRUE;
}

// What a process holds: kernel handles, GDI and USER objects, and its private bytes. A figure the system
// cannot give is printed as -1 with the error (GetGuiResources gives 0 and sets no error when it does not
// count, which is printed as it is), and its windows, top-level and child.
int commandResources(DWORD pid)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (!process) {
        printf("noprocess error=%lu\n", static_cast<unsigned long>(GetLastError()));
        return 1;
    }
    DWORD handles = 0;
    long handleCount = -1;
    DWORD handleError = 0;
    if (GetProcessHandleCount(process, &handles))
        handleCount = static_cast<long>(handles);
    else
        handleError = GetLastError();
    SetLastError(0);
    const DWORD gdi = GetGuiResources(process, GR_GDIOBJECTS);
    const DWORD gdiError = GetLastError();
    SetLastError(0);
    const DWORD user = GetGuiResources(process, GR_USEROBJECTS);
    const DWORD userError = GetLastError();
    PROCESS_MEMORY_COUNTERS_EX memory;
    ZeroMemory(&memory, sizeof memory);
    memory.cb = sizeof memory;
    double privateBytes = -1;
    DWORD memoryError = 0;
    if (GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory))
        privateBytes = static_cast<double>(memory.PrivateUsage);
    else
        memoryError = GetLastError();
    // For comparison: the probe's own handle count, which tells a system that counts no other process's.
    DWORD ownHandles = 0;
    GetProcessHandleCount(GetCurrentProcess(), &ownHandles);
    WindowCount windows = {pid, 0};
    EnumWindows(countWindows, reinterpret_cast<LPARAM>(&windows));
    printf(
        "resources handles=%ld handleserror=%lu ownhandles=%lu gdi=%lu gdierror=%lu user=%lu usererror=%lu "
        "private=%.0f privateerror=%lu workingset=%.0f pagefile=%.0f windows=%d\n",
        handleCount, static_cast<unsigned long>(handleError), static_cast<unsigned long>(ownHandles),
        static_cast<unsigned long>(gdi), static_cast<unsigned long>(gdiError),
        static_cast<unsigned long>(user), static_cast<unsigned long>(userError), privateBytes,
        static_cast<unsigned long>(memoryError), static_cast<double>(memory.WorkingSetSize),
        static_cast<double>(memory.PagefileUsage), windows.count);
    CloseHandle(process);
    return 0;
}

void pumpFor(DWORD milliseconds)
{
    DWORD start = GetTickCount();
    for (;;) {
        DWORD spent = GetTickCount() - start;
        if (spent >= milliseconds)
            return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - spent, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_HOTKEY)
                printf("hotkey id=%lu\n", static_cast<unsigned long>(msg.wParam));
            DispatchMessageA(&msg);
        }
        fflush(stdout);
    }
}

int commandHoldHotkey(UINT modifiers, UINT key, DWORD seconds)
{
    const int probeHotkeyId = 4242;
    if (!RegisterHotKey(nullptr, probeHotkeyId, modifiers, key)) {
        printf("failed error=%lu\n", static_cast<unsigned long>(GetLastError()));
        return 1;
    }
    printf("registered\n");
    fflush(stdout);
    pumpFor(seconds * 1000);
    UnregisterHotKey(nullptr, probeHotkeyId);
    printf("released\n");
    return 0;
}

LRESULT CALLBACK demoWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    return DefWindowProcA(hwnd, msg, wp, lp);
}

// An icon of the probe's own with a known tip and balloon, so the tests can check that reading icons works.
int commandDemoIcon(const char* tip, const char* info, DWORD seconds)
{
    const UINT demoIconId = 77;
    WNDCLASSA wc = {};
    wc.lpfnWndProc = demoWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "LexitrayProbeDemo";
    RegisterClassA(&wc);
    HWND hwnd = CreateWindowA("LexitrayProbeDemo", "probe demo", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                              wc.hInstance, nullptr);
    NOTIFYICONDATAA nid = {};
    nid.cbSize = sizeof nid;
    nid.hWnd = hwnd;
    nid.uID = demoIconId;
    nid.uFlags = NIF_ICON | NIF_TIP | NIF_MESSAGE;
    nid.uCallbackMessage = WM_APP;
    nid.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    lstrcpynA(nid.szTip, tip, sizeof nid.szTip);
    BOOL added = Shell_NotifyIconA(NIM_ADD, &nid);
    nid.uFlags = NIF_INFO;
    lstrcpynA(nid.szInfo, info, sizeof nid.szInfo);
    lstrcpynA(nid.szInfoTitle, "probe", sizeof nid.szInfoTitle);
    nid.uTimeout = 10000;
    nid.dwInfoFlags = NIIF_INFO;
    BOOL modified = Shell_NotifyIconA(NIM_MODIFY, &nid);
    printf("demoicon owner=0x%lx id=%u added=%d balloon=%d\n", handleValue(hwnd), demoIconId, added ? 1 : 0,
           modified ? 1 : 0);
    fflush(stdout);
    pumpFor(seconds * 1000);
    nid.uFlags = 0;
    Shell_NotifyIconA(NIM_DELETE, &nid);
    DestroyWindow(hwnd);
    return 0;
}

int commandTrayDelete(HWND owner, UINT id)
{
    NOTIFYICONDATAA nid = {};
    nid.cbSize = sizeof nid;
    nid.hWnd = owner;
    nid.uID = id;
    BOOL ok = Shell_NotifyIconA(NIM_DELETE, &nid);
    printf("deleted=%d\n", ok ? 1 : 0);
    return ok ? 0 : 1;
}

// "unicode <window>": the window's caption and each child's text read as wide text and printed as UTF-8, and
// every item of its list boxes, so that text beyond the ANSI code page can be checked exactly.
void printQuotedUtf8(const WCHAR* text)
{
    char utf8[textCapacity * 3];
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
    if (n <= 0)
        utf8[0] = 0;
    utf8[sizeof utf8 - 1] = 0;
    printQuoted(utf8);
}

// "runvalue": the user's autostart value "Lexitray", read as wide text and printed as UTF-8 ("run none"
// without one), so that a path beyond the ANSI code page can be checked exactly.
int commandRunValue()
{
    WCHAR value[textCapacity] = L"";
    DWORD size = sizeof value - sizeof(WCHAR);
    DWORD type = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", L"Lexitray",
                     RRF_RT_REG_SZ, &type, value, &size) != ERROR_SUCCESS) {
        printf("run none\n");
        return 1;
    }
    printf("run value=");
    printQuotedUtf8(value);
    printf("\n");
    return 0;
}

BOOL CALLBACK printChildUnicode(HWND hwnd, LPARAM)
{
    WCHAR text[textCapacity] = L"";
    SendMessageTimeoutW(hwnd, WM_GETTEXT, textCapacity, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                        2000, nullptr);
    text[textCapacity - 1] = 0;
    printf("utext id=%d text=", GetDlgCtrlID(hwnd));
    printQuotedUtf8(text);
    printf("\n");
    char className[256] = "";
    GetClassNameA(hwnd, className, sizeof className);
    if (_stricmp(className, "ListBox") != 0)
        return TRUE;
    DWORD_PTR count = 0, selected = 0;
    SendMessageTimeoutW(hwnd, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 2000, &count);
    SendMessageTimeoutW(hwnd, LB_GETCURSEL, 0, 0, SMTO_ABORTIFHUNG, 2000, &selected);
    for (int i = 0; i < static_cast<int>(count) && i < maxFound; ++i) {
        DWORD_PTR length = 0;
        SendMessageTimeoutW(hwnd, LB_GETTEXTLEN, i, 0, SMTO_ABORTIFHUNG, 2000, &length);
        WCHAR item[textCapacity] = L"";
        if (length < textCapacity)
            SendMessageTimeoutW(hwnd, LB_GETTEXT, i, reinterpret_cast<LPARAM>(item), SMTO_ABORTIFHUNG, 2000,
                                nullptr);
        item[textCapacity - 1] = 0;
        printf("item id=%d index=%d selected=%d text=", GetDlgCtrlID(hwnd), i,
               static_cast<int>(selected) == i ? 1 : 0);
        printQuotedUtf8(item);
        printf("\n");
    }
    return TRUE;
}

// Sends a message to a window, or to one of its controls (id not 0), and prints the result; for
// values that no text shows, such as a hotkey control's key or a list's selection.
int commandSend(HWND hwnd, int controlId, UINT msg, WPARAM wp, LPARAM lp)
{
    HWND target = controlId != 0 ? GetDlgItem(hwnd, controlId) : hwnd;
    if (!target) {
        printf("nocontrol id=%d\n", controlId);
        return 1;
    }
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(target, msg, wp, lp, SMTO_ABORTIFHUNG, 2000, &result)) {
        printf("timeout\n");
        return 1;
    }
    printf("result value=%ld\n", static_cast<long>(static_cast<LONG_PTR>(result)));
    return 0;
}

// Sends WM_DPICHANGED with the new DPI and a suggested rectangle, as the system does when a window moves
// to a monitor of another DPI. The rectangle is put at one address in the window's process and in this
// one, so that it is found whether the message's lParam is carried across as a rectangle or as a pointer.
int commandDpiChanged(HWND hwnd, int dpi, const RECT& suggested)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(hwnd, &processId);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, processId);
    if (!process) {
        printf("noprocess\n");
        return 1;
    }
    void* remote =
        VirtualAllocEx(process, nullptr, sizeof suggested, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    void* local =
        remote ? VirtualAlloc(remote, sizeof suggested, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE) : nullptr;
    int status = 1;
    if (remote && local == remote &&
        WriteProcessMemory(process, remote, &suggested, sizeof suggested, nullptr)) {
        CopyMemory(local, &suggested, sizeof suggested);
        DWORD_PTR result = 0;
        const WPARAM both = MAKEWPARAM(dpi, dpi);
        if (SendMessageTimeoutA(hwnd, 0x02E0, both, reinterpret_cast<LPARAM>(remote), SMTO_ABORTIFHUNG, 2000,
                                &result)) {
            printf("dpichanged sent=1\n");
            status = 0;
        }
    }
    if (status != 0)
        printf("dpichanged sent=0\n");
    if (local)
        VirtualFree(local, 0, MEM_RELEASE);
    if (remote)
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
    return status;
}

// Makes a registry key read-only to everybody ("on"), as a key of the administrators' is to a standard
// user, or open to everybody again ("off"). Either way everybody may change the key's permissions back.
// Sends WM_NULL to the window with SendMessageTimeout again and again for the given seconds, one
// every pingIntervalMs, and prints how many were answered, the slowest answer in milliseconds and how
// many got no answer within pingLimitMs. Stops early when the window goes away.
const DWORD pingIntervalMs = 20;
const UINT pingLimitMs = 5000;

int commandPingLoop(HWND hwnd, DWORD seconds)
{
    LARGE_INTEGER frequency, start, before, after;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    long long count = 0, unanswered = 0;
    double worstMs = 0, worstAtMs = 0, secondMs = 0;
    for (;;) {
        QueryPerformanceCounter(&before);
        if ((before.QuadPart - start.QuadPart) / frequency.QuadPart >= static_cast<LONGLONG>(seconds) ||
            !IsWindow(hwnd))
            break;
        DWORD_PTR result = 0;
        LRESULT answered = SendMessageTimeoutA(hwnd, WM_NULL, 0, 0, SMTO_NORMAL, pingLimitMs, &result);
        QueryPerformanceCounter(&after);
        double ms = 1000.0 * static_cast<double>(after.QuadPart - before.QuadPart) / frequency.QuadPart;
        if (answered == 0)
            unanswered++;
        else
            count++;
        if (ms > worstMs) {
            secondMs = worstMs;
            worstMs = ms;
            worstAtMs = 1000.0 * static_cast<double>(before.QuadPart - start.QuadPart) / frequency.QuadPart;
        } else if (ms > secondMs) {
            secondMs = ms;
        }
        Sleep(pingIntervalMs);
    }
    printf("pings count=%lld worst=%.1f worstat=%.0f second=%.1f unanswered=%lld\n", count, worstMs,
           worstAtMs, secondMs, unanswered);
    fflush(stdout);
    return 0;
}

int commandLockKey(const char* rootName, const char* subkey, bool locked)
{
    HKEY root = strcmp(rootName, "HKLM") == 0 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    HKEY key;
    LONG result = RegOpenKeyExA(root, subkey, 0, WRITE_DAC | READ_CONTROL, &key);
    if (result != ERROR_SUCCESS) {
        printf("lockkey error=%ld\n", static_cast<long>(result));
        return 1;
    }
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    PACL acl = nullptr;
    EXPLICIT_ACCESSA entry;
    ZeroMemory(&entry, sizeof entry);
    entry.grfAccessPermissions = (locked ? KEY_READ : KEY_ALL_ACCESS) | WRITE_DAC | READ_CONTROL;
    entry.grfAccessMode = SET_ACCESS;
    entry.grfInheritance = NO_INHERITANCE;
    entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    entry.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    if (AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone)) {
        entry.Trustee.ptstrName = static_cast<LPSTR>(everyone);
        result = static_cast<LONG>(SetEntriesInAclA(1, &entry, nullptr, &acl));
        if (result == ERROR_SUCCESS)
            result = static_cast<LONG>(SetSecurityInfo(
                key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                nullptr, nullptr, acl, nullptr));
        FreeSid(everyone);
    } else {
        result = static_cast<LONG>(GetLastError());
    }
    if (acl)
        LocalFree(acl);
    RegCloseKey(key);
    printf("lockkey error=%ld\n", static_cast<long>(result));
    return result == ERROR_SUCCESS ? 0 : 1;
}

int usage()
{
    fputs(
        "usage: probe list | find <caption|class> | texts <window> | unicode <window> | rect <window> | "
        "press <window> <id> | runvalue\n"
        "       | post <window> <msg> <wparam> <lparam> | freezepost <window> <msg> <wparam> <lparam> <ms>\n"
        "       | broadcast <message name> | holdhotkey <mods> "
        "<vk> <seconds>\n"
        "       | version | appbar | trayicon | traydelete <owner> <id> | demoicon <tip> <info> <seconds>\n"
        "       | watchballoon <seconds> | watchpopup <owner class> <seconds> | watchpick <seconds>\n"
        "       | watchwindows <pid> <seconds> | resources <pid>\n"
        "       | send <window> <control id or 0> <msg> <wparam> <lparam>\n"
        "       | lockkey <HKLM|HKCU> <subkey> on|off | pingloop <window> <seconds>\n"
        "       | dpichanged <window> <dpi> <left> <top> <right> <bottom>\n",
        stderr);
    return 2;
}

BOOL CALLBACK findPickTarget(HWND hwnd, LPARAM param)
{
    char className[64] = "", caption[16] = "";
    GetClassNameA(hwnd, className, sizeof className);
    GetWindowTextA(hwnd, caption, sizeof caption);
    bool menu = strcmp(className, "#32768") == 0;
    DWORD_PTR textLength = 0;  // of the definition box; WM_GETTEXTLENGTH asks the control in its process
    bool viewer = strcmp(className, "#32770") == 0 && strncmp(caption, "Lexitray", 8) == 0 &&
                  SendMessageTimeoutA(GetDlgItem(hwnd, 1005), WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000,
                                      &textLength) &&
                  textLength > 0;
    if (!IsWindowVisible(hwnd) || !(menu || viewer))
        return TRUE;
    *reinterpret_cast<HWND*>(param) = hwnd;
    return FALSE;
}

// Watches a pick from a menu, looking every millisecond or so for at most the given seconds: from the last
// look that still saw a menu up (the click that picked closes it) to the first that sees lexitray's viewer
// with a definition, an upper bound of the time the pick took. Prints "watching", then "shown after=<ms>",
// or "noviewer".
int commandWatchPick(DWORD seconds)
{
    printf("watching\n");
    fflush(stdout);
    LARGE_INTEGER frequency, menuSeen, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&menuSeen);
    const DWORD until = GetTickCount() + seconds * 1000;
    while (GetTickCount() < until) {
        HWND found = nullptr;
        EnumWindows(findPickTarget, reinterpret_cast<LPARAM>(&found));
        char className[64] = "";
        GetClassNameA(found, className, sizeof className);
        QueryPerformanceCounter(&now);
        if (found && strcmp(className, "#32768") == 0) {
            menuSeen = now;
        } else if (found) {
            printf("shown after=%.1f\n", (now.QuadPart - menuSeen.QuadPart) * 1000.0 / frequency.QuadPart);
            return 0;
        }
        Sleep(1);
    }
    printf("noviewer\n");
    return 1;
}

int needWindow(HWND hwnd, const char* spec)
{
    if (hwnd && IsWindow(hwnd))
        return 0;
    printf("nowindow ");
    printQuoted(spec);
    printf("\n");
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return usage();
    const char* command = argv[1];
    int status = 0;
    if (strcmp(command, "list") == 0 || (strcmp(command, "find") == 0 && argc == 3)) {
        FindState state;
        findTopLevel(&state, argc == 3 ? argv[2] : nullptr, true);
        status = state.count > 0 ? 0 : 1;
    } else if (strcmp(command, "texts") == 0 && argc == 3) {
        HWND hwnd = resolveWindow(argv[2]);
        status = needWindow(hwnd, argv[2]);
        if (status == 0) {
            describeWindow("window", hwnd);
            EnumChildWindows(hwnd, printChild, 0);
        }
    } else if (strcmp(command, "unicode") == 0 && argc == 3) {
        HWND hwnd = resolveWindow(argv[2]);
        status = needWindow(hwnd, argv[2]);
        if (status == 0) {
            WCHAR caption[textCapacity] = L"";
            SendMessageTimeoutW(hwnd, WM_GETTEXT, textCapacity, reinterpret_cast<LPARAM>(caption),
                                SMTO_ABORTIFHUNG, 2000, nullptr);
            caption[textCapacity - 1] = 0;
            printf("ucaption text=");
            printQuotedUtf8(caption);
            printf("\n");
            EnumChildWindows(hwnd, printChildUnicode, 0);
        }
    } else if (strcmp(command, "runvalue") == 0) {
        status = commandRunValue();
    } else if (strcmp(command, "rect") == 0 && argc == 3) {
        HWND hwnd = resolveWindow(argv[2]);
        status = needWindow(hwnd, argv[2]);
        RECT r = {};
        if (status == 0 && GetWindowRect(hwnd, &r))
            printf("rect %ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom);
    } else if (strcmp(command, "press") == 0 && argc == 4) {
        HWND hwnd = resolveWindow(argv[2]);
        status = needWindow(hwnd, argv[2]);
        if (status == 0) {
            int id = static_cast<int>(strtol(argv[3], nullptr, 0));
            HWND button = GetDlgItem(hwnd, id);
            // A posted command does not wait for whatever the button opens.
            BOOL ok =
                PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
            printf("pressed=%d\n", ok ? 1 : 0);
            status = ok ? 0 : 1;
        }
    } else if (strcmp(command, "post") == 0 && argc == 6) {
        HWND hwnd = resolveWindow(argv[2]);
        status = needWindow(hwnd, argv[2]);
        if (status == 0) {
            BOOL ok =
                PostMessageA(hwnd, messageNumber(argv[3]), static_cast<WPARAM>(strtoul(argv[4], nullptr, 0)),
                             static_cast<LPARAM>(strtoul(argv[5], nullptr, 0)));
            printf("posted=%d\n", ok ? 1 : 0);
            status = ok ? 0 : 1;
        }
    } else if (strcmp(command, "freezepost") == 0 && argc == 7) {
        // Holds the window's thread still, posts it the message, lets it go after ms: what else reaches
        // its queue meanwhile comes after the message.
        HWND hwnd = resolveWindow(argv[2]);
        status = needWindow(hwnd, argv[2]);
        HANDLE thread =
            status == 0 ? OpenThread(THREAD_SUSPEND_RESUME, FALSE, GetWindowThreadProcessId(hwnd, nullptr))
                        : nullptr;
        if (thread != nullptr && SuspendThread(thread) != static_cast<DWORD>(-1)) {
            BOOL ok =
                PostMessageA(hwnd, messageNumber(argv[3]), static_cast<WPARAM>(strtoul(argv[4], nullptr, 0)),
                             static_cast<LPARAM>(strtoul(argv[5], nullptr, 0)));
            printf("posted=%d\n", ok ? 1 : 0);
            fflush(stdout);
            Sleep(static_cast<DWORD>(strtoul(argv[6], nullptr, 0)));
            ResumeThread(thread);
            status = ok ? 0 : 1;
        } else if (status == 0) {
            printf("frozen=0\n");
            status = 1;
        }
        if (thread != nullptr)
            CloseHandle(thread);
    } else if (strcmp(command, "broadcast") == 0 && argc == 3) {
        UINT msg = messageNumber(argv[2]);
        BOOL ok = PostMessageA(HWND_BROADCAST, msg, 0, 0);
        printf("broadcast message=0x%x posted=%d\n", msg, ok ? 1 : 0);
        status = ok ? 0 : 1;
    } else if (strcmp(command, "holdhotkey") == 0 && argc == 5) {
        status = commandHoldHotkey(static_cast<UINT>(strtoul(argv[2], nullptr, 0)),
                                   static_cast<UINT>(strtoul(argv[3], nullptr, 0)),
                                   static_cast<DWORD>(strtoul(argv[4], nullptr, 0)));
    } else if (strcmp(command, "version") == 0) {
        OSVERSIONINFOA info = {};
        info.dwOSVersionInfoSize = sizeof info;
        GetVersionExA(&info);
        printf("version major=%lu minor=%lu build=%lu\n", info.dwMajorVersion, info.dwMinorVersion,
               info.dwBuildNumber);
    } else if (strcmp(command, "appbar") == 0) {
        APPBARDATA data = {};
        data.cbSize = sizeof data;
        UINT_PTR ok = SHAppBarMessage(ABM_GETTASKBARPOS, &data);
        printf("appbar ok=%d edge=%u rect=%ld,%ld,%ld,%ld\n", ok ? 1 : 0, data.uEdge, data.rc.left,
               data.rc.top, data.rc.right, data.rc.bottom);
    } else if (strcmp(command, "trayicon") == 0) {
        status = commandTrayIcons();
    } else if (strcmp(command, "traydelete") == 0 && argc == 4) {
        status = commandTrayDelete(reinterpret_cast<HWND>(strtoul(argv[2], nullptr, 16)),
                                   static_cast<UINT>(strtoul(argv[3], nullptr, 0)));
    } else if (strcmp(command, "send") == 0 && argc == 7) {
        HWND hwnd = resolveWindow(argv[2]);
        status = needWindow(hwnd, argv[2]);
        if (status == 0)
            status = commandSend(hwnd, static_cast<int>(strtol(argv[3], nullptr, 0)), messageNumber(argv[4]),
                                 static_cast<WPARAM>(strtoul(argv[5], nullptr, 0)),
                                 static_cast<LPARAM>(strtol(argv[6], nullptr, 0)));
    } else if (strcmp(command, "dpichanged") == 0 && argc == 8) {
        HWND hwnd = resolveWindow(argv[2]);
        status = needWindow(hwnd, argv[2]);
        const RECT suggested = {strtol(argv[4], nullptr, 0), strtol(argv[5], nullptr, 0),
                                strtol(argv[6], nullptr, 0), strtol(argv[7], nullptr, 0)};
        if (status == 0)
            status = commandDpiChanged(hwnd, static_cast<int>(strtol(argv[3], nullptr, 0)), suggested);
    } else if (strcmp(command, "pingloop") == 0 && argc == 4) {
        HWND hwnd = resolveWindow(argv[2]);
        status = needWindow(hwnd, argv[2]);
        if (status == 0)
            status = commandPingLoop(hwnd, static_cast<DWORD>(strtoul(argv[3], nullptr, 0)));
    } else if (strcmp(command, "lockkey") == 0 && argc == 5) {
        status = commandLockKey(argv[2], argv[3], strcmp(argv[4], "on") == 0);
    } else if (strcmp(command, "watchballoon") == 0 && argc == 3) {
        status = commandWatchBalloon(static_cast<DWORD>(strtoul(argv[2], nullptr, 0)));
    } else if (strcmp(command, "watchpopup") == 0 && argc == 4) {
        status = commandWatchPopup(argv[2], static_cast<DWORD>(strtoul(argv[3], nullptr, 0)));
    } else if (strcmp(command, "watchpick") == 0 && argc == 3) {
        status = commandWatchPick(static_cast<DWORD>(strtoul(argv[2], nullptr, 0)));
    } else if (strcmp(command, "watchwindows") == 0 && argc == 4) {
        status = commandWatchWindows(static_cast<DWORD>(strtoul(argv[2], nullptr, 0)),
                                     static_cast<DWORD>(strtoul(argv[3], nullptr, 0)));
    } else if (strcmp(command, "resources") == 0 && argc == 3) {
        status = commandResources(static_cast<DWORD>(strtoul(argv[2], nullptr, 0)));
    } else if (strcmp(command, "demoicon") == 0 && argc == 5) {
        status = commandDemoIcon(argv[2], argv[3], static_cast<DWORD>(strtoul(argv[4], nullptr, 0)));
    } else {
        return usage();
    }
    fflush(stdout);
    return status;
}
