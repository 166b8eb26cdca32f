// Autostart: the value "Lexitray" under the Run keys, written and deleted.
#include "app/trayapp.h"

namespace {

const char autostartKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const char autostartValue[] = "Lexitray";
const wchar_t autostartKeyWide[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t autostartValueWide[] = L"Lexitray";
// The longest path Windows gives a program (with long paths enabled), the two quotes and the terminator.
const DWORD longestPath = 32767;
const DWORD quotedPathCapacity = longestPath + 3;

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

bool writeAutostartValue()
{
    // The path in UTF-16: in the system code page a user name outside it would come out as "?", and
    // the value would name no program. Quoted, so that a path with spaces cannot be read as a shorter
    // program and its arguments.
    wchar_t* quoted =
        static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, quotedPathCapacity * sizeof(wchar_t)));
    if (quoted == nullptr)
        return false;
    const DWORD length = GetModuleFileNameW(nullptr, quoted + 1, longestPath + 1);
    bool written = false;
    // A path cut to fit would start some other program, or none.
    if (length > 0 && length <= longestPath) {
        quoted[0] = L'"';
        quoted[length + 1] = L'"';
        quoted[length + 2] = L'\0';
        HKEY key;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, autostartKeyWide, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                            nullptr) == ERROR_SUCCESS) {
            written =
                RegSetValueExW(key, autostartValueWide, 0, REG_SZ, reinterpret_cast<const BYTE*>(quoted),
                               (length + 3) * sizeof(wchar_t)) == ERROR_SUCCESS;
            RegCloseKey(key);
        }
    }
    HeapFree(GetProcessHeap(), 0, quoted);
    return written;
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
