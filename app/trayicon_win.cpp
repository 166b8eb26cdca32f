// The program's one notification-area icon: add, new tip, remove, and its information balloon.
#include <windows.h>
#include <shellapi.h>

#include "app/trayapp.h"
#include "resource.h"

namespace {

// The record carries the balloon fields (the version 2 layout) on every system, so the same
// record serves old shells and new ones alike.
const DWORD trayRecordSize = NOTIFYICONDATAA_V2_SIZE;
#if defined(__i386__)
static_assert(NOTIFYICONDATAA_V2_SIZE == 488, "the 32-bit tray record with balloon fields is 488 bytes");
#endif

const char balloonTitle[] = "Lexitray";

// The icon at the size the notification area shows (16 pixels at 96 DPI, 20 to 40 above), loaded once
// per size: a shared icon would come back at the size it was first loaded with.
HICON trayIcon;
int trayIconPixels;

HICON trayIconForScreen()
{
    const int pixels = GetSystemMetrics(SM_CXSMICON);
    if (trayIcon == nullptr || pixels != trayIconPixels) {
        HICON icon = static_cast<HICON>(
            LoadImageA(moduleInstance, MAKEINTRESOURCEA(IDI_LEXITRAY), IMAGE_ICON, pixels, pixels, 0));
        if (icon != nullptr) {
            // The shell keeps its own copy of an icon once it has been given it.
            if (trayIcon != nullptr)
                DestroyIcon(trayIcon);
            trayIcon = icon;
            trayIconPixels = pixels;
        }
    }
    return trayIcon;
}

// A zeroed record for the one icon of TrayWindow.
NOTIFYICONDATAA trayRecord()
{
    NOTIFYICONDATAA data;
    ZeroMemory(&data, sizeof data);
    data.cbSize = trayRecordSize;
    data.hWnd = TrayWindow;
    data.uID = trayIconId;
    return data;
}

// Sends the icon, the tip and the callback message with the given request.
void sendIconAndTip(DWORD request, const char* tip)
{
    NOTIFYICONDATAA data = trayRecord();
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = trayCallbackMessage;
    data.hIcon = trayIconForScreen();
    lstrcpynA(data.szTip, tip, sizeof data.szTip);
    Shell_NotifyIconA(request, &data);
}

}  // namespace

void addTrayIcon(const char* tip) { sendIconAndTip(NIM_ADD, tip); }

void updateTrayTip(const char* tip) { sendIconAndTip(NIM_MODIFY, tip); }

void removeTrayIcon()
{
    NOTIFYICONDATAA data = trayRecord();
    Shell_NotifyIconA(NIM_DELETE, &data);
}

void showTrayBalloon(const char* text, int milliseconds)
{
    NOTIFYICONDATAA data = trayRecord();
    data.uFlags = NIF_INFO;  // icon, tip and callback stay as they are
    lstrcpynA(data.szInfo, text, sizeof data.szInfo);
    lstrcpynA(data.szInfoTitle, balloonTitle, sizeof data.szInfoTitle);
    data.uTimeout = static_cast<UINT>(milliseconds);
    data.dwInfoFlags = NIIF_INFO;
    Shell_NotifyIconA(NIM_MODIFY, &data);
}
