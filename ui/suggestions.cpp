// The "Did you mean?" dialog "SUGGEST": near spellings the server suggested for a word it does not know.
#include <windows.h>
#include <string.h>

#include "core/dictsession.h"
#include "core/lookuptext.h"
#include "core/userinterface.h"
#include "lookupres.h"
#include "ui/lookupthread.h"
#include "ui/uihost.h"
#include "ui/widetext.h"

namespace {

// Dialog results beside IDCANCEL (2): the index of the chosen word is this much higher.
const INT_PTR chosenBase = 100;
const INT_PTR nextServerResult = 3;

// The words the dialog was given, and how many.
struct SuggestionState {
    const char* const* words;
    int count;
};

// Each distinct word once, in the given order, up to maxSuggestions; the item data is its index.
void onInitDialog(HWND dialog, const SuggestionState* state)
{
    HWND list = GetDlgItem(dialog, IDC_SUGGEST_LIST);
    int shown = 0;
    for (int i = 0; i < state->count && shown < maxSuggestions; i++) {
        bool seen = state->words[i][0] == '\0';
        for (int j = 0; j < i && !seen; j++)
            seen = strcmp(state->words[i], state->words[j]) == 0;
        if (seen)
            continue;
        wchar_t word[wordBufferSize];
        utf8ToWide(state->words[i], word, wordBufferSize);
        LRESULT item = SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(word));
        if (item < 0)
            continue;
        SendMessageW(list, LB_SETITEMDATA, static_cast<WPARAM>(item), i);
        shown++;
    }
    SendMessageW(list, LB_SETCURSEL, 0, 0);
}

// Look Up, Enter and a double click end the dialog with the selected word.
void onPick(HWND dialog)
{
    HWND list = GetDlgItem(dialog, IDC_SUGGEST_LIST);
    LRESULT item = SendMessageW(list, LB_GETCURSEL, 0, 0);
    if (item < 0)
        return;
    LRESULT index = SendMessageW(list, LB_GETITEMDATA, static_cast<WPARAM>(item), 0);
    EndDialog(dialog, chosenBase + index);
}

INT_PTR CALLBACK suggestionProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        onInitDialog(dialog, reinterpret_cast<const SuggestionState*>(lParam));
        return TRUE;
    case WM_DPICHANGED:
        followDpiChange(dialog, lParam);
        return FALSE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            onPick(dialog);
            return TRUE;
        case IDC_SUGGEST_LIST:
            if (HIWORD(wParam) == LBN_DBLCLK)
                onPick(dialog);
            return TRUE;
        case IDC_SUGGEST_NEXT:
            EndDialog(dialog, nextServerResult);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

}  // namespace

int runSuggestionDialog(const char* const* words, int count, char* chosen, int capacity)
{
    if (capacity >= 1)
        chosen[0] = '\0';
    struct Ask {
        SuggestionState state;
        INT_PTR result;
    } ask = {{words, count}, IDCANCEL};
    // Shown on the window thread; a cancelled look-up's dialog never shows, and counts as cancelled.
    askOnWindowThread(
        [](void* data) {
            Ask* shown = static_cast<Ask*>(data);
            shown->result = DialogBoxParamW(moduleInstance, L"SUGGEST", nullptr, suggestionProc,
                                            reinterpret_cast<LPARAM>(&shown->state));
        },
        &ask);
    INT_PTR result = ask.result;
    if (result == nextServerResult)
        return suggestionNextServer;
    if (result < chosenBase || result >= chosenBase + count || capacity < 1)
        return suggestionCancelled;
    const char* word = words[result - chosenBase];
    size_t length = utf8PrefixLength(word, strlen(word), static_cast<size_t>(capacity - 1));
    memcpy(chosen, word, length);
    chosen[length] = '\0';
    return suggestionChosen;
}
