// The tray icon's context menu: opening it at the cursor and carrying out its commands.
#include <windows.h>

#include "app/keptwords.h"
#include "app/lookuptrigger.h"
#include "app/trayapp.h"
#include "app/traymenu.h"
#include "core/viewertext.h"
#include "resource.h"
#include "ui/lookupdialogs.h"
#include "ui/lookupthread.h"
#include "ui/settingsdialogs.h"
#include "ui/widetext.h"
#include "ui/windowthread.h"

namespace {

const char cancelLookUpText[] = "Cancel Look-Up";
// "Recent Words" is the template's last item, below "Look Up A Word".
const int recentWordsPosition = 6;

// The recent words in the submenu, newest first, in place of its "(none)" and above "Clear Recent
// Words"; greyed while the word box, a question or a look-up is under way (then they could not be
// shown).
void fillRecentWords(HMENU submenu)
{
    if (submenu == nullptr || recentWords.count == 0)
        return;
    for (int i = 0; i < recentWords.count; i++) {
        char item[recentItemSize];
        formatRecentWordItem(recentWords.pages[i], item, recentItemSize);
        wchar_t wide[recentItemSize];
        utf8ToWide(item, wide, recentItemSize);
        UINT state = recentWordCanShow(i) ? MF_ENABLED : MF_GRAYED;
        InsertMenuW(submenu, static_cast<UINT>(i), MF_BYPOSITION | MF_STRING | state,
                    IDM_RECENT_FIRST + static_cast<UINT>(i), wide);
    }
    DeleteMenu(submenu, IDM_RECENT_NONE, MF_BYCOMMAND);
    EnableMenuItem(submenu, IDM_RECENT_CLEAR, MF_BYCOMMAND | MF_ENABLED);
}

}  // namespace

void showTrayMenu()
{
    HMENU menu = LoadMenuA(moduleInstance, MAKEINTRESOURCEA(IDM_TRAYMENU));
    if (menu == nullptr)
        return;
    // While a look-up waits on the network, the menu's first item ends it.
    HMENU popup = GetSubMenu(menu, 0);
    fillRecentWords(GetSubMenu(popup, recentWordsPosition));
    if (lookUpWaiting()) {
        InsertMenuA(popup, 0, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
        InsertMenuA(popup, 0, MF_BYPOSITION | MF_STRING, IDM_CANCELLOOKUP, cancelLookUpText);
    }
    POINT cursor;
    GetCursorPos(&cursor);
    // Without the foreground the menu would not close when the user clicks elsewhere.
    SetForegroundWindow(TrayWindow);
    trayMenuOpen = true;
    TrackPopupMenu(popup, TPM_BOTTOMALIGN, cursor.x, cursor.y, 0, TrayWindow, nullptr);
    // Also lets the menu close cleanly should the user open it again at once. Posted after the command
    // the menu posted, so that a question waiting for the menu never shows before a "Cancel Look-Up".
    PostMessageA(TrayWindow, trayMenuClosedMessage, 0, 0);
    DestroyMenu(menu);
}

bool lookupAfterMenu;

void onTrayMenuClosed()
{
    trayMenuOpen = false;
    // The hotkey first: it cancels a look-up whose question waited for the menu, which then never shows.
    if (lookupAfterMenu) {
        lookupAfterMenu = false;
        startLookup();
    }
    serveWaitingAsks();
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
        // A look-up under way ends first (the quit message would end it too).
        cancelRunningLookUp();
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
    case IDM_RECENT_CLEAR:
        clearKeptWords();
        break;
    case IDM_CANCELLOOKUP:
        // Chosen while the look-up waited; it may have ended on its own meanwhile.
        if (lookUpWaiting())
            cancelRunningLookUp();
        break;
    default:
        if (command >= IDM_RECENT_FIRST && command < IDM_RECENT_FIRST + recentWordsDepth)
            startRecentWord(command - IDM_RECENT_FIRST);
        break;
    }
}
