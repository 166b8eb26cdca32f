// StatusNotifier: status texts as the tray balloon, or on older systems as the popup notice beside the
// taskbar.
#include <windows.h>
#include <mmsystem.h>
#include <shellapi.h>

#include <algorithm>

#include "app/trayapp.h"
#include "core/userinterface.h"
#include "resource.h"
#include "ui/lookupthread.h"
#include "ui/widetext.h"

namespace {

const char popupTemplate[] = "9x";
const UINT popupTickMs = 10;  // the timer period, and what each tick adds to the count
const int hideDurationMs = 1;
const COLORREF popupBackground = RGB(255, 255, 225);
const COLORREF popupTextColour = RGB(0, 0, 0);
const int popupTextCapacity = 256;

// Popup state, used only when useBalloons is false. At most one popup exists at a time.
// popupText: what the next popup shows; a popup copies it once, when it opens.
char popupText[popupTextCapacity];
// popupDuration: how long the popup on show stays, in milliseconds.
int popupDuration;
// popupElapsed: the popup's count, raised by popupTickMs at each tick whatever time really
// passed, so a popup stays for the number of ticks its duration asks for.
int popupElapsed;
// currentPopup: the popup on show, or null; the popup records itself when it opens.
HWND currentPopup;
// popupBrush: the popup's background, made when it opens and released when it closes.
HBRUSH popupBrush;
// popupPicture: the popup's picture drawn for a DPI other than 96, made when it opens and released
// when it closes; null when the template's picture serves.
HBITMAP popupPicture;
// tipShowsWaiting: the tray icon's tip shows how long a look-up has waited instead of the hint.
bool tipShowsWaiting;

// Closing by any path (count, click, command, a new status, hideStatus) ends in the popup's
// destroy handling; with no popup on show nothing happens.
void closePopup()
{
    if (currentPopup != nullptr)
        DestroyWindow(currentPopup);
}

// The popup's window is gone: stop counting, release the brush, forget the handle.
void onPopupDestroy(HWND popup)
{
    KillTimer(popup, popupTimerId);
    if (popupBrush != nullptr) {
        DeleteObject(popupBrush);
        popupBrush = nullptr;
    }
    if (popupPicture != nullptr) {
        DeleteObject(popupPicture);
        popupPicture = nullptr;
    }
    if (currentPopup == popup)
        currentPopup = nullptr;
}

#if defined(__i386__)
static_assert(sizeof(APPBARDATA) == 36, "the 32-bit taskbar query record is 36 bytes");
#endif

// The class of the shell's taskbar window.
const char taskbarWindowClass[] = "Shell_TrayWnd";

// Where the popup goes: against the taskbar, flush with its right or lower end. The shell tells
// which edge the taskbar is on; its rectangle is taken from the taskbar window itself when there
// is one, since some shells report only a sliver of it. When the shell cannot tell where the
// taskbar is, the lower right corner of the work area serves.
POINT popupPosition(int width, int height)
{
    APPBARDATA bar;
    ZeroMemory(&bar, sizeof bar);
    bar.cbSize = sizeof bar;
    if (SHAppBarMessage(ABM_GETTASKBARPOS, &bar) != 0) {
        RECT r = bar.rc;
        HWND taskbar = FindWindowA(taskbarWindowClass, nullptr);
        RECT shown;
        if (taskbar != nullptr && IsWindowVisible(taskbar) && GetWindowRect(taskbar, &shown))
            r = shown;
        switch (bar.uEdge) {
        case ABE_BOTTOM:
            return POINT{r.right - width, r.top - height};
        case ABE_TOP:
            return POINT{r.right - width, r.bottom};
        case ABE_LEFT:
            return POINT{r.right, r.bottom - height};
        case ABE_RIGHT:
            return POINT{r.left - width, r.bottom - height};
        default:
            break;
        }
    }
    RECT work;
    if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0)) {
        SetRect(&work, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    }
    return POINT{work.right - width, work.bottom - height};
}

// The popup's size: its client area (it has no frame), grown where needed to show the whole
// picture, which is drawn for the usual dialog font and may outgrow a window laid out in another.
SIZE popupSize(HWND popup)
{
    RECT client;
    GetClientRect(popup, &client);
    SIZE size = {client.right, client.bottom};
    RECT picture;
    HWND pictureControl = GetWindow(popup, GW_CHILD);  // the first control of the template
    if (pictureControl != nullptr && GetWindowRect(pictureControl, &picture)) {
        size.cx = std::max<LONG>(size.cx, picture.right - picture.left);
        size.cy = std::max<LONG>(size.cy, picture.bottom - picture.top);
    }
    return size;
}

// The template's picture is drawn for 96 DPI, while the window and its text grow with the DPI: at
// any other DPI the picture is replaced by one drawn for it, so the text stays on its line.
void fitPopupPicture(HWND popup)
{
    const int dpi = windowDpi(popup);
    HWND picture = GetWindow(popup, GW_CHILD);  // the first control of the template
    if (dpi == standardDpi || picture == nullptr)
        return;
    popupPicture = loadBitmapForDpi(IDB_NOTICE, dpi);
    if (popupPicture == nullptr)
        return;
    HBITMAP previous = reinterpret_cast<HBITMAP>(
        SendMessageA(picture, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(popupPicture)));
    if (previous != nullptr && previous != popupPicture)
        DeleteObject(previous);
}

void onPopupInit(HWND popup)
{
    currentPopup = popup;
    fitPopupPicture(popup);
    const SIZE size = popupSize(popup);
    const POINT at = popupPosition(size.cx, size.cy);
    MoveWindow(popup, at.x, at.y, size.cx, size.cy, TRUE);
    PlaySoundA(MAKEINTRESOURCEA(IDW_NOTICE), moduleInstance, SND_RESOURCE | SND_ASYNC);
    popupBrush = CreateSolidBrush(popupBackground);
    SetDlgItemTextA(popup, IDC_NOTICE_TEXT, popupText);
    popupElapsed = 0;
    SetTimer(popup, popupTimerId, popupTickMs, nullptr);
}

void onPopupTick(HWND popup)
{
    popupElapsed += popupTickMs;
    if (popupElapsed >= popupDuration) {
        KillTimer(popup, popupTimerId);
        closePopup();
    }
}

INT_PTR onPopupColour(HDC dc)
{
    SetTextColor(dc, popupTextColour);
    SetBkColor(dc, popupBackground);
    return reinterpret_cast<INT_PTR>(popupBrush);
}

// The popup notice. Its static controls let clicks through, so a click anywhere closes it.
INT_PTR CALLBACK popupProc(HWND popup, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        onPopupInit(popup);
        return FALSE;  // leave the keyboard focus where it is
    case WM_TIMER:
        if (wParam == popupTimerId)
            onPopupTick(popup);
        return TRUE;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
        closePopup();
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            closePopup();
            return TRUE;
        }
        return FALSE;
    case WM_CTLCOLORSTATIC:
        return onPopupColour(reinterpret_cast<HDC>(wParam));
    case WM_DESTROY:
        onPopupDestroy(popup);
        return FALSE;
    default:
        return FALSE;
    }
}

}  // namespace

// The core's texts are UTF-8 (the waiting status has an ellipsis); balloon, popup and tip take the
// system code page.
void toSystemCodePage(const char* utf8Text, char text[popupTextCapacity])
{
    wchar_t wide[popupTextCapacity];
    utf8ToWide(utf8Text, wide, popupTextCapacity);
    if (WideCharToMultiByte(CP_ACP, 0, wide, -1, text, popupTextCapacity, nullptr, nullptr) == 0)
        lstrcpynA(text, utf8Text, popupTextCapacity);
}

// The tip goes back to the hint once nothing is waited for any more.
void restoreTip()
{
    if (!tipShowsWaiting)
        return;
    tipShowsWaiting = false;
    char hint[hotkeyHintCapacity];
    formatHotkeyHint(readHotkeySpec(), hint);
    updateTrayTip(hint);
}

// Each is shown on the window thread, which owns the popup and the icon, whoever asks.
struct Status {
    const char* text;
    int milliseconds;
};

void showStatus(const char* utf8Text, int milliseconds)
{
    Status status = {utf8Text, milliseconds};
    runOnWindowThread(
        [](void* data) {
            const Status* shown = static_cast<const Status*>(data);
            char text[popupTextCapacity];
            toSystemCodePage(shown->text, text);
            if (useBalloons) {
                showTrayBalloon(text, shown->milliseconds);
                return;
            }
            lstrcpynA(popupText, text, popupTextCapacity);
            popupDuration = shown->milliseconds;
            closePopup();
            CreateDialogParamA(moduleInstance, popupTemplate, TrayWindow, popupProc, 0);
        },
        &status);
}

void showWaitingStatus(const char* utf8Text)
{
    // A balloon or popup each second would be a notification (with its sound) each second.
    runOnWindowThread(
        [](void* data) {
            char text[popupTextCapacity];
            toSystemCodePage(static_cast<const char*>(data), text);
            tipShowsWaiting = true;
            updateTrayTip(text);
        },
        const_cast<char*>(utf8Text));
}

void hideStatus()
{
    runOnWindowThread(
        [](void*) {
            restoreTip();
            if (useBalloons) {
                showTrayBalloon("", hideDurationMs);
                return;
            }
            popupDuration = hideDurationMs;
            popupText[0] = '\0';
            closePopup();
        },
        nullptr);
}
