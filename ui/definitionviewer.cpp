// The definition viewer "DISPLAY": the definitions of the last look-up under their heading, one at a
// time or all on one page; a link clicked or a word double-clicked in them is looked up in its place,
// and Back returns to what was shown before. Find, zoom and copy work on the text as shown.
#include <windows.h>
#include <commctrl.h>
#include <richedit.h>
#include <windowsx.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <new>

#include "config/config.h"
#include "core/dictsession.h"
#include "core/lookuptext.h"
#include "core/pagetext.h"
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
// The face the text takes when none was chosen: the dialog's own.
const wchar_t dialogFontFace[] = L"MS Shell Dlg";
const int fontNameCapacity = 256;
const COLORREF backgroundColour = RGB(255, 255, 255);
// A rich edit control sizes its text in twips: 15 to a pixel at 96 DPI, and it scales them to the
// screen's DPI itself.
const int twipsPerPixel = 15;
// The text box's character offsets fit 32 bits (pageTextLimit).
const LONG wholeText = -1;
const int numberCapacity = 16;
const wchar_t notFoundText[] = L"Not found";
// The most links marked in one text: each is a message to the box, and a hostile definition of
// nothing but braces must not hold the viewer up. A link past them still follows on a double click.
const size_t markedLinkLimit = 20000;

// Posted by the viewer's controls to the viewer: follow the word at the text position wParam, go back,
// follow the selection (the hotkey pressed over the viewer), follow the link at the text position
// wParam (both follows with lParam the text they were meant for), open the find bar, find again (wParam 1
// forward, 0 backward), zoom (wParam a ZoomKey, or with lParam nonzero a wheel delta in lParam), the text box
// scrolled.
const UINT viewerFollowAtMessage = WM_APP + 1;
const UINT viewerBackMessage = WM_APP + 2;
const UINT viewerFollowSelectionMessage = WM_APP + 3;
const UINT viewerFollowLinkMessage = WM_APP + 4;
const UINT viewerOpenFindMessage = WM_APP + 5;
const UINT viewerFindMessage = WM_APP + 6;
const UINT viewerZoomMessage = WM_APP + 7;
const UINT viewerScrolledMessage = WM_APP + 8;
// The subclass of the viewer's controls that reports double clicks and the Back keys.
const UINT_PTR viewerControlSubclass = 1;
// How long the note that the offline dictionaries answered stays up.
const int offlineNoteMs = 5000;
// A word to follow: at most a word's length of UTF-16 units.
const int followedWordUnits = wordBufferSize;

// The rich edit control's library, loaded once for the program's life: the dialog needs its class.
HMODULE richEditLibrary;

// What one opening of the viewer holds until it closes.
struct ViewerState {
    wchar_t face[LF_FACESIZE];  // the configured font's face, or the dialog's
    int fontSize;               // the profile's definition font size, as zoomed
    int pickedSize;             // what Ctrl+0 returns to: the size when the viewer opened
    int wheelPending;           // Ctrl+wheel turned by less than a notch so far
    bool allOnOnePage;          // every definition under its heading, one page
    int shownSection;           // all on one page: the definition the caption names
    LRESULT topLine;            // all on one page: the first line in view when it was named
    PageText text;              // what the text box shows, offsets as the box counts them
    size_t lineEnds;            // how many line ends it has: WM_GETTEXT gives each as two units
    WPARAM shownText;           // counts the texts shown: a click meant for one is not followed in the next
    WPARAM pressedOn;           // the text shown when the button last went down: a double click's second
                                // click, or the release of a click, belongs to the text its first press saw
    ViewerPage page;            // what is shown: the definitions and what the caption names
    ViewerHistory history;      // what Back returns to
    bool following;             // a look-up of a followed word is under way
    DictSession* first;         // the look-up the viewer opened with, until its page is taken; null when it
                                // opened on a recent word's page
};

// The open viewer, or null: the hotkey asks it to follow its selection. Only the viewer sets it.
HWND openViewer;

ViewerState* stateOf(HWND dialog)
{
    return reinterpret_cast<ViewerState*>(GetWindowLongPtrW(dialog, DWLP_USER));
}

// The face configured in the settings ("NULL", compared exactly, for none) and the size.
void readConfiguredFont(ViewerState* state)
{
    char name[fontNameCapacity];
    readConfigString("font", noFontName, name, fontNameCapacity);
    if (strcmp(name, noFontName) == 0) {
        lstrcpynW(state->face, dialogFontFace, LF_FACESIZE);
    } else {
        wchar_t wide[fontNameCapacity];
        utf8ToWide(name, wide, fontNameCapacity);
        lstrcpynW(state->face, wide, LF_FACESIZE);  // cut to 31 characters
    }
    state->fontSize = readConfigInt("fontsize", 0);
    state->pickedSize = state->fontSize;
}

// The whole text of a rich edit control, and what it takes from now on, in the viewer's face and
// size. As the font chooser reports it at 96 DPI: negative asks for a character height in pixels,
// 0 for the face's default height; the control scales it to the screen's DPI.
void applyFont(HWND box, const ViewerState& state)
{
    CHARFORMAT2W format;
    ZeroMemory(&format, sizeof format);
    format.cbSize = sizeof format;
    format.dwMask = CFM_FACE | CFM_SIZE | CFM_CHARSET | CFM_COLOR;
    int pixels = state.fontSize == 0  ? zoomDefaultPixels
                 : state.fontSize < 0 ? -state.fontSize
                                      : state.fontSize;
    format.yHeight = pixels * twipsPerPixel;
    format.bCharSet = DEFAULT_CHARSET;
    format.crTextColor = RGB(0, 0, 0);
    lstrcpynW(format.szFaceName, state.face, LF_FACESIZE);
    SendMessageW(box, EM_SETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format));
    SendMessageW(box, EM_SETCHARFORMAT, SCF_ALL, reinterpret_cast<LPARAM>(&format));
}

// Sets the effect (CFE_BOLD, CFE_LINK) on the range of the box's text.
void markRange(HWND box, size_t start, size_t length, DWORD effect)
{
    CHARRANGE range = {static_cast<LONG>(start), static_cast<LONG>(start + length)};
    SendMessageW(box, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
    CHARFORMAT2W format;
    ZeroMemory(&format, sizeof format);
    format.cbSize = sizeof format;
    format.dwMask = effect == CFE_LINK ? CFM_LINK : CFM_BOLD;
    format.dwEffects = effect;
    SendMessageW(box, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
}

void selectRange(HWND box, size_t start, size_t end)
{
    CHARRANGE range = {static_cast<LONG>(start), static_cast<LONG>(end)};
    SendMessageW(box, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
}

CHARRANGE selectedRange(HWND box)
{
    CHARRANGE range = {0, 0};
    SendMessageW(box, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&range));
    return range;
}

// Puts text into a rich edit box in one go, as plain text with no undo kept, formatted as the
// viewer's font; links and the bold word of each heading marked; the caret at the top.
void fillBox(HWND box, const ViewerState& state, const wchar_t* text, const PageText* page)
{
    SendMessageW(box, WM_SETREDRAW, FALSE, 0);
    SETTEXTEX how = {ST_DEFAULT, 1200};  // UTF-16
    SendMessageW(box, EM_SETTEXTEX, reinterpret_cast<WPARAM>(&how), reinterpret_cast<LPARAM>(text));
    applyFont(box, state);
    if (page) {
        for (int i = 0; i < page->sectionCount; i++)
            if (page->sections[i].wordLength > 0)
                markRange(box, page->sections[i].headingStart, page->sections[i].wordLength, CFE_BOLD);
        for (size_t i = 0; i < page->linkCount && i < markedLinkLimit; i++)
            markRange(box, page->links[i].start, page->links[i].length, CFE_LINK);
    }
    selectRange(box, 0, 0);
    SendMessageW(box, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(box, nullptr, TRUE);
}

// The caption for the definition index of the page: "n of m" and the dictionary it came from.
void showCaption(HWND dialog, int index)
{
    const ViewerPage& page = stateOf(dialog)->page;
    char caption[viewerCaptionSize];
    formatViewerCaption(page.askedWord, page.shownWord, definitionSource(page, index), index + 1,
                        page.definitionCount, caption, viewerCaptionSize,
                        page.serverIndex == offlineServerIndex);
    wchar_t wideCaption[viewerCaptionSize];
    utf8ToWide(caption, wideCaption, viewerCaptionSize);
    SetWindowTextW(dialog, wideCaption);
}

// The heading above the text, one definition at a time: the word in bold and the dictionary.
void showHeading(HWND dialog)
{
    ViewerState* state = stateOf(dialog);
    HWND heading = GetDlgItem(dialog, IDC_VIEW_HEADING);
    if (state->allOnOnePage) {
        fillBox(heading, *state, L"", nullptr);
        return;
    }
    wchar_t word[dictWordSize];
    wchar_t dictionary[dictSlotSize];
    utf8ToWide(state->page.shownWord, word, dictWordSize);
    utf8ToWide(definitionSource(state->page, state->page.current), dictionary, dictSlotSize);
    const int capacity = dictWordSize + dictSlotSize + 4;
    wchar_t text[capacity];
    lstrcpynW(text, word, capacity);
    lstrcatW(text, L" \u2014 ");  // both parts are cut to their slots, so this fits
    lstrcatW(text, dictionary);
    fillBox(heading, *state, text, nullptr);
    markRange(heading, 0, wcslen(word), CFE_BOLD);
    selectRange(heading, 0, 0);
}

// Builds the text of the page (the current definition, or all of them under their headings) and
// puts it in the box. A giant definition shows its head and how much was left out.
void fillPageText(HWND dialog)
{
    ViewerState* state = stateOf(dialog);
    ViewerPage& page = state->page;
    releasePageText(&state->text);
    int first = state->allOnOnePage ? 0 : page.current;
    int count = state->allOnOnePage ? page.definitionCount : page.current < page.definitionCount ? 1 : 0;
    if (first < 0 || count < 0)
        count = 0;
    PagePart* parts = count ? new (std::nothrow) PagePart[static_cast<size_t>(count)]() : nullptr;
    wchar_t** bodies = count ? new (std::nothrow) wchar_t*[static_cast<size_t>(count)]() : nullptr;
    // Each definition's dictionary for its heading: a slot per definition.
    typedef wchar_t Slot[dictSlotSize];
    Slot* dictionaries =
        count && state->allOnOnePage ? new (std::nothrow) Slot[static_cast<size_t>(count)] : nullptr;
    wchar_t word[dictWordSize];
    utf8ToWide(page.shownWord, word, dictWordSize);
    bool built = false;
    if (count == 0 || (parts && bodies && (dictionaries || !state->allOnOnePage))) {
        static_assert(sizeof(wchar_t) == sizeof(char16_t), "the window API's text is UTF-16");
        for (int i = 0; i < count; i++) {
            const char* definition = page.definitions[first + i];
            char* shown = newShownDefinition(definition, strlen(definition), shownDefinitionLimit);
            bodies[i] = shown ? newWideText(shown) : nullptr;
            delete[] shown;
            PagePart& part = parts[i];
            part.body = reinterpret_cast<const char16_t*>(bodies[i]);
            part.bodyLength = bodies[i] ? wcslen(bodies[i]) : 0;
            if (state->allOnOnePage) {
                utf8ToWide(definitionSource(page, first + i), dictionaries[i], dictSlotSize);
                part.word = reinterpret_cast<const char16_t*>(word);
                part.wordLength = wcslen(word);
                part.description = reinterpret_cast<const char16_t*>(dictionaries[i]);
                part.descriptionLength = wcslen(dictionaries[i]);
            }
        }
        built = buildPageText(parts, count, true, &state->text);
    }
    for (int i = 0; bodies && i < count; i++)
        free(bodies[i]);
    delete[] bodies;
    delete[] parts;
    delete[] dictionaries;
    state->shownText++;
    state->lineEnds = 0;
    for (size_t i = 0; built && i < state->text.length; i++)
        state->lineEnds += state->text.text[i] == u'\r';
    HWND box = GetDlgItem(dialog, IDC_VIEW_TEXT);
    fillBox(box, *state, built ? reinterpret_cast<const wchar_t*>(state->text.text) : L"",
            built ? &state->text : nullptr);
}

// Replaces the whole text of the box with the page's current definition (or all of them), the
// heading and the caption.
void showCurrentDefinition(HWND dialog)
{
    ViewerState* state = stateOf(dialog);
    ViewerPage& page = state->page;
    int count = page.definitionCount;
    state->shownSection = 0;
    state->topLine = 0;
    showCaption(dialog, state->allOnOnePage ? 0 : page.current);
    bool several = count > 1;
    // A step button that is about to be disabled would take the keyboard focus with it (and Back
    // with the focus); it goes to Close first.
    HWND next = GetDlgItem(dialog, IDC_VIEW_NEXT);
    HWND focus = GetFocus();
    if (!several && (focus == next || focus == GetDlgItem(dialog, IDC_VIEW_PREVIOUS)))
        SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, IDCANCEL)), TRUE);
    EnableWindow(next, several);
    EnableWindow(GetDlgItem(dialog, IDC_VIEW_PREVIOUS), several);
    showHeading(dialog);
    fillPageText(dialog);
}

// Shows a page that has just become the viewer's page (not a step within it), and keeps it among the
// recent words.
void showNewPage(HWND dialog)
{
    rememberRecentWord(&recentWords, stateOf(dialog)->page);
    showCurrentDefinition(dialog);
}

bool controlHeld() { return (GetKeyState(VK_CONTROL) & 0x8000) != 0; }

// The keys the viewer answers whichever control has the focus; true when key was one.
bool onViewerKey(HWND dialog, HWND control, WPARAM key)
{
    bool inFind = GetDlgCtrlID(control) == IDC_VIEW_FIND;
    if (inFind && key == VK_RETURN) {
        PostMessageW(dialog, viewerFindMessage, (GetKeyState(VK_SHIFT) & 0x8000) ? 0 : 1, 0);
        return true;
    }
    if (inFind && key == VK_ESCAPE) {
        ShowWindow(control, SW_HIDE);
        ShowWindow(GetDlgItem(dialog, IDC_VIEW_FOUND), SW_HIDE);
        SetFocus(GetDlgItem(dialog, IDC_VIEW_TEXT));
        return true;
    }
    if (key == VK_F3) {
        PostMessageW(dialog, viewerFindMessage, (GetKeyState(VK_SHIFT) & 0x8000) ? 0 : 1, 0);
        return true;
    }
    if (!controlHeld())
        return key == VK_BACK && !inFind && PostMessageW(dialog, viewerBackMessage, 0, 0);
    switch (key) {
    case 'F':
        PostMessageW(dialog, viewerOpenFindMessage, 0, 0);
        return true;
    case VK_OEM_PLUS:
    case VK_ADD:
        PostMessageW(dialog, viewerZoomMessage, zoomLarger, 0);
        return true;
    case VK_OEM_MINUS:
    case VK_SUBTRACT:
        PostMessageW(dialog, viewerZoomMessage, zoomSmaller, 0);
        return true;
    case '0':
    case VK_NUMPAD0:
        PostMessageW(dialog, viewerZoomMessage, zoomAsPicked, 0);
        return true;
    case 'A':
        if (inFind)
            return false;
        selectRange(GetDlgItem(dialog, IDC_VIEW_TEXT), 0, static_cast<size_t>(wholeText));
        return true;
    case 'C':
        if (inFind)
            return false;
        PostMessageW(dialog, WM_COPY, 0, 0);
        return true;
    }
    return false;
}

// The text box scrolls as it would by itself; the caption's "n of m" then follows what is in view.
LRESULT scrollText(HWND dialog, HWND control, UINT message, WPARAM wParam, LPARAM lParam)
{
    const LRESULT result = DefSubclassProc(control, message, wParam, lParam);
    PostMessageW(dialog, viewerScrolledMessage, 0, 0);
    return result;
}

// Every control of the viewer: a double click in the text follows the word there, Backspace and
// Alt+Left go back, and the find, zoom and copy keys work, whichever control has the focus.
LRESULT CALLBACK viewerControlProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                   DWORD_PTR dialogData)
{
    HWND dialog = reinterpret_cast<HWND>(dialogData);
    bool isText = GetDlgCtrlID(control) == IDC_VIEW_TEXT;
    switch (message) {
    case WM_GETTEXTLENGTH:
        // The box counts a line end as one unit and WM_GETTEXT gives it as two: room for those.
        if (isText && stateOf(dialog))
            return static_cast<LRESULT>(stateOf(dialog)->text.length + stateOf(dialog)->lineEnds);
        break;
    case WM_GETDLGCODE:
        // Enter and Escape in the find box find and close the bar, not the viewer.
        if (GetDlgCtrlID(control) == IDC_VIEW_FIND && lParam && (wParam == VK_RETURN || wParam == VK_ESCAPE))
            return DLGC_WANTALLKEYS | DefSubclassProc(control, message, wParam, lParam);
        break;
    case WM_KEYDOWN:
        if (onViewerKey(dialog, control, wParam))
            return 0;
        if (isText)
            return scrollText(dialog, control, message, wParam, lParam);
        break;
    case WM_CHAR:
        // What the keys above made of themselves must not land in a box as text or a beep.
        if (wParam == '\r' || wParam == 0x1B || (controlHeld() && wParam < L' '))
            if (GetDlgCtrlID(control) != IDC_VIEW_FIND || wParam != 0x01)
                return 0;
        break;
    case WM_SYSKEYDOWN:
        if (wParam == VK_LEFT) {
            PostMessageW(dialog, viewerBackMessage, 0, 0);
            return 0;
        }
        break;
    case WM_MOUSEWHEEL:
        // Ctrl+wheel is the viewer's zoom, kept in the profile, not the box's own.
        if (GET_KEYSTATE_WPARAM(wParam) & MK_CONTROL) {
            PostMessageW(dialog, viewerZoomMessage, 0, GET_WHEEL_DELTA_WPARAM(wParam));
            return 0;
        }
        if (isText)
            return scrollText(dialog, control, message, wParam, lParam);
        break;
    case WM_VSCROLL:
        if (isText)
            return scrollText(dialog, control, message, wParam, lParam);
        break;
    case WM_LBUTTONDOWN:
        if (isText && stateOf(dialog))
            stateOf(dialog)->pressedOn = stateOf(dialog)->shownText;
        break;
    case WM_LBUTTONDBLCLK:
        if (isText) {
            // The character under the pointer decides what is followed (a link: once, by its click or this),
            // unless the first click has already followed a link and the text has changed under the pointer.
            LRESULT result = DefSubclassProc(control, message, wParam, lParam);
            POINTL point = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            LRESULT at = SendMessageW(control, EM_CHARFROMPOS, 0, reinterpret_cast<LPARAM>(&point));
            ViewerState* state = stateOf(dialog);
            if (state)
                PostMessageW(dialog, viewerFollowAtMessage, static_cast<WPARAM>(at),
                             static_cast<LPARAM>(state->pressedOn));
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

// Says once, as the definitions show, that no server answered and the offline dictionaries did.
void sayWhenOffline(const DictSession* found)
{
    if (found->offlineFallback)
        showStatus("No server answered: offline dictionaries used", offlineNoteMs);
}

// The followed word's look-up ended: on success the shown page goes into the history and the new
// definitions are shown; a failed or cancelled one leaves everything as it was.
void followEnded(void* viewer, DictSession* found)
{
    HWND dialog = static_cast<HWND>(viewer);
    ViewerState* state = stateOf(dialog);
    if (state)
        state->following = false;
    if (!state || found == nullptr) {
        releaseLookUp(found);
        return;
    }
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

// Looks word up on the server the shown definitions came from; the viewer goes on answering meanwhile.
void follow(HWND dialog, const wchar_t* word, int length)
{
    ViewerState* state = stateOf(dialog);
    if (!state || state->following || length < 1)
        return;
    char utf8[wordBufferSize];
    wideToUtf8(word, length, utf8, wordBufferSize);
    state->following = true;
    confirmLookUp(startLookUp(utf8, state->page.serverIndex, false), followEnded, dialog);
}

void onFollowAt(HWND dialog, size_t position)
{
    const PageText& text = stateOf(dialog)->text;
    if (!text.text)
        return;
    // On a link its whole text, as a click on it gives.
    wchar_t word[followedWordUnits];
    long link = pageLinkAt(text, position);
    int wordLength = link >= 0
                         ? pageLinkWord(text, link, reinterpret_cast<char16_t*>(word), followedWordUnits)
                         : followedWordAt(text.text, text.length, position, reinterpret_cast<char16_t*>(word),
                                          followedWordUnits);
    follow(dialog, word, wordLength);
}

void onFollowLink(HWND dialog, size_t position)
{
    const PageText& text = stateOf(dialog)->text;
    wchar_t word[followedWordUnits];
    int wordLength =
        pageLinkWord(text, pageLinkAt(text, position), reinterpret_cast<char16_t*>(word), followedWordUnits);
    follow(dialog, word, wordLength);
}

void onFollowSelection(HWND dialog)
{
    const PageText& text = stateOf(dialog)->text;
    CHARRANGE range = selectedRange(GetDlgItem(dialog, IDC_VIEW_TEXT));
    size_t start = static_cast<size_t>(range.cpMin), end = static_cast<size_t>(range.cpMax);
    if (end > text.length)
        end = text.length;
    wchar_t word[followedWordUnits];
    int wordLength = start < end ? followedSelection(text.text + start, end - start,
                                                     reinterpret_cast<char16_t*>(word), followedWordUnits)
                                 : 0;
    follow(dialog, word, wordLength);
}

// A click on a link (not the end of a selection made from it) follows it.
INT_PTR onLinkNotice(HWND dialog, const ENLINK* link)
{
    if (link->msg != WM_LBUTTONUP)
        return FALSE;
    CHARRANGE range = selectedRange(link->nmhdr.hwndFrom);
    if (range.cpMin != range.cpMax)
        return FALSE;
    PostMessageW(dialog, viewerFollowLinkMessage, static_cast<WPARAM>(link->chrg.cpMin),
                 static_cast<LPARAM>(stateOf(dialog)->pressedOn));
    return FALSE;
}

// The offset of the first character in view.
size_t topOffset(HWND box)
{
    LRESULT line = SendMessageW(box, EM_GETFIRSTVISIBLELINE, 0, 0);
    LRESULT offset = SendMessageW(box, EM_LINEINDEX, static_cast<WPARAM>(line), 0);
    return offset < 0 ? 0 : static_cast<size_t>(offset);
}

// All on one page, the caption names the definition in view.
void onScrolled(HWND dialog)
{
    ViewerState* state = stateOf(dialog);
    if (!state || !state->allOnOnePage)
        return;
    // Only a scroll names another: a page too short to bring the last heading to the top keeps what
    // Next named.
    HWND box = GetDlgItem(dialog, IDC_VIEW_TEXT);
    LRESULT line = SendMessageW(box, EM_GETFIRSTVISIBLELINE, 0, 0);
    if (line == state->topLine)
        return;
    state->topLine = line;
    int section = pageSectionAt(state->text, topOffset(box));
    if (section == state->shownSection)
        return;
    state->shownSection = section;
    showCaption(dialog, section);
}

// Ctrl+F: the find bar opens (or takes the focus again) with its text selected.
void onOpenFind(HWND dialog)
{
    HWND find = GetDlgItem(dialog, IDC_VIEW_FIND);
    ShowWindow(find, SW_SHOW);
    SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(find), TRUE);
}

// Finds the find bar's text from the selection on, selects and shows it; says when it is not there.
void onFind(HWND dialog, bool forward)
{
    HWND find = GetDlgItem(dialog, IDC_VIEW_FIND);
    wchar_t what[wordBufferSize];
    int length = GetWindowTextW(find, what, wordBufferSize);
    if (!IsWindowVisible(find) || length < 1) {
        onOpenFind(dialog);
        return;
    }
    ViewerState* state = stateOf(dialog);
    HWND box = GetDlgItem(dialog, IDC_VIEW_TEXT);
    CHARRANGE range = selectedRange(box);
    // Forward starts past the start of what is selected, so that a match already found is passed.
    size_t from = static_cast<size_t>(range.cpMin) + (forward && range.cpMax > range.cpMin ? 1 : 0);
    long at = findInPage(state->text, reinterpret_cast<const char16_t*>(what), static_cast<size_t>(length),
                         from, forward);
    HWND found = GetDlgItem(dialog, IDC_VIEW_FOUND);
    SetWindowTextW(found, at < 0 ? notFoundText : L"");
    ShowWindow(found, at < 0 ? SW_SHOW : SW_HIDE);
    if (at < 0)
        return;
    selectRange(box, static_cast<size_t>(at), static_cast<size_t>(at) + static_cast<size_t>(length));
    SendMessageW(box, EM_SCROLLCARET, 0, 0);
    onScrolled(dialog);
}

// Zoom by a key (lParam 0) or by Ctrl+wheel; the size is the profile's definition font size.
void onZoom(HWND dialog, WPARAM key, LPARAM wheel)
{
    ViewerState* state = stateOf(dialog);
    int size = wheel ? wheelZoomedFontSize(state->fontSize, static_cast<int>(wheel), &state->wheelPending)
                     : zoomedFontSize(state->fontSize, static_cast<ZoomKey>(key), state->pickedSize);
    if (size == state->fontSize)
        return;
    state->fontSize = size;
    char number[numberCapacity];
    snprintf(number, sizeof number, "%d", size);
    writeConfigString("fontsize", number);
    HWND box = GetDlgItem(dialog, IDC_VIEW_TEXT);
    // The size changes and nothing else: links, bold words and the selection stay.
    CHARRANGE selection = selectedRange(box);
    size_t top = topOffset(box);
    SendMessageW(box, WM_SETREDRAW, FALSE, 0);
    applyFont(box, *state);
    applyFont(GetDlgItem(dialog, IDC_VIEW_HEADING), *state);
    LRESULT line = SendMessageW(box, EM_EXLINEFROMCHAR, 0, static_cast<LPARAM>(top));
    SendMessageW(box, EM_LINESCROLL, 0, line - SendMessageW(box, EM_GETFIRSTVISIBLELINE, 0, 0));
    SendMessageW(box, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    SendMessageW(box, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(box, nullptr, TRUE);
}

// Ctrl+C: what is selected in the text (all of it when nothing is), with the line ends the
// clipboard expects.
void onCopy(HWND dialog)
{
    const PageText& text = stateOf(dialog)->text;
    CHARRANGE range = selectedRange(GetDlgItem(dialog, IDC_VIEW_TEXT));
    size_t from = static_cast<size_t>(range.cpMin), to = static_cast<size_t>(range.cpMax);
    if (range.cpMax < 0 || to > text.length)
        to = text.length;
    if (from >= to) {
        from = 0;
        to = text.length;
    }
    size_t length = 0;
    char16_t* copied = text.text ? newCopiedPageText(text, from, to, &length) : nullptr;
    if (!copied)
        return;
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (length + 1) * sizeof(wchar_t));
    void* locked = memory ? GlobalLock(memory) : nullptr;
    if (locked) {
        memcpy(locked, copied, (length + 1) * sizeof(wchar_t));
        GlobalUnlock(memory);
    }
    delete[] copied;
    if (!locked || !OpenClipboard(dialog)) {
        if (memory)
            GlobalFree(memory);
        return;
    }
    EmptyClipboard();
    if (!SetClipboardData(CF_UNICODETEXT, memory))
        GlobalFree(memory);
    CloseClipboard();
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

// Both boxes white, wrapping at their width, with no undo kept; the text box with no length limit
// of its own and telling of links. All on one page, the text takes the heading's place too.
void prepareBoxes(HWND dialog, bool allOnOnePage)
{
    HWND text = GetDlgItem(dialog, IDC_VIEW_TEXT);
    HWND heading = GetDlgItem(dialog, IDC_VIEW_HEADING);
    SendMessageW(text, EM_EXLIMITTEXT, 0, pageTextLimit);
    SendMessageW(text, EM_SETEVENTMASK, 0, ENM_LINK);
    SendMessageW(text, EM_AUTOURLDETECT, FALSE, 0);
    HWND boxes[] = {text, heading};
    for (HWND box : boxes) {
        SendMessageW(box, EM_SETUNDOLIMIT, 0, 0);
        SendMessageW(box, EM_SETBKGNDCOLOR, 0, backgroundColour);
        SendMessageW(box, EM_SETTARGETDEVICE, 0, 0);  // wraps at the window's width
    }
    if (!allOnOnePage)
        return;
    RECT headingRect, textRect;
    GetWindowRect(heading, &headingRect);
    GetWindowRect(text, &textRect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&headingRect), 2);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&textRect), 2);
    ShowWindow(heading, SW_HIDE);
    SetWindowPos(text, nullptr, textRect.left, headingRect.top, textRect.right - textRect.left,
                 textRect.bottom - headingRect.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

void onInitDialog(HWND dialog, ViewerState* state)
{
    SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(state));
    readConfiguredFont(state);
    state->allOnOnePage = readConfigFlag("onepage", 0);
    prepareBoxes(dialog, state->allOnOnePage);
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

// One definition at a time the page shows the next one; all on one page the text scrolls to the
// next heading, and the caption names it even when it cannot come to the top.
void onStep(HWND dialog, int step)
{
    ViewerState* state = stateOf(dialog);
    ViewerPage& page = state->page;
    int count = page.definitionCount;
    if (count < 1)
        return;
    if (state->allOnOnePage) {
        HWND box = GetDlgItem(dialog, IDC_VIEW_TEXT);
        if (state->shownSection >= state->text.sectionCount)
            return;
        int section =
            steppedPageSection(state->text, state->text.sections[state->shownSection].headingStart, step);
        size_t heading = state->text.sections[section].headingStart;
        LRESULT line = SendMessageW(box, EM_EXLINEFROMCHAR, 0, static_cast<LPARAM>(heading));
        SendMessageW(box, EM_LINESCROLL, 0, line - SendMessageW(box, EM_GETFIRSTVISIBLELINE, 0, 0));
        selectRange(box, heading, heading);
        state->topLine = SendMessageW(box, EM_GETFIRSTVISIBLELINE, 0, 0);
        state->shownSection = section;
        showCaption(dialog, section);
        return;
    }
    int index = page.current + step;
    if (index >= count)
        index = 0;
    if (index < 0)
        index = count - 1;
    page.current = index;
    showCurrentDefinition(dialog);
}

// Every way of closing ends here (Close, Escape, Enter and the close box all send IDCANCEL).
void onDestroy(HWND dialog)
{
    openViewer = nullptr;
    ViewerState* state = stateOf(dialog);
    if (!state)
        return;
    // A word still being followed is looked up for nothing now.
    if (state->following)
        cancelRunningLookUp();
    releaseViewerPage(&state->page);
    releaseViewerHistory(&state->history);
    releasePageText(&state->text);
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
    case WM_NOTIFY: {
        const NMHDR* notice = reinterpret_cast<const NMHDR*>(lParam);
        if (notice->idFrom == IDC_VIEW_TEXT && notice->code == EN_LINK)
            return onLinkNotice(dialog, reinterpret_cast<const ENLINK*>(lParam));
        return FALSE;
    }
    case WM_COPY:
        onCopy(dialog);
        return TRUE;
    case WM_MOUSEWHEEL:
        // Over the dialog itself rather than one of its controls.
        if (!(GET_KEYSTATE_WPARAM(wParam) & MK_CONTROL))
            return FALSE;
        onZoom(dialog, 0, GET_WHEEL_DELTA_WPARAM(wParam));
        return TRUE;
    case viewerFollowLinkMessage:
        if (stateOf(dialog) && static_cast<WPARAM>(lParam) == stateOf(dialog)->shownText)
            onFollowLink(dialog, static_cast<size_t>(wParam));
        return TRUE;
    case viewerOpenFindMessage:
        onOpenFind(dialog);
        return TRUE;
    case viewerFindMessage:
        onFind(dialog, wParam != 0);
        return TRUE;
    case viewerZoomMessage:
        onZoom(dialog, wParam, lParam);
        return TRUE;
    case viewerScrolledMessage:
        onScrolled(dialog);
        return TRUE;
    case viewerFollowAtMessage:
        if (stateOf(dialog) && static_cast<WPARAM>(lParam) == stateOf(dialog)->shownText)
            onFollowAt(dialog, static_cast<size_t>(wParam));
        return TRUE;
    case viewerFollowSelectionMessage:
        onFollowSelection(dialog);
        return TRUE;
    case viewerBackMessage:
        onBack(dialog);
        return TRUE;
    case WM_DPICHANGED:
        // The boxes size their text in twips and follow the new DPI themselves.
        followDpiChange(dialog, lParam);
        return FALSE;
    case WM_DESTROY:
        onDestroy(dialog);
        return FALSE;
    }
    return FALSE;
}

// The rich edit class the viewer's dialog names comes with this library.
void loadRichEdit()
{
    if (!richEditLibrary)
        richEditLibrary = LoadLibraryW(L"Msftedit.dll");
}

}  // namespace

RecentWords recentWords;

void runDefinitionViewer(HWND owner, DictSession* found)
{
    loadRichEdit();
    ViewerState state = {};
    state.first = found;
    DialogBoxParamW(moduleInstance, L"DISPLAY", owner, definitionViewerProc,
                    reinterpret_cast<LPARAM>(&state));
}

void runRecentWordViewer(HWND owner, int index)
{
    loadRichEdit();
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
    CHARRANGE range = selectedRange(GetDlgItem(openViewer, IDC_VIEW_TEXT));
    LONG start = range.cpMin, end = range.cpMax;
    // A selection longer than a word can be (all of the text, as Tab into the box selects it) is
    // no word to look up: the hotkey does nothing then, as it does over the viewer without one.
    if (start < 0 || start >= end || end - start > static_cast<LONG>(maxWordLength))
        return false;
    PostMessageW(openViewer, viewerFollowSelectionMessage, 0, 0);
    return true;
}
