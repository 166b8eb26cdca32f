// The settings dialog: server, hotkey, autostart, database choice, base forms and suggestions, the words
// kept, definition font.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <stdio.h>

#include "config/config.h"
#include "config/hotkey.h"
#include "core/dictsession.h"
#include "core/userinterface.h"
#include "resource.h"
#include "settingsres.h"
#include "ui/lookupdialogs.h"
#include "ui/settingsdialogs.h"
#include "ui/uihost.h"

namespace {

const char settingsTemplate[] = "SETTINGS";
const char emptyHotkeyMessage[] = "Please enter a hotkey to use with Lexitray";
// When the Run value cannot be brought in line with the box, the user is told what will happen.
const char autostartNotSetMessage[] = "Lexitray could not be set to start with Windows.";
const char autostartNotRemovedMessage[] =
    "Lexitray will still start with Windows:\nits entry could not be removed.";
const char autostartMachineMessage[] =
    "Lexitray will still start with Windows:\nit was set up to start for every "
    "user,\nand only an administrator can change that.";

const int hintDurationMs = 3000;
const int noSelection = -1;
// A signed 32-bit number in decimal, with its sign and the terminator.
const int decimalCapacity = 12;
// The font chooser's size unit is a tenth of a point.
const int tenthPointsPerInch = 720;

// The choices of "Offline dictionaries", in the drop-down's order, and the setting each stands for.
const char* const offlineChoices[] = {"When no server answers", "Always first", "Never"};
const int offlineChoiceValues[] = {offlineWhenNoServer, offlineFirst, offlineNever};
const int offlineChoiceCount = 3;

// A key typed without any modifier is taken with Ctrl+Shift.
const WPARAM hotkeyInvalidCombinations = HKCOMB_NONE;
const unsigned hotkeyReplacementFlags = hotkeyFlagShift | hotkeyFlagControl;

LRESULT sendToControl(HWND dialog, int control, UINT message, WPARAM wParam, LPARAM lParam)
{
    return SendDlgItemMessageA(dialog, control, message, wParam, lParam);
}

void checkBox(HWND dialog, int control, bool on)
{
    CheckDlgButton(dialog, control, on ? BST_CHECKED : BST_UNCHECKED);
}

bool isTicked(HWND dialog, int control) { return IsDlgButtonChecked(dialog, control) == BST_CHECKED; }

void onInitSettings(HWND dialog)
{
    sendToControl(dialog, IDC_SETTINGS_HOTKEY, HKM_SETRULES, hotkeyInvalidCombinations,
                  MAKELPARAM(hotkeyReplacementFlags, 0));
    // The list always shows the built-in entries; entries edited in the file keep their index.
    for (int i = 0; i < serverCount; ++i) {
        sendToControl(dialog, IDC_SETTINGS_SERVER, CB_ADDSTRING, 0,
                      reinterpret_cast<LPARAM>(builtInServers[i]));
    }
    const int server = readConfigInt("server", 0);
    const int selection = server >= 0 && server < serverCount ? server : noSelection;
    sendToControl(dialog, IDC_SETTINGS_SERVER, CB_SETCURSEL, static_cast<WPARAM>(selection), 0);
    checkBox(dialog, IDC_SETTINGS_STARTUP, readConfigFlag("startup", 1));
    const HotkeySpec hotkey = readHotkeySpec();
    // Like every flag, only 1 counts as on; any other value opens the box cleared.
    checkBox(dialog, IDC_SETTINGS_HIDEDB, readConfigFlag("hidedbdialog", 0));
    sendToControl(dialog, IDC_SETTINGS_HOTKEY, HKM_SETHOTKEY, hotkeyControlValue(hotkey), 0);
    checkBox(dialog, IDC_SETTINGS_KEEPCLIPBOARD, readConfigFlag("keepclipboard", 0));
    checkBox(dialog, IDC_SETTINGS_LOOKAHEAD, readConfigFlag("lookahead", 1));
    checkBox(dialog, IDC_SETTINGS_ONEPAGE, readConfigFlag("onepage", 0));
    checkBox(dialog, IDC_SETTINGS_KEEPWORDS, keepWordsOn());
    checkBox(dialog, IDC_SETTINGS_BASEFORMS, readConfigFlag("baseforms", 1));
    checkBox(dialog, IDC_SETTINGS_SUGGEST, readConfigFlag("suggest", 1));
    const int offline = readConfigInt("offline", offlineWhenNoServer);
    for (int i = 0; i < offlineChoiceCount; ++i) {
        sendToControl(dialog, IDC_SETTINGS_OFFLINE, CB_ADDSTRING, 0,
                      reinterpret_cast<LPARAM>(offlineChoices[i]));
        if (offlineChoiceValues[i] == offline)
            sendToControl(dialog, IDC_SETTINGS_OFFLINE, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
    }
}

// Starts the program with Windows from where it lies now, or no longer; says so when the
// registry does not follow.
void saveAutostart(HWND dialog, bool on)
{
    if (on) {
        writeConfigString("startup", "1");
        if (!writeAutostartValue())
            showMessage(dialog, autostartNotSetMessage);
        return;
    }
    writeConfigString("startup", "0");
    switch (removeAutostartValue()) {
    case autostartUserValueStays:
        showMessage(dialog, autostartNotRemovedMessage);
        break;
    case autostartMachineValueStays:
        showMessage(dialog, autostartMachineMessage);
        break;
    case autostartRemoved:
        break;
    }
}

// Applies the hotkey first: when it cannot be registered the user stays in the dialog and
// nothing is written. Otherwise every setting is written and the new hint is shown.
void onSaveSettings(HWND dialog)
{
    const int server = static_cast<int>(sendToControl(dialog, IDC_SETTINGS_SERVER, CB_GETCURSEL, 0, 0));
    const int chosen = server >= 0 ? server : noSelection;
    char serverText[decimalCapacity];
    snprintf(serverText, sizeof serverText, "%d", chosen);

    const LRESULT controlValue = sendToControl(dialog, IDC_SETTINGS_HOTKEY, HKM_GETHOTKEY, 0, 0);
    const HotkeySpec hotkey = hotkeySpecFromControl(LOWORD(controlValue));
    if (hotkey.letter == 0) {
        showMessage(dialog, emptyHotkeyMessage);
        SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, IDC_SETTINGS_HOTKEY)),
                     TRUE);
        return;
    }
    if (!changeHotkey(hotkey, dialog))
        return;

    saveAutostart(dialog, isTicked(dialog, IDC_SETTINGS_STARTUP));
    writeHotkeyModifiers(hotkey);
    hideDbDialog = isTicked(dialog, IDC_SETTINGS_HIDEDB);
    writeConfigString("hidedbdialog", hideDbDialog ? "1" : "0");
    writeHotkeyLetter(hotkey);
    writeConfigString("server", serverText);
    writeConfigString("keepclipboard", isTicked(dialog, IDC_SETTINGS_KEEPCLIPBOARD) ? "1" : "0");
    writeConfigString("lookahead", isTicked(dialog, IDC_SETTINGS_LOOKAHEAD) ? "1" : "0");
    writeConfigString("onepage", isTicked(dialog, IDC_SETTINGS_ONEPAGE) ? "1" : "0");
    writeConfigString(keepWordsKey, isTicked(dialog, IDC_SETTINGS_KEEPWORDS) ? "1" : "0");
    writeConfigString("baseforms", isTicked(dialog, IDC_SETTINGS_BASEFORMS) ? "1" : "0");
    writeConfigString("suggest", isTicked(dialog, IDC_SETTINGS_SUGGEST) ? "1" : "0");
    // A value written by hand that names no choice stays as it is until a choice is made.
    const int offline = static_cast<int>(sendToControl(dialog, IDC_SETTINGS_OFFLINE, CB_GETCURSEL, 0, 0));
    if (offline >= 0 && offline < offlineChoiceCount) {
        char offlineText[decimalCapacity];
        snprintf(offlineText, sizeof offlineText, "%d", offlineChoiceValues[offline]);
        writeConfigString("offline", offlineText);
    }
    // The folders may have changed since the program started.
    loadUserDictionaries(dialog);

    char hint[hotkeyHintCapacity];
    formatHotkeyHint(hotkey, hint);
    updateTrayTip(hint);
    showStatus(hint, hintDurationMs);
    // A word box open meanwhile must not go on with what was looked up under the old settings.
    restartWordLookAhead();
    EndDialog(dialog, chosen);
}

// The face and height are stored at once, whatever the dialog ends with; the definition
// viewer picks them up when it next opens.
void onPickFont(HWND dialog)
{
    LOGFONTA font;
    ZeroMemory(&font, sizeof font);
    CHOOSEFONTA chooser;
    ZeroMemory(&chooser, sizeof chooser);
    chooser.lStructSize = sizeof chooser;
    chooser.hwndOwner = dialog;
    chooser.lpLogFont = &font;
    chooser.Flags = CF_SCREENFONTS;
    if (!ChooseFontA(&chooser))
        return;
    font.lfFaceName[LF_FACESIZE - 1] = '\0';
    writeConfigString("font", font.lfFaceName);
    // The chooser gives pixels at the screen's DPI; the height is kept as pixels at 96 DPI, so the
    // same size in points comes back on any screen. Elsewhere it is taken from the size in points,
    // which rounds as it would at 96 DPI.
    const int dpi = screenDpi();
    const int pixels = dpi == standardDpi || chooser.iPointSize <= 0
                           ? MulDiv(font.lfHeight, standardDpi, dpi)
                           : -MulDiv(chooser.iPointSize, standardDpi, tenthPointsPerInch);
    char height[decimalCapacity];
    snprintf(height, sizeof height, "%d", pixels);
    writeConfigString("fontsize", height);
}

INT_PTR CALLBACK settingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        onInitSettings(dialog);
        return FALSE;
    case WM_DPICHANGED:
        followDpiChange(dialog, lParam);
        return FALSE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            onSaveSettings(dialog);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        case IDC_SETTINGS_FONT:
            onPickFont(dialog);
            return TRUE;
        default:
            return FALSE;
        }
    default:
        return FALSE;
    }
}

}  // namespace

INT_PTR runSettingsDialog()
{
    return DialogBoxParamA(moduleInstance, settingsTemplate, nullptr, settingsDialogProc, 0);
}
