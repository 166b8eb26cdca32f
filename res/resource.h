// Identifiers of the program's resources, shared by lexitray.rc and the code.
#pragma once

// Application manifest (embedded as resource 1 of type RT_MANIFEST).
#define IDR_MANIFEST 1

// Artwork: the About banner, the program icon, the popup notice's picture and sound.
#define IDB_BANNER 102
#define IDI_LEXITRAY 103
#define IDB_NOTICE 109
#define IDW_NOTICE 110

// The tray icon's context menu and its commands.
#define IDM_TRAYMENU 105
#define IDM_EXIT 40001
#define IDM_ABOUT 40002
#define IDM_SETTINGS 40003
#define IDM_LOOKUP 40005
#define IDM_CANCELLOOKUP 40006
// The "Recent Words" submenu: its item while there are none, the command that empties it, and one
// command per word shown (IDM_RECENT_FIRST + its place, newest first, recentWordsDepth of them at most).
#define IDM_RECENT_NONE 40007
#define IDM_RECENT_CLEAR 40008
#define IDM_RECENT_FIRST 40010

// Popup notice (dialog "9x"): the status text below the picture's title.
#define IDC_NOTICE_TEXT 1001

// Controls that carry no identifier.
#define IDC_NONE -1
