// Recent Words kept in %LOCALAPPDATA%\Lexitray\history.txt: read at start, written whenever the list
// changes, each time whole into a new file that then takes the old one's place.
#include <windows.h>
#include <shlobj.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "app/keptwords.h"
#include "config/config.h"
#include "core/history.h"
#include "core/userinterface.h"
#include "ui/lookupdialogs.h"
#include "ui/lookupthread.h"

namespace {

const wchar_t folderTail[] = L"\\Lexitray";
const wchar_t fileTail[] = L"\\history.txt";
const wchar_t freshSuffix[] = L".new";
const int pathUnits = MAX_PATH + 32;
const char unreadMessage[] = "Lexitray could not read your recent words from history.txt: %s.\n"
                             "Recent Words starts empty.";
const char unopenedText[] = "it could not be opened";

// What the file holds as far as this run knows; a list that formats the same is not written again.
char writtenFile[historyFileSize];
size_t writtenLength;
bool fileKnown;

// The folder, the file and the new file that replaces it; false when the folder is unknown or a
// path would not fit.
bool historyPaths(wchar_t* folder, wchar_t* file, wchar_t* fresh)
{
    wchar_t base[MAX_PATH];
    if (SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, base) != S_OK)
        return false;
    int lengths[] = {_snwprintf(folder, pathUnits, L"%ls%ls", base, folderTail),
                     _snwprintf(file, pathUnits, L"%ls%ls%ls", base, folderTail, fileTail),
                     _snwprintf(fresh, pathUnits, L"%ls%ls%ls%ls", base, folderTail, fileTail, freshSuffix)};
    for (int length : lengths)
        if (length < 0 || length >= pathUnits)
            return false;
    return true;
}

void knowFile(const char* bytes, size_t length)
{
    memcpy(writtenFile, bytes, length);
    writtenLength = length;
    fileKnown = true;
}

// Writes the whole file anew: a cut write or a crash leaves the old file as it was.
bool writeHistory(const char* bytes, size_t length)
{
    wchar_t folder[pathUnits], file[pathUnits], fresh[pathUnits];
    if (!historyPaths(folder, file, fresh))
        return false;
    CreateDirectoryW(folder, nullptr);  // it is there already, or the file cannot be made below
    HANDLE handle =
        CreateFileW(fresh, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    DWORD done = 0;
    const bool whole = WriteFile(handle, bytes, static_cast<DWORD>(length), &done, nullptr) &&
                       done == length && FlushFileBuffers(handle);
    CloseHandle(handle);
    if (whole && MoveFileExW(fresh, file, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileW(fresh);
    return false;
}

// The list as the file holds it, written when it differs from what the file holds (always, when
// asked to); nothing while the setting is off. A failed write is tried again at the next change.
void saveKeptWords(const RecentWords& recent, bool always)
{
    if (!keepWordsOn())
        return;
    KeptWord words[recentWordsDepth];
    const int count = keepRecentWords(recent, words, recentWordsDepth);
    char bytes[historyFileSize];
    const size_t length = formatHistoryFile(words, count, bytes, sizeof bytes);
    if (!always && fileKnown && length == writtenLength && memcmp(bytes, writtenFile, length) == 0)
        return;
    if (writeHistory(bytes, length))
        knowFile(bytes, length);
}

void onRecentWordsChanged(const RecentWords& recent) { saveKeptWords(recent, false); }

// The file's bytes (one more than it may hold, to tell a larger one) into a new buffer to free();
// null with *missing set when there is no file, null alone when it cannot be read.
char* readHistory(size_t* length, bool* missing)
{
    *missing = false;
    wchar_t folder[pathUnits], file[pathUnits], fresh[pathUnits];
    if (!historyPaths(folder, file, fresh)) {
        *missing = true;
        return nullptr;
    }
    HANDLE handle = CreateFileW(file, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        *missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        return nullptr;
    }
    const size_t capacity = historyReadLimit + 1;
    char* bytes = static_cast<char*>(malloc(capacity));
    *length = 0;
    bool failed = bytes == nullptr;
    while (!failed && *length < capacity) {
        DWORD got = 0;
        if (!ReadFile(handle, bytes + *length, static_cast<DWORD>(capacity - *length), &got, nullptr))
            failed = true;
        else if (got == 0)
            break;
        *length += got;
    }
    CloseHandle(handle);
    if (failed) {
        free(bytes);
        return nullptr;
    }
    return bytes;
}

}  // namespace

void loadKeptWords()
{
    recentWords.changed = onRecentWordsChanged;
    if (!keepWordsOn())
        return;
    // Until the list changes, the file stays as it is, whatever it holds.
    char empty[historyFileSize];
    knowFile(empty, formatHistoryFile(nullptr, 0, empty, sizeof empty));
    size_t length = 0;
    bool missing = false;
    char* bytes = readHistory(&length, &missing);
    if (bytes == nullptr) {
        if (!missing)
            showMessage(nullptr, unreadMessage, unopenedText);
        return;
    }
    KeptWord words[recentWordsDepth];
    int count = 0;
    const HistoryFault fault = parseHistoryFile(bytes, length, words, recentWordsDepth, &count);
    free(bytes);
    if (fault != historyRead) {
        showMessage(nullptr, unreadMessage, historyFaultText(fault));
        return;
    }
    // Online words are looked up again on the server the settings name then.
    restoreRecentWords(&recentWords, words, count, configuredServer);
    char file[historyFileSize];
    knowFile(file, formatHistoryFile(words, count, file, sizeof file));
}

void clearKeptWords()
{
    releaseRecentWords(&recentWords);
    saveKeptWords(recentWords, true);
}
