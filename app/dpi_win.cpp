// Drawing at the screen's DPI: what the system reports, and the large artwork scaled to it.
#include "app/trayapp.h"

namespace {

typedef UINT(WINAPI* GetDpiForWindowFunction)(HWND);

// Windows 10 1607 and later tell each monitor's DPI apart; earlier systems have one for all screens
// and lack the call, so it is looked up rather than imported.
GetDpiForWindowFunction dpiForWindowFunction()
{
    static const GetDpiForWindowFunction function = reinterpret_cast<GetDpiForWindowFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
    return function;
}

}  // namespace

int screenDpi()
{
    HDC screen = GetDC(nullptr);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen != nullptr)
        ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : standardDpi;
}

int windowDpi(HWND window)
{
    const GetDpiForWindowFunction dpiForWindow = dpiForWindowFunction();
    const UINT dpi = dpiForWindow != nullptr && window != nullptr ? dpiForWindow(window) : 0;
    return dpi > 0 ? static_cast<int>(dpi) : screenDpi();
}

void followDpiChange(HWND window, LPARAM suggested)
{
    const RECT* rect = reinterpret_cast<const RECT*>(suggested);
    if (rect == nullptr)
        return;
    SetWindowPos(window, nullptr, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

int scaleToDpi(int pixels, int dpi) { return MulDiv(pixels, dpi, standardDpi); }

HBITMAP loadBitmapForDpi(int bitmapId, int dpi)
{
    const UINT loadFlags = dpi == standardDpi ? 0 : LR_CREATEDIBSECTION;
    HBITMAP drawn = static_cast<HBITMAP>(
        LoadImageA(moduleInstance, MAKEINTRESOURCEA(bitmapId), IMAGE_BITMAP, 0, 0, loadFlags));
    if (drawn == nullptr || dpi == standardDpi)
        return drawn;
    // The artwork is drawn for 96 DPI only: a second copy at twice the size would more than double the
    // program. Scaled with halftone it keeps its proportions and stays smooth.
    HBITMAP large = drawn;
    BITMAP size;
    GetObjectA(large, sizeof size, &size);
    const int width = MulDiv(size.bmWidth, dpi, standardDpi);
    const int height = MulDiv(size.bmHeight, dpi, standardDpi);
    HDC screen = GetDC(nullptr);
    HDC source = CreateCompatibleDC(screen);
    HDC target = CreateCompatibleDC(screen);
    HBITMAP scaled = CreateCompatibleBitmap(screen, width, height);
    if (scaled != nullptr) {
        HGDIOBJ oldSource = SelectObject(source, large);
        HGDIOBJ oldTarget = SelectObject(target, scaled);
        // Halftone averages neighbouring pixels instead of repeating or dropping whole rows and columns.
        SetStretchBltMode(target, HALFTONE);
        SetBrushOrgEx(target, 0, 0, nullptr);
        StretchBlt(target, 0, 0, width, height, source, 0, 0, size.bmWidth, size.bmHeight, SRCCOPY);
        SelectObject(source, oldSource);
        SelectObject(target, oldTarget);
    }
    DeleteDC(source);
    DeleteDC(target);
    ReleaseDC(nullptr, screen);
    DeleteObject(large);
    return scaled;
}
