// The definition viewer "DISPLAY": the definitions of the last look-up, one at a time, black on white;
// a word double-clicked in them is looked up in its place, and Back returns to what was shown before.
#include <windows.h>
#include <commctrl.h>
#include <stdlib.h>
#include <string.h>

#include "config/config.h"
#include "core/dictsession.h"
#include "core/lookuptext.h"
#include "core/userinterface.h"
#include "core/viewertext.h"
#include "lookupres.h"
#include "ui/lookupdialogs.h"
#include "ui/lookupthread.h"
#include "ui/uihost.h"
#include "ui/widetext.h"
#include "ui/windowthread.h"

namespace {

// The `font` value that means no font was chosen; compared exactly.
const char noFontName[] = "NULL";
const int fontNameCapacity = 256;
const int normalWeight = 400;
const COLORREF textColour = RGB(0, 0, 0);
const COLORREF backgroundColour = RGB(255, 255, 255);

// Posted by the viewer's controls to the viewer: follow the word at the text position wParam, go back,
// follow the selection (the hotkey pressed over the viewer).
const UINT viewerFollowAtMessage = WM_APP + 1;
const UINT viewerBackMessage = WM_APP + 2;
const UINT viewerFollowSelectionMessage = WM_APP + 3;
// The subclass of the viewer's controls that reports double clicks and the Back keys.
const UINT_PTR viewerControlSubclass = 1;
// How long the note that the offline dictionaries answered stays up.
const int offlineNoteMs = 5000;
// A word to follow: at most a word's length of UTF-16 units.
const int followedWordUnits = wordBufferSize;

// What one opening of the viewer holds until it closes.
struct ViewerState {
    HFONT font;             // the configured font, or null for the dialog's own
    HBRUSH brush;           // the white background of the text box
    ViewerPage page;        // what is shown: the definitions and what the caption names
    ViewerHistory history;  // what Back returns to
    bool following;         // a look-up of a followed word is under way
    DictSession* first;     // the look-up the viewer opened with, until its page is taken; null when it
                            // opened on a recent word's page
};

// The open viewer, or null: the hotkey asks it to follow its selection. Only the viewer sets it.
HWND openViewer;

ViewerState* stateOf(HWND dialog)
{
    return reinterpret_cast<ViewerState*>(GetWindowLongPtrW(dialog, DWLP_USER));
}

// The font configured in the settings at the given DPI, or null when none is ("NULL", compared
// exactly).
HFONT createConfiguredFont(int dpi)
{
    char name[fontNameCapacity];
    readConfigString("font", noFontName, name, fontNameCapacity);
    if (strcmp(name, noFontName) == 0)
        return nullptr;
    LOGFONTA font;
    ZeroMemory(&font, sizeof font);
    lstrcpynA(font.lfFaceName, name, LF_FACESIZE);  // cut to 31 characters
    // As the font chooser reports it at 96 DPI: negative asks for a character height in pixels, 0
    // for the face's default height. The same height in points at this window's DPI.
    font.lfHeight = scaleToDpi(readConfigInt("fontsize", 0), dpi);
    font.lfWeight = normalWeight;
    return CreateFontIndirectA(&font);
}

// Replaces the whole text of the box with the page's current definition, and the caption.
void showCurrentDefinition(HWND dialog)
{
    ViewerPage& page = stateOf(dialog)->page;
    int count = page.definitionCount;
    int index = page.current;
    char caption[viewerCaptionSize];
    formatViewerCaption(page.askedWord, page.shownWord, page.dictionary, index + 1, count, caption,
                        viewerCaptionSize, page.serverIndex == offlineServerIndex);
    wchar_t wideCaption[viewerCaptionSize];
    utf8ToWide(caption, wideCaption, viewerCaptionSize);
    SetWindowTextW(dialog, wideCaption);
    bool several = count > 1;
    // A step button that is about to be disabled would take the keyboard focus with it (and Back
    // with the focus); it goes to Close first.
    HWND next = GetDlgItem(dialog, IDC_VIEW_NEXT);
    HWND focus = GetFocus();
    if (!several && (focus == next || focus == GetDlgItem(dialog, IDC_VIEW_PREVIOUS)))
        SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, IDCANCEL)), TRUE);
    EnableWindow(next, several);
    EnableWindow(GetDlgItem(dialog, IDC_VIEW_PREVIOUS), several);
    if (index < 0 || index >= count) {
        SetDlgItemTextW(dialog, IDC_VIEW_TEXT, L"");
        return;
    }
    // A giant definition shows its head and how much was left out.
    const char* definition = page.definitions[index];
    char* shown = newShownDefinition(definition, strlen(definition), shownDefinitionLimit);
    wchar_t* text = newWideText(shown);
    delete[] shown;
    SetDlgItemTextW(dialog, IDC_VIEW_TEXT, text ? text : L"");
    free(text);
}

// Shows a page that has just become the viewer's page (not a step within it), and keeps it among the
// recent words.
void showNewPage(HWND dialog)
{
    rememberRecentWord(&recentWords, stateOf(dialog)->page);
    showCurrentDefinition(dialog);
}

// Every control of the viewer: a double click in the text follows the word there, Backspace and
// Alt+Left go back, whichever control has the focus.
LRESULT CALLBACK viewerControlProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                   DWORD_PTR dialogData)
{
    HWND dialog = reinterpret_cast<HWND>(dialogData);
    switch (message) {
    case WM_KEYDOWN:
        if (wParam == VK_BACK) {
            PostMessageW(dialog, viewerBackMessage, 0, 0);
            return 0;
        }
        break;
    case WM_SYSKEYDOWN:
        if (wParam == VK_LEFT) {
            PostMessageW(dialog, viewerBackMessage, 0, 0);
            return 0;
        }
        break;
    case WM_LBUTTONDBLCLK:
        if (GetDlgCtrlID(control) == IDC_VIEW_TEXT) {
            // The box selects what it takes for a word (its own rule); the character under the
            // pointer decides what is followed. EM_CHARFROMPOS gives the low 16 bits of its index
            // only, and the selection made around it gives the rest.
            LRESULT result = DefSubclassProc(control, message, wParam, lParam);
            DWORD start = 0, end = 0;
            SendMessageW(control, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                         reinterpret_cast<LPARAM>(&end));
            LRESULT at = SendMessageW(control, EM_CHARFROMPOS, 0, lParam);
            DWORD low = LOWORD(at);
            DWORD position = start + ((low - (start & 0xFFFF)) & 0xFFFF);
            if (position > end)
                position = start;
            PostMessageW(dialog, viewerFollowAtMessage, position, 0);
            return result;
        }
        break;
    case WM_NCDESTROY:
        RemoveWindowSubclass(control, viewerControlProc, viewerControlSubclass);
        break;
    }
    return DefSubclassProc(control, message, wParam, lParam);
}

BOOL CALLBACK subclassControl(HWND control, LPARAM dialog)
{
    SetWindowSubclass(control, viewerControlProc, viewerControlSubclass, static_cast<DWORD_PTR>(dialog));
    return TRUE;
}

// The text of the box as UTF-16 in a new buffer (release with free()) and its length; null when
// memory runs out.
wchar_t* newBoxText(HWND dialog, size_t* length)
{
    HWND box = GetDlgItem(dialog, IDC_VIEW_TEXT);
    int units = GetWindowTextLengthW(box);
    wchar_t* text = static_cast<wchar_t*>(malloc((static_cast<size_t>(units) + 1) * sizeof(wchar_t)));
    if (!text)
        return nullptr;
    *length = static_cast<size_t>(GetWindowTextW(box, text, units + 1));
    return text;
}

// Says once, as the definitions show, that no server answered and the offline dictionaries did.
void sayWhenOffline(const DictSession* found)
{
    if (found->offlineFallback)
        showStatus("No server answered: offline dictionaries used", offlineNoteMs);
}

// Looks word up on the server the shown definitions came from; on success the shown page goes into
// the history and the new definitions are shown. A failed look-up leaves everything as it was.
void follow(HWND dialog, const wchar_t* word, int length)
{
    ViewerState* state = stateOf(dialog);
    if (!state || state->following || length < 1)
        return;
    char utf8[wordBufferSize];
    wideToUtf8(word, length, utf8, wordBufferSize);
    state->following = true;
    DictSession* found = runLookUp(utf8, state->page.serverIndex, dialog);
    state->following = false;
    if (found == nullptr)
        return;
    hideStatus();
    sayWhenOffline(found);
    pushViewerPage(&state->history, &state->page);
    takeViewerPage(*found, &state->page);
    releaseLookUp(found);
    showNewPage(dialog);
    // A question or the database choice may have had the foreground meanwhile.
    if (IsWindowVisible(dialog))
        SetForegroundWindow(dialog);
}

void onFollowAt(HWND dialog, size_t position)
{
    size_t length = 0;
    wchar_t* text = newBoxText(dialog, &length);
    if (!text)
        return;
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "the window API's text is UTF-16");
    wchar_t word[followedWordUnits];
    int wordLength = followedWordAt(reinterpret_cast<const char16_t*>(text), length, position,
                                    reinterpret_cast<char16_t*>(word), followedWordUnits);
    free(text);
    follow(dialog, word, wordLength);
}

void onFollowSelection(HWND dialog)
{
    DWORD start = 0, end = 0;
    SendDlgItemMessageW(dialog, IDC_VIEW_TEXT, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                        reinterpret_cast<LPARAM>(&end));
    size_t length = 0;
    wchar_t* text = newBoxText(dialog, &length);
    if (!text)
        return;
    if (end > length)
        end = static_cast<DWORD>(length);
    wchar_t word[followedWordUnits];
    int wordLength = start < end
                         ? followedSelection(reinterpret_cast<const char16_t*>(text) + start, end - start,
                                             reinterpret_cast<char16_t*>(word), followedWordUnits)
                         : 0;
    free(text);
    follow(dialog, word, wordLength);
}

// Back shows the page before, where it was left, without asking the server.
void onBack(HWND dialog)
{
    ViewerState* state = stateOf(dialog);
    if (!state || state->following || state->history.count == 0)
        return;
    releaseViewerPage(&state->page);
    popViewerPage(&state->history, &state->page);
    showNewPage(dialog);
}

void onInitDialog(HWND dialog, ViewerState* state)
{
    SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(state));
    HWND text = GetDlgItem(dialog, IDC_VIEW_TEXT);
    // Definitions have no length limit of their own.
    SendMessageW(text, EM_SETLIMITTEXT, 0, 0);
    state->font = createConfiguredFont(windowDpi(dialog));
    if (state->font)
        SendMessageW(text, WM_SETFONT, reinterpret_cast<WPARAM>(state->font), TRUE);
    state->brush = CreateSolidBrush(backgroundColour);
    hideStatus();
    if (state->first) {
        sayWhenOffline(state->first);
        takeViewerPage(*state->first, &state->page);
        state->first = nullptr;
    }
    showNewPage(dialog);
    EnumChildWindows(dialog, subclassControl, reinterpret_cast<LPARAM>(dialog));
    openViewer = dialog;
    // It opens the moment the word box or the database choice closes.
    keepAnswerInFront();
}

// Moved to a monitor of another DPI: the system rescales the dialog and its own font; the configured
// font is made anew for the new DPI, and the old one goes once the box has let go of it.
void onDpiChanged(HWND dialog, int dpi)
{
    ViewerState* state = stateOf(dialog);
    if (!state || !state->font)
        return;
    HFONT font = createConfiguredFont(dpi);
    if (!font)
        return;
    SendDlgItemMessageW(dialog, IDC_VIEW_TEXT, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    DeleteObject(state->font);
    state->font = font;
}

void onStep(HWND dialog, int step)
{
    ViewerPage& page = stateOf(dialog)->page;
    int count = page.definitionCount;
    if (count < 1)
        return;
    int index = page.current + step;
    if (index >= count)
        index = 0;
    if (index < 0)
        index = count - 1;
    page.current = index;
    showCurrentDefinition(dialog);
}

// Every way of closing ends here (Close, Escape, Enter and the close box all send IDCANCEL);
// the box lets go of the font before it is deleted.
void onDestroy(HWND dialog)
{
    openViewer = nullptr;
    ViewerState* state = stateOf(dialog);
    if (!state)
        return;
    releaseViewerPage(&state->page);
    releaseViewerHistory(&state->history);
    SendDlgItemMessageW(dialog, IDC_VIEW_TEXT, WM_SETFONT, 0, FALSE);
    if (state->font)
        DeleteObject(state->font);
    if (state->brush)
        DeleteObject(state->brush);
    state->font = nullptr;
    state->brush = nullptr;
}

INT_PTR CALLBACK definitionViewerProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        onInitDialog(dialog, reinterpret_cast<ViewerState*>(lParam));
        return FALSE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_VIEW_NEXT:
            onStep(dialog, 1);
            return TRUE;
        case IDC_VIEW_PREVIOUS:
            onStep(dialog, -1);
            return TRUE;
        case IDCANCEL:
            // A word still being followed is given up with the viewer: none of its questions come later.
            if (stateOf(dialog) && stateOf(dialog)->following)
                cancelRunningLookUp();
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    case WM_CTLCOLORSTATIC: {
        ViewerState* state = stateOf(dialog);
        if (!state || !state->brush)
            return FALSE;
        HDC context = reinterpret_cast<HDC>(wParam);
        SetTextColor(context, textColour);
        SetBkColor(context, backgroundColour);
        return reinterpret_cast<INT_PTR>(state->brush);
    }
    case viewerFollowAtMessage:
        onFollowAt(dialog, static_cast<size_t>(wParam));
        return TRUE;
    case viewerFollowSelectionMessage:
        onFollowSelection(dialog);
        return TRUE;
    case viewerBackMessage:
        onBack(dialog);
        return TRUE;
    case WM_DPICHANGED:
        followDpiChange(dialog, lParam);
        onDpiChanged(dialog, HIWORD(wParam));
        return FALSE;
    case WM_DESTROY:
        onDestroy(dialog);
        return FALSE;
    }
    return FALSE;
}

}  // namespace

RecentWords recentWords;

void runDefinitionViewer(HWND owner, DictSession* found)
{
    ViewerState state = {};
    state.first = found;
    DialogBoxParamW(moduleInstance, L"DISPLAY", owner, definitionViewerProc,
                    reinterpret_cast<LPARAM>(&state));
}

void runRecentWordViewer(HWND owner, int index)
{
    ViewerState state = {};
    if (!copyRecentWord(recentWords, index, &state.page))
        return;
    DialogBoxParamW(moduleInstance, L"DISPLAY", owner, definitionViewerProc,
                    reinterpret_cast<LPARAM>(&state));
}

bool viewerCanShowRecentWord()
{
    return openViewer && stateOf(openViewer) && !stateOf(openViewer)->following;
}

bool showRecentWordInViewer(int index)
{
    if (!viewerCanShowRecentWord())
        return false;
    ViewerState* state = stateOf(openViewer);
    ViewerPage page;
    if (!copyRecentWord(recentWords, index, &page))
        return false;
    pushViewerPage(&state->history, &state->page);
    state->page = page;
    showNewPage(openViewer);
    SetForegroundWindow(openViewer);
    return true;
}

void closeDefinitionViewer()
{
    if (openViewer)
        SendMessageW(openViewer, WM_COMMAND, IDCANCEL, 0);
}

bool followViewerSelection()
{
    if (!openViewer || GetForegroundWindow() != openViewer)
        return false;
    DWORD start = 0, end = 0;
    SendDlgItemMessageW(openViewer, IDC_VIEW_TEXT, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                        reinterpret_cast<LPARAM>(&end));
    // A selection longer than a word can be (all of the text, as Tab into the box selects it) is
    // no word to look up: the hotkey does nothing then, as it does over the viewer without one.
    if (start >= end || end - start > static_cast<DWORD>(maxWordLength))
        return false;
    PostMessageW(openViewer, viewerFollowSelectionMessage, 0, 0);
    return true;
}
