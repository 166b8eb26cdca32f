// The offline dictionaries' file calls on Win32: wide names at this boundary, file mappings, positioned
// reads.
#include "core/offlinefiles.h"

#include <windows.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

// The longest path Windows takes (with long paths enabled), in UTF-16 units with the terminator; a UTF-8
// path takes at most three bytes a unit.
static const int widePathUnits = 32768;
static const int utf8PathBytes = 3 * widePathUnits;

// A UTF-8 text in UTF-16, in a new buffer of widePathUnits units (free() it); null when it does not fit.
static wchar_t* widened(const char* text)
{
    wchar_t* wide = (wchar_t*)malloc(widePathUnits * sizeof(wchar_t));
    if (wide != nullptr && MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, widePathUnits) <= 0) {
        free(wide);
        return nullptr;
    }
    return wide;
}

// A UTF-16 text in UTF-8 into out (capacity bytes); false when it does not fit.
static bool narrowed(const wchar_t* text, char* out, int capacity)
{
    return WideCharToMultiByte(CP_UTF8, 0, text, -1, out, capacity, nullptr, nullptr) > 0;
}

// The folder's files ending with suffix, each named by its path and name (without the suffix) in UTF-8.
static bool listWith(const wchar_t* pattern, const wchar_t* suffix, const char* folder, IndexFileFound found,
                     void* context, char* path, char* name)
{
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    size_t folderLength = strlen(folder);
    size_t suffixLength = wcslen(suffix);
    do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        // The pattern also matches short-name aliases ("x.indexold"): keep only names that end so.
        size_t length = wcslen(entry.cFileName);
        if (length <= suffixLength || _wcsicmp(entry.cFileName + length - suffixLength, suffix) != 0)
            continue;
        if (!narrowed(entry.cFileName, name, MAX_PATH * 3) ||
            folderLength + 2 + strlen(name) > (size_t)utf8PathBytes)
            continue;
        memcpy(path, folder, folderLength);
        path[folderLength] = '\\';
        strcpy(path + folderLength + 1, name);
        name[strlen(name) - suffixLength] = '\0';
        found(path, name, context);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return true;
}

// The files directly in folder whose names end with suffix (ASCII).
static bool listEnding(const char* folder, const wchar_t* suffix, IndexFileFound found, void* context)
{
    wchar_t* pattern = widened(folder);
    char* path = (char*)malloc(utf8PathBytes + MAX_PATH * 3);
    bool listed = false;
    if (pattern != nullptr && path != nullptr &&
        wcslen(pattern) + 2 + wcslen(suffix) < (size_t)widePathUnits) {
        wcscat(pattern, L"\\*");
        wcscat(pattern, suffix);
        listed = listWith(pattern, suffix, folder, found, context, path, path + utf8PathBytes);
    }
    free(path);
    free(pattern);
    return listed;
}

bool listIndexFiles(const char* folder, IndexFileFound found, void* context)
{
    return listEnding(folder, L".index", found, context);
}

bool listInfoFiles(const char* folder, IndexFileFound found, void* context)
{
    return listEnding(folder, L".ifo", found, context);
}

bool offlineFileExists(const char* path)
{
    wchar_t* wide = widened(path);
    DWORD attributes = wide != nullptr ? GetFileAttributesW(wide) : INVALID_FILE_ATTRIBUTES;
    free(wide);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool offlineFileStamp(const char* path, FileStamp* stamp)
{
    wchar_t* wide = widened(path);
    WIN32_FILE_ATTRIBUTE_DATA data;
    BOOL found = wide != nullptr && GetFileAttributesExW(wide, GetFileExInfoStandard, &data);
    free(wide);
    if (!found || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    stamp->size = (uint64_t)data.nFileSizeHigh << 32 | data.nFileSizeLow;
    stamp->changed = (uint64_t)data.ftLastWriteTime.dwHighDateTime << 32 | data.ftLastWriteTime.dwLowDateTime;
    return true;
}

// The lock of the offline dictionaries: a critical section, which the thread holding it may enter again.
static CRITICAL_SECTION offlineSection;
static INIT_ONCE offlineSectionMade = INIT_ONCE_STATIC_INIT;

static BOOL CALLBACK makeOfflineSection(PINIT_ONCE, PVOID, PVOID*)
{
    InitializeCriticalSection(&offlineSection);
    return TRUE;
}

void lockOfflineFiles()
{
    InitOnceExecuteOnce(&offlineSectionMade, makeOfflineSection, nullptr, nullptr);
    EnterCriticalSection(&offlineSection);
}

void unlockOfflineFiles() { LeaveCriticalSection(&offlineSection); }

static HANDLE openForReading(const char* path)
{
    wchar_t* wide = widened(path);
    if (wide == nullptr)
        return INVALID_HANDLE_VALUE;
    HANDLE handle = CreateFileW(wide, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    free(wide);
    return handle;
}

MapOutcome mapFileReadOnly(const char* path, uint64_t sizeLimit, MappedFile* file)
{
    *file = MappedFile{nullptr, 0, 0, 0};
    HANDLE handle = openForReading(path);
    if (handle == INVALID_HANDLE_VALUE)
        return mapFailed;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handle, &size)) {
        CloseHandle(handle);
        return mapFailed;
    }
    uint64_t bytes = (uint64_t)size.QuadPart;
    if (bytes == 0 || bytes > sizeLimit || bytes > (uint64_t)SIZE_MAX) {
        CloseHandle(handle);
        return bytes == 0 ? mapEmpty : mapTooLarge;
    }
    HANDLE mapping = CreateFileMappingW(handle, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapping == nullptr) {
        CloseHandle(handle);
        return mapFailed;
    }
    const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, (SIZE_T)bytes);
    if (view == nullptr) {
        CloseHandle(mapping);
        CloseHandle(handle);
        return mapFailed;
    }
    *file = MappedFile{(const char*)view, bytes, (uintptr_t)handle, (uintptr_t)mapping};
    return mapDone;
}

void unmapFile(MappedFile* file)
{
    if (file->data != nullptr) {
        UnmapViewOfFile(file->data);
        CloseHandle((HANDLE)file->mapping);
        CloseHandle((HANDLE)file->handle);
    }
    *file = MappedFile{nullptr, 0, 0, 0};
}

bool openFileForReading(const char* path, OpenedFile* file)
{
    *file = OpenedFile{0, 0, false};
    HANDLE handle = openForReading(path);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handle, &size)) {
        CloseHandle(handle);
        return false;
    }
    *file = OpenedFile{(uintptr_t)handle, (uint64_t)size.QuadPart, true};
    return true;
}

bool readFileRange(OpenedFile* file, uint64_t offset, void* buffer, size_t length)
{
    if (!file->open || offset > file->size || length > file->size - offset)
        return false;
    char* to = (char*)buffer;
    while (length > 0) {
        OVERLAPPED at = {};
        at.Offset = (DWORD)offset;
        at.OffsetHigh = (DWORD)(offset >> 32);
        DWORD piece = length > 0x40000000 ? 0x40000000 : (DWORD)length;
        DWORD got = 0;
        if (!ReadFile((HANDLE)file->handle, to, piece, &got, &at) || got == 0)
            return false;
        to += got;
        offset += got;
        length -= got;
    }
    return true;
}

void closeOpenedFile(OpenedFile* file)
{
    if (file->open)
        CloseHandle((HANDLE)file->handle);
    *file = OpenedFile{0, 0, false};
}

// Loads pending: a slim lock and a condition, both ready without initialisation.
static SRWLOCK pendingLock = SRWLOCK_INIT;
static CONDITION_VARIABLE pendingDone = CONDITION_VARIABLE_INIT;
static int pendingLoads = 0;

void addPendingOfflineLoads(int change)
{
    AcquireSRWLockExclusive(&pendingLock);
    pendingLoads += change;
    if (pendingLoads <= 0) {
        pendingLoads = 0;
        WakeAllConditionVariable(&pendingDone);
    }
    ReleaseSRWLockExclusive(&pendingLock);
}

void waitForPendingOfflineLoads(int milliseconds)
{
    const ULONGLONG until = GetTickCount64() + (ULONGLONG)milliseconds;
    AcquireSRWLockExclusive(&pendingLock);
    while (pendingLoads > 0) {
        const ULONGLONG now = GetTickCount64();
        if (now >= until || !SleepConditionVariableSRW(&pendingDone, &pendingLock, (DWORD)(until - now), 0))
            break;
    }
    ReleaseSRWLockExclusive(&pendingLock);
}
