// The offline dictionaries' file calls on Win32: wide names at this boundary, file mappings, positioned
// reads.
#include "core/offlinefiles.h"

#include <windows.h>

#include <string>

// UTF-8 to UTF-16 and back, so that names in any code page work.
static std::wstring widened(const char* text)
{
    int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring wide((size_t)length, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, &wide[0], length);
    wide.resize((size_t)length - 1);
    return wide;
}

static std::string narrowed(const wchar_t* text)
{
    int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return std::string();
    std::string narrow((size_t)length, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &narrow[0], length, nullptr, nullptr);
    narrow.resize((size_t)length - 1);
    return narrow;
}

static const wchar_t indexSuffix[] = L".index";
static const size_t indexSuffixLength = 6;

bool listIndexFiles(const char* folder, IndexFileFound found, void* context)
{
    std::wstring pattern = widened(folder) + L"\\*.index";
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(pattern.c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        // The pattern also matches short-name aliases ("x.indexold"): keep only names that end so.
        std::wstring name = entry.cFileName;
        if (name.size() <= indexSuffixLength ||
            _wcsicmp(name.c_str() + name.size() - indexSuffixLength, indexSuffix) != 0)
            continue;
        std::string path = std::string(folder) + "\\" + narrowed(entry.cFileName);
        name.resize(name.size() - indexSuffixLength);
        found(path.c_str(), narrowed(name.c_str()).c_str(), context);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return true;
}

bool offlineFileExists(const char* path)
{
    DWORD attributes = GetFileAttributesW(widened(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

static HANDLE openForReading(const char* path)
{
    return CreateFileW(widened(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
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
