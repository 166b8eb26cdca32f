// Capturing the foreground program's selection onto the clipboard, and putting the user's clipboard back.
#pragma once
#include <windows.h>

#include <stdint.h>

#include "core/capturesteps.h"
#include "ui/widetext.h"

// The most clipboard formats, and bytes, kept for putting back; a clipboard holding more is not kept,
// and then not touched either.
const int maxKeptFormats = 64;
const SIZE_T maxKeptBytes = 64u * 1024u * 1024u;

struct KeptFormat {
    UINT format;
    HANDLE data;  // a copy of the format's data, of the kind formatKeeping tells
};

struct SelectionCapture {
    bool keep;       // the user asked for the clipboard to be put back
    bool keptWhole;  // every format was kept, so the capture may change the clipboard
    bool untouched;  // the clipboard could not be kept whole: nothing was asked of the program
    bool readable;   // the clipboard's owner answers, so its data can be read without hanging
    bool restoreFailed;
    bool over;  // the capture has ended and what was kept is gone
    int keptCount;
    KeptFormat kept[maxKeptFormats];
    DWORD sequenceBefore;  // the clipboard's sequence number once kept, before anything was asked
    DWORD program;         // the process asked to copy
    WordCapture steps;
    bool answered;  // the copy request was answered
    // The clipboard's text read just before the copy keys went out: while their copy is awaited the
    // clipboard is not opened, since a program that finds it open may give up its copy.
    bool hasTextBefore;
    wchar_t textBefore[maxWideInput + 1];
};

// What the capture's clipboard holds for the word box.
enum class CapturedClipboard {
    waiting,  // the copy has not landed yet
    copied,   // the program's copy landed: the word is its text
    none,     // no copy came (or another program's did): the box shows the clipboard's text as it is
};

// Asks the foreground program to copy its selection: by message to its focused control, then with
// Ctrl+Insert typed to it. With keep set the clipboard is kept first, and when it cannot be kept whole
// nothing is asked at all. Returns as soon as the box may show: the copy landed, nothing more is to
// be asked, or the copy keys have been handed to the program. Must run before the word box shows.
CapturedClipboard startSelectionCapture(SelectionCapture* capture, bool keep);

// While the copy keys' copy is awaited, called every captureSliceMs: tells whether it landed now, or
// whether the capture is over without it.
CapturedClipboard pollSelectionCapture(SelectionCapture* capture);

// Reads the clipboard's text (up to capacity - 1 characters, terminated) and, in the same opening, puts
// the kept clipboard back over the capture's copy; while the copy is still awaited (waiting), gives the
// text the clipboard held before the copy keys. Returns false when there is no text to read.
bool readCapturedText(SelectionCapture* capture, CapturedClipboard state, wchar_t* text, int capacity);

// Ends the capture: when the clipboard is to be put back and the copy keys' copy may still land, waits
// for it up to the capture's bound and puts the clipboard back over it; frees what was kept. When the
// copy's text had not been read yet (its program held the clipboard past the box's read), it is read
// into text (up to capacity - 1 characters; text may be null) and true is returned.
bool endSelectionCapture(SelectionCapture* capture, wchar_t* text, int capacity);
