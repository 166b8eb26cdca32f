// The tray program's shared state and the operations of its shell: tray icon, status display, hotkey.
#pragma once
#include <windows.h>

#include "config/hotkey.h"
#include "ui/uihost.h"

// True on systems of major version 5 and later, where status texts appear as the tray icon's
// balloon; false on older systems, which get the popup notice instead. Set once at creation.
extern bool useBalloons;

// The one tray icon and the message the notification area sends for it.
const UINT trayIconId = 2122;
const UINT trayCallbackMessage = WM_USER + 1;  // 1025

// The popup notice's timer.
const UINT_PTR popupTimerId = 990;

// Tray icon: added with the tip, removed (updateTrayTip gives it a new tip). Results are ignored by design: a
// missing notification area only loses the icon.
void addTrayIcon(const char* tip);
void removeTrayIcon();

// Shows text in the tray icon's information balloon for the given milliseconds; an empty text
// takes the balloon down.
void showTrayBalloon(const char* text, int milliseconds);

// Registers the hotkey with TrayWindow at start-up; on failure tells the user, owned by
// TrayWindow, and start-up goes on.
void registerHotkey(const HotkeySpec& spec);
