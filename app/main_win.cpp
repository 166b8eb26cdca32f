// Entry point of lexitray.exe: one instance, the hidden TrayWindow, its window procedure and the message
// loop.
#include <windows.h>
#include <commctrl.h>

#include "app/keptwords.h"
#include "app/lookuptrigger.h"
#include "app/trayapp.h"
#include "app/traymenu.h"
#include "config/config.h"
#include "config/hotkey.h"
#include "core/userinterface.h"
#include "resource.h"
#include "ui/lookupdialogs.h"
#include "ui/lookupthread.h"
#include "ui/windowthread.h"

HWND TrayWindow;
HINSTANCE moduleInstance;
bool useBalloons;

namespace {

const char programName[] = "Lexitray";  // mutex, window class and window title
const char singleInstanceMessage[] = "You can only have one copy of Lexitray open at a time.";
const char registrationFailedMessage[] = "Window Registration Failed!";
const char registrationFailedTitle[] = "Error!";
const char creationFailedMessage[] = "Lexitray encountered a problem starting the application.\n"
                                     "Please report this error to the Lexitray developers.";
const char creationFailedTitle[] = "Lexitray::Error";

// The window is never shown; it sits off screen with no size.
const int hiddenWindowPosition = 2000;

const int balloonMajorVersion = 5;  // systems from this major version on show tray balloons
const int hintDurationMs = 3000;
// How long the end of the program waits for cancelled look-ups' threads.
const DWORD lookUpEndWaitMs = 1000;
const char settingsNotCopiedMessage[] =
    "Your settings from the earlier version could not be copied. Lexitray will try again at its next start.";
const int settingsNotCopiedDurationMs = 10000;

// False when the settings an older version left could not be copied at this start; set before
// TrayWindow is created, which says so.
bool settingsCopied = true;

// The number the system gives the "TaskbarCreated" message, which the shell broadcasts when it
// starts again; 0 until TrayWindow's creation has registered it.
UINT taskbarCreatedMessage;

bool systemHasBalloons()
{
    OSVERSIONINFOA version;
    ZeroMemory(&version, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version))
        return true;  // only systems that have balloons can fail here
    return version.dwMajorVersion >= static_cast<DWORD>(balloonMajorVersion);
}

LRESULT onCreate(HWND window)
{
    TrayWindow = window;
    useBalloons = systemHasBalloons();
    seedConfiguration();
    const HotkeySpec hotkey = readHotkeySpec();
    hideDbDialog = readConfigFlag("hidedbdialog", 0);

    if (readConfigInt("startup", 1) == 1)
        writeAutostartValue();

    registerHotkey(hotkey);
    loadUserDictionaries(nullptr);
    char hint[hotkeyHintCapacity];
    formatHotkeyHint(hotkey, hint);
    addTrayIcon(hint);
    if (settingsCopied)
        showStatus(hint, hintDurationMs);
    else
        showStatus(settingsNotCopiedMessage, settingsNotCopiedDurationMs);
    taskbarCreatedMessage = RegisterWindowMessageA("TaskbarCreated");
    return 0;
}

// The shell started again: put the icon back from the current configuration, quietly.
void onTaskbarCreated()
{
    char hint[hotkeyHintCapacity];
    formatHotkeyHint(readHotkeySpec(), hint);
    addTrayIcon(hint);
}

void onDestroy()
{
    removeTrayIcon();
    PostQuitMessage(0);
}

// Menu commands: the tray menu carries them out.
void onCommand(WORD command) { onTrayMenuCommand(command); }

// The hotkey starts a look-up; over the open tray menu, once the menu has closed, so that the box opens
// outside the menu's own loop.
void onHotkey(WPARAM id)
{
    if (id != hotkeyId)
        return;
    if (trayMenuOpen) {
        lookupAfterMenu = true;
        EndMenu();
        return;
    }
    startLookup();
}

// Clicks on the tray icon open the tray menu.
void onTrayCallback(WPARAM iconId, LPARAM mouseMessage) { onTrayIconMessage(iconId, mouseMessage); }

LRESULT CALLBACK trayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        return onCreate(window);
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        onDestroy();
        return 0;
    case WM_COMMAND:
        onCommand(LOWORD(wParam));
        return 0;
    case WM_HOTKEY:
        onHotkey(wParam);
        return 0;
    case trayCallbackMessage:
        onTrayCallback(wParam, lParam);
        return 0;
    case lookUpAskMessage:
        return onLookUpAsk(lParam);
    case trayMenuClosedMessage:
        onTrayMenuClosed();
        return 0;
    case lookUpDoneMessage:
        return onLookUpDone(lParam);
    default:
        if (taskbarCreatedMessage != 0 && message == taskbarCreatedMessage)
            onTaskbarCreated();
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

bool registerTrayWindowClass()
{
    WNDCLASSEXA windowClass;
    ZeroMemory(&windowClass, sizeof windowClass);
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = trayWindowProc;
    windowClass.hInstance = moduleInstance;
    windowClass.hIcon = LoadIconA(moduleInstance, MAKEINTRESOURCEA(IDI_LEXITRAY));
    windowClass.hIconSm = static_cast<HICON>(LoadImageA(moduleInstance, MAKEINTRESOURCEA(IDI_LEXITRAY),
                                                        IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                        GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = programName;
    return RegisterClassExA(&windowClass) != 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    HANDLE mutex = CreateMutexA(nullptr, TRUE, programName);
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        MessageBoxA(nullptr, singleInstanceMessage, programName, MB_OK | MB_ICONERROR);
        if (mutex != nullptr)
            CloseHandle(mutex);
        return 0;
    }
    moduleInstance = instance;
    settingsCopied = locateConfiguration();
    InitCommonControls();

    if (!registerTrayWindowClass()) {
        MessageBoxA(nullptr, registrationFailedMessage, registrationFailedTitle, MB_OK | MB_ICONEXCLAMATION);
        return 0;
    }
    HWND window = CreateWindowExA(0, programName, programName, WS_POPUP, hiddenWindowPosition,
                                  hiddenWindowPosition, 0, 0, nullptr, nullptr, moduleInstance, nullptr);
    if (window == nullptr) {
        MessageBoxA(nullptr, creationFailedMessage, creationFailedTitle, MB_OK | MB_ICONEXCLAMATION);
        return 0;
    }
    TrayWindow = window;
    UpdateWindow(window);
    // Made now, so that the hotkey only has to show it.
    prepareWordEntryDialog(window);
    loadKeptWords();

    const int exitCode = runWindowLoop(wordEntryMessage);
    // Every look-up ends; their threads get a moment to close their sockets.
    cancelRunningLookUp();
    closeWordEntryDialog();
    waitForLookUpThreads(lookUpEndWaitMs);
    releaseRecentWords(&recentWords);
    if (mutex != nullptr) {
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    }
    return exitCode;
}
