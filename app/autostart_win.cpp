// Autostart: the value "Lexitray" under the Run keys, written and deleted.
#include "app/trayapp.h"

namespace {

const char autostartKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const char autostartValue[] = "Lexitray";
// The path and the two quotes around it.
const int quotedPathCapacity = MAX_PATH + 2;

// Whether the value is in one view of the Run key.
bool runValueExists(HKEY root, REGSAM view)
{
    HKEY key;
    if (RegOpenKeyExA(root, autostartKey, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS)
        return false;
    const LONG found = RegQueryValueExA(key, autostartValue, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return found == ERROR_SUCCESS;
}

// Deletes the value from one view of the Run key; true when it is not there afterwards.
bool removeRunValue(HKEY root, REGSAM view)
{
    HKEY key;
    const LONG opened = RegOpenKeyExA(root, autostartKey, 0, KEY_SET_VALUE | KEY_QUERY_VALUE | view, &key);
    if (opened == ERROR_FILE_NOT_FOUND)
        return true;
    if (opened != ERROR_SUCCESS)
        return !runValueExists(root, view);  // not ours to change: only the value's presence counts
    const LONG deleted = RegDeleteValueA(key, autostartValue);
    RegCloseKey(key);
    return deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND;
}

}  // namespace

bool writeAutostartValue(const char* path)
{
    // Quoted, so that a path with spaces cannot be read as a shorter program and its arguments.
    char quoted[quotedPathCapacity];
    const int length = lstrlenA(path);
    if (length + 2 >= quotedPathCapacity)
        return false;
    quoted[0] = '"';
    CopyMemory(quoted + 1, path, static_cast<SIZE_T>(length));
    quoted[length + 1] = '"';
    quoted[length + 2] = '\0';
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, autostartKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const LONG written = RegSetValueExA(key, autostartValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(quoted),
                                        static_cast<DWORD>(length + 3));
    RegCloseKey(key);
    return written == ERROR_SUCCESS;
}

AutostartRemoval removeAutostartValue()
{
    if (!removeRunValue(HKEY_CURRENT_USER, 0))
        return autostartUserValueStays;
    // Older versions, and installers, put the value under the machine's key; a 32-bit program's
    // value lies in the 32-bit view there, so both views are cleaned.
    bool machineClear = removeRunValue(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY);
    machineClear = removeRunValue(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY) && machineClear;
    return machineClear ? autostartRemoved : autostartMachineValueStays;
}
