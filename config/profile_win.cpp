// The private-profile calls on Windows, and where the profile file lies.
#include "config/profile.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <stdio.h>

int profileReadInt(const char* fileName, const char* section, const char* key, int defaultValue)
{
    // The system returns the value as unsigned; negative numbers come back in two's complement.
    return static_cast<int>(GetPrivateProfileIntA(section, key, defaultValue, fileName));
}

int profileReadString(const char* fileName, const char* section, const char* key, const char* defaultText,
                      char* buffer, int capacity)
{
    if (capacity < 1)
        return 0;
    return static_cast<int>(
        GetPrivateProfileStringA(section, key, defaultText, buffer, static_cast<DWORD>(capacity), fileName));
}

bool profileWriteString(const char* fileName, const char* section, const char* key, const char* text)
{
    return WritePrivateProfileStringA(section, key, text, fileName) != 0;
}

bool profileDeleteFile(const char* fileName) { return DeleteFileA(fileName) != 0; }

namespace {

const int pathCapacity = MAX_PATH;
// Where Windows kept a per-user copy of a file a program without the right to write it changed.
const char virtualStoreFolder[] = "VirtualStore";

bool isFile(const char* path)
{
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// dir, a backslash and name into out; false when it does not fit.
bool joinPath(char* out, int capacity, const char* dir, const char* name)
{
    const int length = snprintf(out, static_cast<size_t>(capacity), "%s\\%s", dir, name);
    return length > 0 && length < capacity;
}

// Of the profiles older versions left, the one written last (the first of equals); null when none is.
const char* newestLegacyProfile(const ProfileFolders& folders)
{
    const char* newest = nullptr;
    FILETIME newestTime = {0, 0};
    for (const char* candidate : folders.legacyFiles) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (candidate == nullptr || !GetFileAttributesExA(candidate, GetFileExInfoStandard, &data) ||
            (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            continue;
        }
        if (newest == nullptr || CompareFileTime(&data.ftLastWriteTime, &newestTime) > 0) {
            newest = candidate;
            newestTime = data.ftLastWriteTime;
        }
    }
    return newest;
}

// The folder of the running program, without a trailing backslash.
bool programFolder(char* dir, int capacity)
{
    const DWORD length = GetModuleFileNameA(nullptr, dir, static_cast<DWORD>(capacity));
    if (length == 0 || length >= static_cast<DWORD>(capacity))
        return false;
    return PathRemoveFileSpecA(dir) != FALSE;
}

bool userFolder(int which, char* dir)
{
    return SUCCEEDED(SHGetFolderPathA(nullptr, which, nullptr, SHGFP_TYPE_CURRENT, dir));
}

}  // namespace

bool profileLocateIn(const ProfileFolders& folders, const char* fileName, const char* folderName, char* path,
                     int capacity)
{
    if (capacity < 1)
        return false;
    path[0] = '\0';
    char candidate[pathCapacity];
    // A file beside the program makes a portable copy: it keeps its settings with it.
    if (folders.programDir != nullptr && joinPath(candidate, pathCapacity, folders.programDir, fileName) &&
        isFile(candidate) && lstrlenA(candidate) < capacity) {
        lstrcpynA(path, candidate, capacity);
        return true;
    }
    char folder[pathCapacity];
    if (folders.userDataDir == nullptr || !joinPath(folder, pathCapacity, folders.userDataDir, folderName) ||
        !joinPath(candidate, pathCapacity, folder, fileName) || lstrlenA(candidate) >= capacity) {
        return false;
    }
    if (!CreateDirectoryA(folder, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
    if (!isFile(candidate)) {
        // The first start of this version: take over the settings an older one kept. The old file
        // stays where it is. A read-only original must not make a read-only copy.
        const char* legacy = newestLegacyProfile(folders);
        if (legacy != nullptr && CopyFileA(legacy, candidate, TRUE))
            SetFileAttributesA(candidate, FILE_ATTRIBUTE_NORMAL);
    }
    lstrcpynA(path, candidate, capacity);
    return true;
}

void profileLocateFile(const char* fileName, const char* folderName, char* path, int capacity)
{
    ProfileFolders folders = {nullptr, nullptr, {nullptr, nullptr}};
    char programDir[pathCapacity];
    if (programFolder(programDir, pathCapacity))
        folders.programDir = programDir;
    char userDataDir[pathCapacity];
    if (userFolder(CSIDL_APPDATA | CSIDL_FLAG_CREATE, userDataDir))
        folders.userDataDir = userDataDir;

    // Older versions let the system put the file in the Windows directory; where the user could not
    // write there, the system kept the user's copy below the local application data instead.
    char windowsDir[pathCapacity];
    char windowsCopy[pathCapacity];
    char localDataDir[pathCapacity];
    char storeRoot[pathCapacity];
    char storeDir[pathCapacity];
    char storeCopy[pathCapacity];
    int legacyCount = 0;
    const UINT length = GetWindowsDirectoryA(windowsDir, pathCapacity);
    if (length > 0 && length < static_cast<UINT>(pathCapacity)) {
        if (userFolder(CSIDL_LOCAL_APPDATA, localDataDir) &&
            joinPath(storeRoot, pathCapacity, localDataDir, virtualStoreFolder) &&
            joinPath(storeDir, pathCapacity, storeRoot, PathSkipRootA(windowsDir)) &&
            joinPath(storeCopy, pathCapacity, storeDir, fileName)) {
            folders.legacyFiles[legacyCount++] = storeCopy;
        }
        if (joinPath(windowsCopy, pathCapacity, windowsDir, fileName))
            folders.legacyFiles[legacyCount++] = windowsCopy;
    }
    if (!profileLocateIn(folders, fileName, folderName, path, capacity) && capacity > 0)
        lstrcpynA(path, fileName, capacity);
}
