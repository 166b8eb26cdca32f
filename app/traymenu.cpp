// The tray icon's context menu: opening it at the cursor and carrying out its commands.
#include <windows.h>

#include "app/traymenu.h"
#include "app/lookuptrigger.h"
#include "app/trayapp.h"
#include "resource.h"
#include "ui/settingsdialogs.h"

void showTrayMenu()
{
    HMENU menu = LoadMenuA(moduleInstance, MAKEINTRESOURCEA(IDM_TRAYMENU));
    if (menu == nullptr)
        return;
    POINT cursor;
    GetCursorPos(&cursor);
    // Without the foreground the menu would not close when the user clicks elsewhere.
    SetForegroundWindow(TrayWindow);
    TrackPopupMenu(GetSubMenu(menu, 0), TPM_BOTTOMALIGN, cursor.x, cursor.y, 0, TrayWindow, nullptr);
    // Lets the menu close cleanly should the user open it again at once.
    PostMessageA(TrayWindow, WM_NULL, 0, 0);
    DestroyMenu(menu);
}

void onTrayIconMessage(WPARAM iconId, LPARAM mouseMessage)
{
    if (iconId != trayIconId)
        return;
    if (mouseMessage == WM_LBUTTONDOWN || mouseMessage == WM_RBUTTONDOWN)
        showTrayMenu();
}

void onTrayMenuCommand(WORD command)
{
    switch (command) {
    case IDM_EXIT:
        // The window stays; the message loop ends and the program returns 0.
        removeTrayIcon();
        PostQuitMessage(0);
        break;
    case IDM_ABOUT:
        runAboutDialog(TrayWindow);
        break;
    case IDM_SETTINGS:
        runSettingsDialog();  // everything it changes is applied by the dialog itself
        break;
    case IDM_LOOKUP:
        startLookup();
        break;
    default:
        break;
    }
}
