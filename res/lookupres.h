// Control identifiers of the look-up dialogs "WORD", "DB", "SUGGEST" and "DISPLAY".
#pragma once

// Word entry dialog "WORD": the word box ("Look up" is IDOK, "Cancel" IDCANCEL).
#define IDC_WORD_EDIT 1003

// Database choice dialog "DB": the list of descriptions, its OK button and the skip check box.
// IDOK and IDCANCEL are unseen buttons outside the client area, so Enter and Escape land there.
#define IDC_DB_LIST 1006
#define IDC_DB_OK 1007
#define IDC_DB_SKIP 1011

// Suggestion dialog "SUGGEST": the list of words and "Try Next Server" ("Look Up" is IDOK, the
// default button, "Cancel" IDCANCEL).
#define IDC_SUGGEST_LIST 1008
#define IDC_SUGGEST_NEXT 1009

// Definition viewer "DISPLAY": the step buttons, the text, the heading above it, and the find bar
// (its box and what it says) ("Close" is IDCANCEL).
#define IDC_VIEW_NEXT 1002
#define IDC_VIEW_PREVIOUS 1003
#define IDC_VIEW_TEXT 1005
#define IDC_VIEW_HEADING 1012
#define IDC_VIEW_FIND 1013
#define IDC_VIEW_FOUND 1014
