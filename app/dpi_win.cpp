// Drawing at the screen's DPI: what the system reports, and the large artwork scaled to it.
#include "app/trayapp.h"

namespace {

// Artwork drawn at this multiple of standardDpi.
const int largeArtScale = 2;

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

int scaleToDpi(int pixels, int dpi) { return MulDiv(pixels, dpi, standardDpi); }

HBITMAP loadBitmapForDpi(int bitmapId, int largeBitmapId, int dpi)
{
    if (dpi == standardDpi)
        return static_cast<HBITMAP>(
            LoadImageA(moduleInstance, MAKEINTRESOURCEA(bitmapId), IMAGE_BITMAP, 0, 0, 0));
    HBITMAP large = static_cast<HBITMAP>(
        LoadImageA(moduleInstance, MAKEINTRESOURCEA(largeBitmapId), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (large == nullptr)
        return nullptr;
    BITMAP size;
    GetObjectA(large, sizeof size, &size);
    const int width = MulDiv(size.bmWidth, dpi, standardDpi * largeArtScale);
    const int height = MulDiv(size.bmHeight, dpi, standardDpi * largeArtScale);
    HDC screen = GetDC(nullptr);
    HDC source = CreateCompatibleDC(screen);
    HDC target = CreateCompatibleDC(screen);
    HBITMAP scaled = CreateCompatibleBitmap(screen, width, height);
    if (scaled != nullptr) {
        HGDIOBJ oldSource = SelectObject(source, large);
        HGDIOBJ oldTarget = SelectObject(target, scaled);
        // Halftone averages the pixels it drops, so scaling down stays sharp without flicker.
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
