// The About dialog: the banner and a few words on what the program does and where to get help.
#include <windows.h>

#include "resource.h"
#include "settingsres.h"
#include "ui/settingsdialogs.h"
#include "ui/uihost.h"
#include "version.h"

namespace {

const char aboutTemplate[] = "ABOUT";
const INT_PTR aboutResult = 0;

// The version heads the text, as CMake states it.
const char aboutText[] =
    "Lexitray " LEXITRAY_VERSION_TEXT "\r\n"
    "\r\n"
    "Lexitray is a small dictionary that waits in the notification area of your taskbar.\r\n"
    "\r\n"
    "It connects to DICT servers around the world (the dictionary protocol of RFC 2229), so that you "
    "can look up any word from any program: select the word and press the hotkey, Ctrl+Shift+D unless "
    "you chose another one. The look-up box opens with the selected word already filled in. Lexitray "
    "asks the server which of its dictionaries know the word, lets you choose one when there are "
    "several, and shows the definitions one at a time.\r\n"
    "\r\n"
    "When a server does not answer, or does not know the word, Lexitray offers to try the next one "
    "in its list. Click the tray icon to open its menu: there you can start a look-up without the "
    "hotkey, and in Settings choose the server, the hotkey, the font of the definitions and whether "
    "Lexitray starts with Windows.\r\n"
    "\r\n"
    "Getting help: the README that comes with Lexitray explains how to install and use it. If "
    "something does not work as it should, please report it on the project's issue tracker, "
    "together with the server you used and what you saw.";

// The banner picture: the one static control that shows a bitmap.
HWND bannerControl(HWND dialog)
{
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP)
            return child;
    }
    return nullptr;
}

// The template's banner is drawn for 96 DPI; the dialog grows with the DPI, so the banner is
// replaced by one drawn for it and still spans the dialog. The dialog keeps the bitmap it made in
// its user data; the static control deletes none.
void fitBanner(HWND dialog, int dpi)
{
    HWND picture = bannerControl(dialog);
    if (picture == nullptr || (dpi == standardDpi && GetWindowLongPtrA(dialog, DWLP_USER) == 0))
        return;
    HBITMAP banner = loadBitmapForDpi(IDB_BANNER, dpi);
    if (banner == nullptr)
        return;
    HBITMAP made = reinterpret_cast<HBITMAP>(GetWindowLongPtrA(dialog, DWLP_USER));
    HBITMAP previous = reinterpret_cast<HBITMAP>(
        SendMessageA(picture, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(banner)));
    if (previous != nullptr && previous != made)
        DeleteObject(previous);
    if (made != nullptr)
        DeleteObject(made);
    SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(banner));
}

void onAboutDestroy(HWND dialog)
{
    HBITMAP banner = reinterpret_cast<HBITMAP>(GetWindowLongPtrA(dialog, DWLP_USER));
    if (banner != nullptr)
        DeleteObject(banner);
}

INT_PTR CALLBACK aboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        fitBanner(dialog, windowDpi(dialog));
        SetDlgItemTextA(dialog, IDC_ABOUT_TEXT, aboutText);
        return FALSE;
    case WM_DPICHANGED:
        // Moved to a monitor of another DPI: the dialog takes the size the system suggests, the banner
        // is redrawn for the DPI.
        followDpiChange(dialog, lParam);
        fitBanner(dialog, HIWORD(wParam));
        return FALSE;
    case WM_DESTROY:
        onAboutDestroy(dialog);
        return FALSE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
        case IDCANCEL:
            EndDialog(dialog, aboutResult);
            return TRUE;
        default:
            return FALSE;
        }
    default:
        return FALSE;
    }
}

}  // namespace

void runAboutDialog(HWND owner) { DialogBoxParamA(moduleInstance, aboutTemplate, owner, aboutDialogProc, 0); }
