// What the dialogs need from the program that hosts them: the module and owner window, the DPI helpers,
// and the operations of the shell that Settings changes. The program provides them; the dialogs include
// nothing of the program's own.
#pragma once
#include <windows.h>

#include "config/hotkey.h"

// The hidden top-level window that owns the tray icon, the hotkey registration and the popup
// notice, and owns the program's dialogs. Set first thing while it is being created, so that
// messages shown during creation already have it; null before that.
extern HWND TrayWindow;

// The module every dialog template, icon, bitmap, sound and menu is loaded from; stored by the
// entry point before anything else runs.
extern HINSTANCE moduleInstance;

// Gives the tray icon a new tip.
void updateTrayTip(const char* tip);

// Releases the current hotkey and registers spec instead (its key code is not 0). On failure
// tells the user, owned by owner, and leaves no hotkey registered. True when registered.
bool changeHotkey(const HotkeySpec& spec, HWND owner);

// Sent to a top-level window moved to a monitor of another DPI (Windows 8.1 and later; the headers
// hide it when building for older systems).
#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

// WM_DPICHANGED's answer every dialog gives: the window takes the rectangle the message suggests (lParam).
// Under per-monitor v1 awareness the system leaves that to the window; a window it has already sized keeps
// its size.
void followDpiChange(HWND window, LPARAM suggested);

// The dots per inch a window is drawn at (the monitor's where the system tells each apart), and
// the one the system sizes fonts by when it turns points into pixels.
int windowDpi(HWND window);
int screenDpi();
// The dots per inch that artwork and stored font heights are made for.
const int standardDpi = 96;
// Pixels at standardDpi turned into pixels at dpi.
int scaleToDpi(int pixels, int dpi);
// A picture for dpi: at standardDpi the bitmap resource itself, at any other DPI the bitmap scaled
// to it; null on failure. The caller deletes it.
HBITMAP loadBitmapForDpi(int bitmapId, int dpi);

// Loads the offline dictionaries from the user's folder and the one beside the program, replacing
// those loaded before; tells the user, owned by owner, about every file left out.
void loadUserDictionaries(HWND owner);

// The autostart value "Lexitray" (this program's path, quoted) under the user's Run key. True when written.
bool writeAutostartValue();

// What is left after removeAutostartValue.
enum AutostartRemoval {
    autostartRemoved,            // no Run value names the program any more
    autostartUserValueStays,     // the user's value could not be deleted
    autostartMachineValueStays,  // a value under the machine's key remains, and only an administrator may
                                 // delete it
};
// Deletes the user's value, and the machine's where this user may.
AutostartRemoval removeAutostartValue();
