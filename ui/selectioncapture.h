// Capturing the foreground program's selection onto the clipboard, and putting the user's clipboard back.
#pragma once
#include <windows.h>

#include <stdint.h>

// The most clipboard formats, and bytes, kept for putting back; a clipboard holding more is not kept.
const int maxKeptFormats = 64;
const SIZE_T maxKeptBytes = 64u * 1024u * 1024u;

struct KeptFormat {
    UINT format;
    HGLOBAL data;
};

struct SelectionCapture {
    bool keep;       // the user asked for the clipboard to be put back
    bool keptWhole;  // every copyable format was kept
    int keptCount;
    KeptFormat kept[maxKeptFormats];
    DWORD sequenceBefore;  // the clipboard's sequence number before the capture
    DWORD sequenceAtRead;  // ... once the capture's copy has landed
};

// Asks the foreground program to copy its selection: by message to its focused control, and when
// that copies nothing, with Ctrl+Insert typed to it. With keep set, the clipboard is kept first.
// Returns within about a second whatever the program does. Must run before the word box shows.
void captureSelection(SelectionCapture* capture, bool keep);

// Once the word has been read: puts the kept clipboard back if the capture replaced it and nothing
// else has since, and frees what was kept.
void finishSelectionCapture(SelectionCapture* capture);
