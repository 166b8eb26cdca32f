// The word entry dialog "WORD": captures the selected word, lets the user confirm it, starts the look-up.
// The box is made once, hidden, when the program starts: making a dialog takes longer than the whole
// capture, and the box should be up as soon as the hotkey has asked the program for its word. It is
// modeless, its keys passed to it by the window thread's loop.
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "config/config.h"
#include "core/dictsession.h"
#include "core/lookuptext.h"
#include "core/userinterface.h"
#include "lookupres.h"
#include "resource.h"
#include "ui/lookupdialogs.h"
#include "ui/lookupthread.h"
#include "ui/selectioncapture.h"
#include "ui/uihost.h"
#include "ui/widetext.h"
#include "ui/windowthread.h"

namespace {

// What the user may type; a captured word may be longer.
const int typingLimit = 25;
// Typing replaces the pre-filled word: this much of it starts selected.
const int preselectedLength = 100;
// How long the capture's notes to the user stay up.
const int captureStatusMs = 3000;
const UINT_PTR captureTimerId = 1;
// The box opens within milliseconds of the hotkey, while a window closed just before may still hand
// the activation back to its old owner: for its first second the box takes the foreground back.
const UINT_PTR foregroundTimerId = 2;
const UINT foregroundCheckMs = 100;
const int foregroundChecks = 10;

// What the word box holds while it is open.
struct WordBox {
    SelectionCapture capture;
    CapturedClipboard captured;  // what the capture had when the box opened
    bool capturing;              // the copy keys' copy is still awaited
    bool lookUpWhenCopied;       // Enter came while the copy was awaited: the look-up waits for it
    int foregroundChecksLeft;    // how many more times the box looks that it is in front
    bool open;                   // shown, until it is closed
    // Told once the box has closed with no look-up (null), or once the look-up it started has ended.
    void (*ended)(DictSession* found);
    // The look-up of the selected word started as the box showed it, before the user's Enter, and
    // that word (UTF-8); null while none runs.
    LookUpRun* ahead;
    char aheadWord[wordBufferSize];
    // The word the selection's copy produced (UTF-8), once its text has been read; empty before. Only
    // this word is looked up ahead: never the previous clipboard's, a typed one or one put back.
    char copiedWord[wordBufferSize];
};

HWND wordBoxWindow;
// The one box; what it holds is set anew each time it opens.
WordBox theBox;

WordBox* boxOf(HWND dialog) { return reinterpret_cast<WordBox*>(GetWindowLongPtrW(dialog, DWLP_USER)); }

// The text up to its first blank, in UTF-8 (wordBufferSize bytes).
void wordOf(const wchar_t* text, char* word)
{
    char converted[wordBufferSize];
    wideToUtf8(text, -1, converted, wordBufferSize);
    takeCapturedWord(converted, strlen(converted), word, wordBufferSize);
}

bool edited(HWND dialog) { return SendDlgItemMessageW(dialog, IDC_WORD_EDIT, EM_GETMODIFY, 0, 0) != 0; }

// Puts the text up to its first blank into the word box, all of it selected.
void showWord(HWND dialog, const wchar_t* text)
{
    char word[wordBufferSize];
    wordOf(text, word);
    wchar_t wideWord[wordBufferSize];
    utf8ToWide(word, wideWord, wordBufferSize);
    SetDlgItemTextW(dialog, IDC_WORD_EDIT, wideWord);
    HWND edit = GetDlgItem(dialog, IDC_WORD_EDIT);
    SendMessageW(edit, EM_SETSEL, 0, preselectedLength);
}

// Reads the clipboard for the box (putting the user's clipboard back over the capture's copy) and
// shows its text unless the user has typed in the box already.
void takeClipboard(HWND dialog, WordBox* box, CapturedClipboard state)
{
    wchar_t text[maxWideInput + 1];
    const bool read = readCapturedText(&box->capture, state, text, maxWideInput + 1);
    if (read && state == CapturedClipboard::copied)
        wordOf(text, box->copiedWord);
    if (read && !edited(dialog))
        showWord(dialog, text);
}

// The look-up started ahead is given up: its connections close at once.
void dropAhead(WordBox* box)
{
    abandonLookUp(box->ahead);
    box->ahead = nullptr;
}

// The box shows the word the selection's copy gave, untouched by the user: its look-up starts now,
// silently, so that Enter finds it under way or done. A look-up ahead of another word gives way to it.
// A word the user typed, the previous clipboard's or one put back is never sent before Enter.
void startAhead(HWND dialog, WordBox* box)
{
    if (box->copiedWord[0] == '\0' || edited(dialog) || !readConfigFlag("lookahead", 1))
        return;
    wchar_t wideWord[wordBufferSize];
    char shown[wordBufferSize];
    int length = GetDlgItemTextW(dialog, IDC_WORD_EDIT, wideWord, wordBufferSize);
    wideToUtf8(wideWord, length > 0 ? length : 0, shown, wordBufferSize);
    if (strcmp(shown, box->copiedWord) != 0)
        return;
    if (box->ahead != nullptr && strcmp(box->aheadWord, box->copiedWord) == 0)
        return;
    dropAhead(box);
    snprintf(box->aheadWord, sizeof box->aheadWord, "%s", box->copiedWord);
    box->ahead = startLookUp(box->aheadWord, configuredServer, true);
}

// Ends the capture, once, and says so when the user's clipboard could not be put back. A copy whose
// program held the clipboard past the box's first read is read now; an open box shows its word.
void endCapture(HWND dialog, WordBox* box, bool showLateCopy)
{
    if (box->capturing)
        KillTimer(dialog, captureTimerId);
    box->capturing = false;
    wchar_t text[maxWideInput + 1];
    if (endSelectionCapture(&box->capture, text, maxWideInput + 1) && showLateCopy) {
        wordOf(text, box->copiedWord);
        if (!edited(dialog)) {
            showWord(dialog, text);
            startAhead(dialog, box);
        }
    }
    if (box->capture.restoreFailed) {
        box->capture.restoreFailed = false;
        showStatus("Your clipboard could not be put back", captureStatusMs);
    }
}

// Once, when the box is made.
void onInitDialog(HWND dialog)
{
    HICON big =
        static_cast<HICON>(LoadImageW(moduleInstance, MAKEINTRESOURCEW(IDI_LEXITRAY), IMAGE_ICON,
                                      GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), LR_SHARED));
    HICON small = static_cast<HICON>(LoadImageW(moduleInstance, MAKEINTRESOURCEW(IDI_LEXITRAY), IMAGE_ICON,
                                                GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                                LR_SHARED));
    SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
    SendDlgItemMessageW(dialog, IDC_WORD_EDIT, EM_LIMITTEXT, typingLimit, 0);
}

// Each time the box opens: what the capture found so far, nothing of the last time.
void prepareBox(HWND dialog, WordBox* box)
{
    SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(box));
    HWND edit = GetDlgItem(dialog, IDC_WORD_EDIT);
    SetWindowTextW(edit, L"");
    SendMessageW(edit, EM_SETMODIFY, FALSE, 0);
    SendMessageW(edit, EM_EMPTYUNDOBUFFER, 0, 0);
    SendMessageW(dialog, DM_SETDEFID, IDOK, 0);
    box->capturing = box->captured == CapturedClipboard::waiting;
    box->lookUpWhenCopied = false;
    box->ahead = nullptr;
    box->aheadWord[0] = '\0';
    box->copiedWord[0] = '\0';
    takeClipboard(dialog, box, box->captured);
    startAhead(dialog, box);
    if (box->capture.untouched)
        showStatus("Your clipboard was left untouched", captureStatusMs);
    if (box->capturing)
        SetTimer(dialog, captureTimerId, captureSliceMs, nullptr);
    else
        endCapture(dialog, box, true);
    box->foregroundChecksLeft = foregroundChecks;
    SetTimer(dialog, foregroundTimerId, foregroundCheckMs, nullptr);
    box->open = true;
}

void showBox(HWND dialog)
{
    ShowWindow(dialog, SW_SHOW);
    SetForegroundWindow(dialog);
    HWND edit = GetDlgItem(dialog, IDC_WORD_EDIT);
    SetFocus(edit);
    SendMessageW(edit, EM_SETSEL, 0, preselectedLength);
}

// Closes the box; it stays made, hidden, for the next time.
void closeBox(HWND dialog, WordBox* box)
{
    dropAhead(box);
    KillTimer(dialog, foregroundTimerId);
    endCapture(dialog, box, false);
    ShowWindow(dialog, SW_HIDE);
    box->open = false;
}

void tellLookUpEnded(void* box, DictSession* found) { static_cast<WordBox*>(box)->ended(found); }

void onForegroundTimer(HWND dialog, WordBox* box)
{
    if (--box->foregroundChecksLeft <= 0)
        KillTimer(dialog, foregroundTimerId);
    if (IsWindowVisible(dialog) && !trayMenuOpen && GetForegroundWindow() != dialog) {
        SetForegroundWindow(dialog);
        SetFocus(GetDlgItem(dialog, IDC_WORD_EDIT));
    }
}

void onLookUp(HWND dialog);

void onCaptureTimer(HWND dialog, WordBox* box)
{
    const CapturedClipboard state = pollSelectionCapture(&box->capture);
    if (state == CapturedClipboard::waiting)
        return;
    KillTimer(dialog, captureTimerId);
    box->capturing = false;
    if (state == CapturedClipboard::copied) {
        takeClipboard(dialog, box, state);
        startAhead(dialog, box);
    }
    endCapture(dialog, box, true);
    if (box->lookUpWhenCopied)
        onLookUp(dialog);
}

// "Look up": the box closes and the look-up is confirmed, or started; its end is told when it comes.
void onLookUp(HWND dialog)
{
    // While the selection's copy is awaited the box shows the previous clipboard's word (which may be
    // anything copied long ago): unless the user has typed, the look-up waits for the copy, which
    // comes, or is given up, within the capture's bound.
    WordBox* box = boxOf(dialog);
    if (box->capturing && !edited(dialog)) {
        box->lookUpWhenCopied = true;
        return;
    }
    box->lookUpWhenCopied = false;
    wchar_t wideWord[wordBufferSize];
    int length = GetDlgItemTextW(dialog, IDC_WORD_EDIT, wideWord, wordBufferSize);
    if (length <= 0) {
        showMessage(dialog, "Please enter a word into the box provided");
        return;
    }
    char word[wordBufferSize];
    wideToUtf8(wideWord, length, word, wordBufferSize);
    // The word looked up ahead goes on from where it is; any other word is looked up now.
    LookUpRun* ahead = strcmp(word, box->aheadWord) == 0 ? box->ahead : nullptr;
    if (ahead != nullptr)
        box->ahead = nullptr;
    closeBox(dialog, box);
    confirmLookUp(ahead != nullptr ? ahead : startLookUp(word, configuredServer, false), tellLookUpEnded,
                  box);
}

INT_PTR CALLBACK wordEntryProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    WordBox* box = boxOf(dialog);
    switch (message) {
    case WM_INITDIALOG:
        onInitDialog(dialog);
        return FALSE;
    case WM_DPICHANGED:
        followDpiChange(dialog, lParam);
        return FALSE;
    case WM_TIMER:
        if (!box || !box->open)
            return FALSE;
        if (wParam == foregroundTimerId) {
            onForegroundTimer(dialog, box);
            return TRUE;
        }
        if (wParam != captureTimerId)
            return FALSE;
        onCaptureTimer(dialog, box);
        return TRUE;
    case WM_COMMAND:
        if (!box || !box->open)
            return FALSE;
        switch (LOWORD(wParam)) {
        case IDC_WORD_EDIT:
            // The user edits the word: what was looked up ahead is not what they will ask for, and an
            // Enter given before the copy came is taken back (the edited word waits for an Enter of its own).
            if (HIWORD(wParam) == EN_CHANGE && edited(dialog)) {
                dropAhead(box);
                box->lookUpWhenCopied = false;
            }
            return FALSE;
        case IDOK:
            onLookUp(dialog);
            return TRUE;
        case IDCANCEL:
            closeBox(dialog, box);
            box->ended(nullptr);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

}  // namespace

void restartWordLookAhead()
{
    WordBox* box = wordBoxWindow != nullptr ? boxOf(wordBoxWindow) : nullptr;
    if (box == nullptr || !box->open)
        return;
    dropAhead(box);
    startAhead(wordBoxWindow, box);
}

bool prepareWordEntryDialog(HWND owner)
{
    if (!wordBoxWindow)
        wordBoxWindow = CreateDialogParamW(moduleInstance, L"WORD", owner, wordEntryProc, 0);
    return wordBoxWindow != nullptr;
}

void openWordEntryDialog(HWND owner, void (*ended)(DictSession* found))
{
    if (theBox.open)
        return;
    theBox = WordBox();
    theBox.ended = ended;
    // Asked before the box shows, so the program is asked as soon as the hotkey comes; the box shows
    // as soon as it has been asked, and a copy of the keys landing later fills it.
    theBox.captured = startSelectionCapture(&theBox.capture, readConfigFlag("keepclipboard", 0));
    if (!prepareWordEntryDialog(owner)) {
        endSelectionCapture(&theBox.capture, nullptr, 0);
        ended(nullptr);
        return;
    }
    prepareBox(wordBoxWindow, &theBox);
    showBox(wordBoxWindow);
}

bool wordEntryMessage(MSG* message) { return theBox.open && IsDialogMessageW(wordBoxWindow, message); }

bool wordEntryOpen() { return theBox.open; }

void closeWordEntryDialog()
{
    if (theBox.open)
        closeBox(wordBoxWindow, &theBox);
}
