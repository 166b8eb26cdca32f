// Registering the global hotkey with TrayWindow, at start-up and when the settings change it.
#include <windows.h>

#include "app/trayapp.h"
#include "core/userinterface.h"

namespace {

const char startupTakenMessage[] =
    "Failed to register hotkey!\nError: That hotkey is already registered to another application.\n\n"
    "You will have to change your hotkey, or use the Lexitray menu from the system tray to look up a word.";
const char startupErrorMessage[] =
    "Failed to register hotkey!\nError Number: %d\n\n"
    "You will have to change your hotkey, or use the Lexitray menu from the system tray to look up a word.";
const char changeTakenMessage[] =
    "Failed to register hotkey!\nError: That hotkey is already registered to another application.";
const char changeErrorMessage[] = "Failed to register hotkey!\nError Number: %d";

// Registers spec with TrayWindow under hotkeyId; on failure error holds the system's code.
bool registerWithTrayWindow(const HotkeySpec& spec, DWORD* error)
{
    if (RegisterHotKey(TrayWindow, hotkeyId, hotkeyModifiers(spec), spec.letter))
        return true;
    *error = GetLastError();
    return false;
}

void reportFailure(HWND owner, DWORD error, const char* takenMessage, const char* errorMessage)
{
    if (error == ERROR_HOTKEY_ALREADY_REGISTERED) {
        showMessage(owner, takenMessage);
    } else {
        showMessage(owner, errorMessage, static_cast<int>(error));
    }
}

}  // namespace

void registerHotkey(const HotkeySpec& spec)
{
    DWORD error = 0;
    if (!registerWithTrayWindow(spec, &error)) {
        reportFailure(TrayWindow, error, startupTakenMessage, startupErrorMessage);
    }
}

bool changeHotkey(const HotkeySpec& spec, HWND owner)
{
    UnregisterHotKey(TrayWindow, hotkeyId);
    DWORD error = 0;
    if (registerWithTrayWindow(spec, &error))
        return true;
    reportFailure(owner, error, changeTakenMessage, changeErrorMessage);
    return false;
}
