// The private-profile calls on Windows, and where the profile file lies.
#include "config/profile.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <stdio.h>

namespace {

// Paths are UTF-8 here and UTF-16 for the system, so that any user name works; a path's UTF-16 form
// fits the system's limit. Key and value texts are the program's own, in the ANSI code page.
const int widePathCapacity = MAX_PATH;
// Room for a key's or a value's UTF-16 form; longer values are cut, as a short buffer would cut them.
const int wideTextCapacity = 1024;
// An ANSI character takes at most two bytes.
const int ansiBytesPerChar = 2;

bool toWide(const char* text, UINT codePage, wchar_t* wide, int capacity)
{
    if (text == nullptr)
        return false;
    const int written = MultiByteToWideChar(codePage, 0, text, -1, wide, capacity);
    return written > 0;
}

bool widePath(const char* path, wchar_t* wide) { return toWide(path, CP_UTF8, wide, widePathCapacity); }

// A section, key or value for the wide calls into *converted; null stays null (it means "delete" there).
// False when the text does not fit, so that a call never goes out with a text cut short.
bool wideText(const char* text, wchar_t* wide, const wchar_t** converted)
{
    *converted = nullptr;
    if (text == nullptr)
        return true;
    if (!toWide(text, CP_ACP, wide, wideTextCapacity))
        return false;
    *converted = wide;
    return true;
}

}  // namespace

int profileReadInt(const char* fileName, const char* section, const char* key, int defaultValue)
{
    wchar_t file[widePathCapacity], sectionText[wideTextCapacity], keyText[wideTextCapacity];
    const wchar_t *wideSection, *wideKey;
    if (!widePath(fileName, file) || !wideText(section, sectionText, &wideSection) ||
        !wideText(key, keyText, &wideKey)) {
        return defaultValue;
    }
    // The system returns the value as unsigned; negative numbers come back in two's complement.
    return static_cast<int>(GetPrivateProfileIntW(wideSection, wideKey, defaultValue, file));
}

int profileReadString(const char* fileName, const char* section, const char* key, const char* defaultText,
                      char* buffer, int capacity)
{
    if (capacity < 1)
        return 0;
    wchar_t file[widePathCapacity], sectionText[wideTextCapacity], keyText[wideTextCapacity];
    wchar_t defaultWide[wideTextCapacity], value[wideTextCapacity];
    const wchar_t *wideSection, *wideKey, *wideDefault;
    const int valueCapacity = capacity < wideTextCapacity ? capacity : wideTextCapacity;
    int length = 0;
    if (widePath(fileName, file) && wideText(section, sectionText, &wideSection) &&
        wideText(key, keyText, &wideKey) && wideText(defaultText, defaultWide, &wideDefault)) {
        length = static_cast<int>(GetPrivateProfileStringW(wideSection, wideKey, wideDefault, value,
                                                           static_cast<DWORD>(valueCapacity), file));
    }
    // Back to the ANSI code page, cut to capacity - 1 bytes.
    char ansi[wideTextCapacity * ansiBytesPerChar];
    int bytes =
        length > 0 ? WideCharToMultiByte(CP_ACP, 0, value, length, ansi, sizeof ansi, nullptr, nullptr) : 0;
    if (bytes > capacity - 1)
        bytes = capacity - 1;
    CopyMemory(buffer, ansi, static_cast<SIZE_T>(bytes));
    buffer[bytes] = '\0';
    return bytes;
}

bool profileWriteString(const char* fileName, const char* section, const char* key, const char* text)
{
    wchar_t file[widePathCapacity], sectionText[wideTextCapacity], keyText[wideTextCapacity];
    wchar_t valueText[wideTextCapacity];
    const wchar_t *wideSection, *wideKey, *wideValue;
    if (!widePath(fileName, file) || !wideText(section, sectionText, &wideSection) ||
        !wideText(key, keyText, &wideKey) || !wideText(text, valueText, &wideValue)) {
        return false;
    }
    return WritePrivateProfileStringW(wideSection, wideKey, wideValue, file) != 0;
}

bool profileDeleteFile(const char* fileName)
{
    wchar_t file[widePathCapacity];
    return widePath(fileName, file) && DeleteFileW(file) != 0;
}

namespace {

// Where Windows kept a per-user copy of a file a program without the right to write it changed.
const wchar_t virtualStoreFolder[] = L"VirtualStore";
// Beside the profile while an older profile is still to be copied over it: each start tries again.
const wchar_t pendingCopySuffix[] = L".pending";

bool isFile(const wchar_t* path)
{
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// dir, a backslash and name into out (widePathCapacity characters); false when it does not fit.
bool joinPath(wchar_t* out, const wchar_t* dir, const wchar_t* name)
{
    const int length = _snwprintf(out, widePathCapacity, L"%ls\\%ls", dir, name);
    return length > 0 && length < widePathCapacity;
}

// The UTF-8 path's UTF-16 form, or false when it has none that fits.
bool optionalWidePath(const char* path, wchar_t* wide) { return path != nullptr && widePath(path, wide); }

// Of the profiles older versions left, the one written last (the first of equals); false when none is.
bool newestLegacyProfile(const ProfileFolders& folders, wchar_t* newest)
{
    bool found = false;
    FILETIME newestTime = {0, 0};
    for (const char* legacy : folders.legacyFiles) {
        wchar_t candidate[widePathCapacity];
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!optionalWidePath(legacy, candidate) ||
            !GetFileAttributesExW(candidate, GetFileExInfoStandard, &data) ||
            (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            continue;
        }
        if (!found || CompareFileTime(&data.ftLastWriteTime, &newestTime) > 0) {
            lstrcpynW(newest, candidate, widePathCapacity);
            newestTime = data.ftLastWriteTime;
            found = true;
        }
    }
    return found;
}

// The first start of this version takes over the settings an older one kept, and a start after a
// failed copy tries again. The old file stays where it is; a read-only original must not make a
// read-only copy. False when an old profile is there and could not be copied.
bool takeOverLegacyProfile(const ProfileFolders& folders, const wchar_t* profile)
{
    wchar_t pending[widePathCapacity];
    if (_snwprintf(pending, widePathCapacity, L"%ls%ls", profile, pendingCopySuffix) >= widePathCapacity)
        return true;
    const bool retry = isFile(pending);
    wchar_t legacy[widePathCapacity];
    if ((isFile(profile) && !retry) || !newestLegacyProfile(folders, legacy)) {
        if (retry)
            DeleteFileW(pending);
        return true;
    }
    if (CopyFileW(legacy, profile, retry ? FALSE : TRUE)) {
        SetFileAttributesW(profile, FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(pending);
        return true;
    }
    if (!retry) {
        HANDLE marker =
            CreateFileW(pending, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (marker != INVALID_HANDLE_VALUE)
            CloseHandle(marker);
    }
    return false;
}

// The UTF-16 path as UTF-8 into path; false when it does not fit.
bool toUtf8(const wchar_t* wide, char* path, int capacity)
{
    return WideCharToMultiByte(CP_UTF8, 0, wide, -1, path, capacity, nullptr, nullptr) > 0;
}

// The folder of the running program, without a trailing backslash.
bool programFolder(wchar_t* dir)
{
    const DWORD length = GetModuleFileNameW(nullptr, dir, widePathCapacity);
    if (length == 0 || length >= static_cast<DWORD>(widePathCapacity))
        return false;
    return PathRemoveFileSpecW(dir) != FALSE;
}

bool userFolder(int which, wchar_t* dir)
{
    return SUCCEEDED(SHGetFolderPathW(nullptr, which, nullptr, SHGFP_TYPE_CURRENT, dir));
}

}  // namespace

ProfileLocated profileLocateIn(const ProfileFolders& folders, const char* fileName, const char* folderName,
                               char* path, int capacity)
{
    if (capacity < 1)
        return profileNotLocated;
    path[0] = '\0';
    wchar_t name[widePathCapacity], candidate[widePathCapacity], dir[widePathCapacity];
    if (!widePath(fileName, name))
        return profileNotLocated;
    // A file beside the program makes a portable copy: it keeps its settings with it.
    if (optionalWidePath(folders.programDir, dir) && joinPath(candidate, dir, name) && isFile(candidate) &&
        toUtf8(candidate, path, capacity)) {
        return profileLocated;
    }
    wchar_t folder[widePathCapacity], wideFolderName[widePathCapacity];
    if (!optionalWidePath(folders.userDataDir, dir) || !widePath(folderName, wideFolderName) ||
        !joinPath(folder, dir, wideFolderName) || !joinPath(candidate, folder, name) ||
        !toUtf8(candidate, path, capacity)) {
        path[0] = '\0';
        return profileNotLocated;
    }
    if (!CreateDirectoryW(folder, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        path[0] = '\0';
        return profileNotLocated;
    }
    return takeOverLegacyProfile(folders, candidate) ? profileLocated : profileLocatedCopyFailed;
}

bool profileLocateFile(const char* fileName, const char* folderName, char* path, int capacity)
{
    // Every folder in UTF-8, as profileLocateIn takes them; a path that does not fit is left out.
    const int utf8Capacity = widePathCapacity * 3;
    ProfileFolders folders = {nullptr, nullptr, {nullptr, nullptr}};
    wchar_t wide[widePathCapacity];
    char programDir[utf8Capacity];
    if (programFolder(wide) && toUtf8(wide, programDir, utf8Capacity))
        folders.programDir = programDir;
    char userDataDir[utf8Capacity];
    if (userFolder(CSIDL_APPDATA | CSIDL_FLAG_CREATE, wide) && toUtf8(wide, userDataDir, utf8Capacity))
        folders.userDataDir = userDataDir;

    // Older versions let the system put the file in the Windows directory; where the user could not
    // write there, the system kept the user's copy below the local application data instead.
    wchar_t name[widePathCapacity], windowsDir[widePathCapacity], localDataDir[widePathCapacity];
    wchar_t storeRoot[widePathCapacity], storeDir[widePathCapacity], legacy[widePathCapacity];
    char storeCopy[utf8Capacity];
    char windowsCopy[utf8Capacity];
    int legacyCount = 0;
    const UINT length = GetWindowsDirectoryW(windowsDir, widePathCapacity);
    if (widePath(fileName, name) && length > 0 && length < static_cast<UINT>(widePathCapacity)) {
        if (userFolder(CSIDL_LOCAL_APPDATA, localDataDir) &&
            joinPath(storeRoot, localDataDir, virtualStoreFolder) &&
            joinPath(storeDir, storeRoot, PathSkipRootW(windowsDir)) && joinPath(legacy, storeDir, name) &&
            toUtf8(legacy, storeCopy, utf8Capacity)) {
            folders.legacyFiles[legacyCount++] = storeCopy;
        }
        if (joinPath(legacy, windowsDir, name) && toUtf8(legacy, windowsCopy, utf8Capacity))
            folders.legacyFiles[legacyCount++] = windowsCopy;
    }
    const ProfileLocated located = profileLocateIn(folders, fileName, folderName, path, capacity);
    if (located == profileNotLocated && capacity > 0)
        lstrcpynA(path, fileName, capacity);
    return located != profileLocatedCopyFailed;
}
