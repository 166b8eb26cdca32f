// The database choice dialog "DB": picks which matching database's definitions to fetch.
#include <windows.h>
#include <stdlib.h>

#include "config/config.h"
#include "core/dictsession.h"
#include "core/lookuptext.h"
#include "core/userinterface.h"
#include "lookupres.h"
#include "ui/lookupthread.h"
#include "ui/uihost.h"
#include "ui/widetext.h"

namespace {

// The items the dialog shows, built before it opens; each stands for one match.
struct DatabaseChoiceState {
    DatabaseChoice* choices;
    int count;
};

void onInitDialog(HWND dialog, const DatabaseChoiceState* state)
{
    SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(state));
    HWND list = GetDlgItem(dialog, IDC_DB_LIST);
    for (int i = 0; i < state->count; i++) {
        wchar_t description[dictSlotSize];
        utf8ToWide(state->choices[i].description, description, dictSlotSize);
        LRESULT item = SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(description));
        if (item >= 0)
            SendMessageW(list, LB_SETITEMDATA, static_cast<WPARAM>(item), state->choices[i].matchIndex);
    }
    CheckDlgButton(dialog, IDC_DB_SKIP, readConfigInt("hidedbdialog", 0) == 1 ? BST_CHECKED : BST_UNCHECKED);
    SendMessageW(list, LB_SETCURSEL, 0, 0);
}

// OK: the check box is saved first, whatever follows; the dialog ends only with an item chosen.
void onOk(HWND dialog)
{
    bool skip = IsDlgButtonChecked(dialog, IDC_DB_SKIP) == BST_CHECKED;
    hideDbDialog = skip;
    writeConfigString("hidedbdialog", skip ? "1" : "0");

    HWND list = GetDlgItem(dialog, IDC_DB_LIST);
    LRESULT item = SendMessageW(list, LB_GETCURSEL, 0, 0);
    if (item < 0) {
        showMessage(dialog, "Please select a dictionary to use.");
        return;
    }
    LRESULT matchIndex = SendMessageW(list, LB_GETITEMDATA, static_cast<WPARAM>(item), 0);
    EndDialog(dialog, matchIndex);
}

// Enter and Escape (commands 1 and 2) and double clicks are left alone: only OK ends the dialog.
INT_PTR CALLBACK databaseChoiceProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        onInitDialog(dialog, reinterpret_cast<const DatabaseChoiceState*>(lParam));
        return FALSE;
    case DM_GETDEFID:
        // Enter asks which button is the default. The unseen IDOK answers, so Enter does nothing;
        // otherwise the dialog manager would name the last default button of the template, OK.
        SetWindowLongPtrW(dialog, DWLP_MSGRESULT, MAKELONG(IDOK, DC_HASDEFID));
        return TRUE;
    case WM_DPICHANGED:
        followDpiChange(dialog, lParam);
        return FALSE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_DB_OK) {
            onOk(dialog);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

// The choice over a look-up's matches, made on the window thread.
struct ChoiceAsk {
    const DictSession* session;
    int chosen;
};

void chooseDatabase(void* data)
{
    ChoiceAsk* ask = static_cast<ChoiceAsk*>(data);
    int matchCount = ask->session->matchCount;
    if (matchCount < 1)
        return;
    DatabaseChoiceState state;
    state.choices =
        static_cast<DatabaseChoice*>(calloc(static_cast<size_t>(matchCount), sizeof(DatabaseChoice)));
    if (!state.choices)
        return;
    state.count = buildDatabaseChoices(*ask->session, state.choices, matchCount);
    INT_PTR chosen =
        DialogBoxParamW(moduleInstance, L"DB", nullptr, databaseChoiceProc, reinterpret_cast<LPARAM>(&state));
    free(state.choices);
    // A dialog that could not open leaves the first match.
    if (chosen >= 0 && chosen < matchCount)
        ask->chosen = static_cast<int>(chosen);
}

}  // namespace

int runDatabaseChoiceDialog(const DictSession* session)
{
    // A cancelled look-up shows no choice, and goes on (to its end) with the first match.
    ChoiceAsk ask = {session, 0};
    askOnWindowThread(chooseDatabase, &ask);
    return ask.chosen;
}
