// The word entry dialog "WORD": captures the selected word, lets the user confirm it, runs the look-up.
#include <windows.h>
#include <string.h>

#include "app/trayapp.h"
#include "config/config.h"
#include "core/dictsession.h"
#include "core/lookuptext.h"
#include "core/userinterface.h"
#include "resource.h"
#include "lookupres.h"
#include "ui/lookupdialogs.h"
#include "ui/selectioncapture.h"
#include "ui/widetext.h"

namespace {

// What the user may type; a captured word may be longer.
const int typingLimit = 25;
// Typing replaces the pre-filled word: this much of it starts selected.
const int preselectedLength = 100;

// Puts the clipboard text up to its first blank into the word box. The clipboard is left as
// it is; without text, or when another program holds it open, the box stays empty.
void fillFromClipboard(HWND dialog)
{
    if (!IsClipboardFormatAvailable(CF_UNICODETEXT) || !OpenClipboard(dialog))
        return;
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    const wchar_t* text = data ? static_cast<const wchar_t*>(GlobalLock(data)) : nullptr;
    if (text) {
        // The data need not be terminated within its block: never read past the block.
        size_t available = GlobalSize(data) / sizeof(wchar_t);
        int length = 0;
        while (length < maxWideInput && static_cast<size_t>(length) < available && text[length])
            length++;
        char converted[wordBufferSize];
        wideToUtf8(text, length, converted, wordBufferSize);
        GlobalUnlock(data);
        char word[wordBufferSize];
        takeCapturedWord(converted, strlen(converted), word, wordBufferSize);
        wchar_t wideWord[wordBufferSize];
        utf8ToWide(word, wideWord, wordBufferSize);
        SetDlgItemTextW(dialog, IDC_WORD_EDIT, wideWord);
    }
    CloseClipboard();
}

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

    HWND edit = GetDlgItem(dialog, IDC_WORD_EDIT);
    SendMessageW(edit, EM_LIMITTEXT, typingLimit, 0);
    SelectionCapture capture;
    captureSelection(&capture, readConfigFlag("keepclipboard", 0));
    fillFromClipboard(dialog);
    finishSelectionCapture(&capture);
    SetFocus(edit);
    SendMessageW(edit, EM_SETSEL, 0, preselectedLength);
}

// "Look up": the box hides while the look-up runs (its own message loop is stopped meanwhile)
// and does not come back afterwards.
void onLookUp(HWND dialog)
{
    wchar_t wideWord[wordBufferSize];
    int length = GetDlgItemTextW(dialog, IDC_WORD_EDIT, wideWord, wordBufferSize);
    if (length <= 0) {
        showMessage(dialog, "Please enter a word into the box provided");
        return;
    }
    char word[wordBufferSize];
    wideToUtf8(wideWord, length, word, wordBufferSize);
    ShowWindow(dialog, SW_HIDE);
    int found = dictSession.lookUpWord(word);
    EndDialog(dialog, found == 1 ? wordLookupSucceeded : wordLookupFailed);
}

INT_PTR CALLBACK wordEntryProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        onInitDialog(dialog);
        return FALSE;
    case WM_DPICHANGED:
        followDpiChange(dialog, lParam);
        return FALSE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            onLookUp(dialog);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, wordLookupCancelled);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

}  // namespace

INT_PTR runWordEntryDialog(HWND owner)
{
    return DialogBoxParamW(moduleInstance, L"WORD", owner, wordEntryProc, 0);
}
