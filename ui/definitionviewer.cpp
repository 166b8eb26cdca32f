// The definition viewer "DISPLAY": the definitions of the last look-up, one at a time, black on white.
#include <windows.h>
#include <stdlib.h>
#include <string.h>

#include "app/trayapp.h"
#include "config/config.h"
#include "core/dictsession.h"
#include "core/lookuptext.h"
#include "core/userinterface.h"
#include "lookupres.h"
#include "ui/lookupdialogs.h"
#include "ui/widetext.h"

namespace {

// The `font` value that means no font was chosen; compared exactly.
const char noFontName[] = "NULL";
const int fontNameCapacity = 256;
const int normalWeight = 400;
const COLORREF textColour = RGB(0, 0, 0);
const COLORREF backgroundColour = RGB(255, 255, 255);

// What one opening of the viewer holds until it closes.
struct ViewerState {
    HFONT font;    // the configured font, or null for the dialog's own
    HBRUSH brush;  // the white background of the text box
};

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

// Replaces the whole text of the box with the current definition.
void showCurrentDefinition(HWND dialog)
{
    int count = dictSession.getDefinitionCount();
    int index = dictSession.currentDefinition;
    if (index < 0 || index >= count) {
        SetDlgItemTextW(dialog, IDC_VIEW_TEXT, L"");
        return;
    }
    // A giant definition shows its head and how much was left out.
    const char* definition = dictSession.getDefinition(index);
    char* shown = newShownDefinition(definition, strlen(definition), shownDefinitionLimit);
    wchar_t* text = newWideText(shown);
    delete[] shown;
    SetDlgItemTextW(dialog, IDC_VIEW_TEXT, text ? text : L"");
    free(text);
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
    dictSession.currentDefinition = 0;
    showCurrentDefinition(dialog);
    bool several = dictSession.getDefinitionCount() > 1;
    EnableWindow(GetDlgItem(dialog, IDC_VIEW_NEXT), several);
    EnableWindow(GetDlgItem(dialog, IDC_VIEW_PREVIOUS), several);
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
    int count = dictSession.getDefinitionCount();
    if (count < 1)
        return;
    int index = dictSession.currentDefinition + step;
    if (index >= count)
        index = 0;
    if (index < 0)
        index = count - 1;
    dictSession.currentDefinition = index;
    showCurrentDefinition(dialog);
}

// Every way of closing ends here (Close, Escape, Enter and the close box all send IDCANCEL);
// the box lets go of the font before it is deleted.
void onDestroy(HWND dialog)
{
    ViewerState* state = stateOf(dialog);
    if (!state)
        return;
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

void runDefinitionViewer(HWND owner)
{
    ViewerState state = {nullptr, nullptr};
    DialogBoxParamW(moduleInstance, L"DISPLAY", owner, definitionViewerProc,
                    reinterpret_cast<LPARAM>(&state));
}
