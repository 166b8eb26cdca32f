// The offline dictionaries' folders: the user's own under the local application data, and the one
// the installer fills beside the program. Loaded at start and whenever the settings are saved, on a
// thread of its own so that neither the tray icon nor the settings wait for it.
#include <windows.h>
#include <shlobj.h>

#include "app/trayapp.h"
#include "core/offlinedict.h"
#include "core/offlinefiles.h"
#include "ui/widetext.h"

namespace {

const wchar_t userFolderTail[] = L"\\Lexitray\\Dictionaries";
const wchar_t programFolderTail[] = L"\\Dictionaries";
// Room for a folder's path in UTF-16, and the same path in UTF-8 (up to three bytes a unit).
const int folderUnits = MAX_PATH + 64;
const int folderBytes = 3 * folderUnits;
// The note about refused files names at most this many of them; it never outgrows its room.
const int refusalsShown = 8;
const int noteUnits = 4096;

bool isFolder(const wchar_t* path)
{
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Appends tail to path (folderUnits units) and keeps it in UTF-8 when the folder is there.
bool takeFolder(wchar_t* path, const wchar_t* tail, char* utf8)
{
    if (lstrlenW(path) + lstrlenW(tail) >= folderUnits)
        return false;
    lstrcatW(path, tail);
    if (!isFolder(path))
        return false;
    wideToUtf8(path, -1, utf8, folderBytes);
    return true;
}

void appendWide(wchar_t* note, const wchar_t* text)
{
    const int used = lstrlenW(note);
    lstrcpynW(note + used, text, noteUnits - used);
}

// One message for the databases left out that were not told before, naming each file. The list is read
// under the dictionaries' lock (another load may replace it); the message waits on no lock.
void tellRefusals()
{
    wchar_t note[noteUnits];
    wchar_t line[noteUnits];
    note[0] = L'\0';
    appendWide(note, L"Some offline dictionaries were left out:\n");
    int told = 0;
    lockOfflineFiles();
    const int count = offlineRefusalCount();
    for (int i = 0; i < count; i++) {
        if (offlineRefusalTold(i))
            continue;
        if (told++ < refusalsShown) {
            utf8ToWide(offlineRefusal(i), line, noteUnits);
            appendWide(note, L"\n");
            appendWide(note, line);
        }
    }
    markOfflineRefusalsTold();
    unlockOfflineFiles();
    if (told == 0)
        return;
    if (told > refusalsShown)
        appendWide(note, L"\n\u2026");
    MessageBoxW(nullptr, note, L"Lexitray", MB_OK | MB_ICONWARNING | MB_SETFOREGROUND);
}

// The folders one load reads, handed to its thread.
struct LoadRequest {
    char folders[2][folderBytes];
    int count;
};

DWORD WINAPI loadInBackground(void* parameter)
{
    LoadRequest* request = static_cast<LoadRequest*>(parameter);
    const char* found[2] = {request->folders[0], request->folders[1]};
    loadOfflineDictionaries(found, request->count);
    HeapFree(GetProcessHeap(), 0, request);
    tellRefusals();
    return 0;
}

}  // namespace

void loadUserDictionaries(HWND owner)
{
    (void)owner;  // the refusals are told from the loading thread, owned by no window
    LoadRequest* request =
        static_cast<LoadRequest*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(LoadRequest)));
    if (request == nullptr)
        return;
    char(*folders)[folderBytes] = request->folders;
    int count = 0;
    wchar_t path[folderUnits];
    if (SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path) == S_OK &&
        takeFolder(path, userFolderTail, folders[count]))
        count++;
    const DWORD length = GetModuleFileNameW(nullptr, path, folderUnits);
    if (length > 0 && length < static_cast<DWORD>(folderUnits)) {
        wchar_t* lastSlash = nullptr;
        for (wchar_t* at = path; *at != L'\0'; at++)
            if (*at == L'\\')
                lastSlash = at;
        if (lastSlash != nullptr) {
            *lastSlash = L'\0';
            if (takeFolder(path, programFolderTail, folders[count]))
                count++;
        }
    }
    request->count = count;
    // Look-ups wait for the load from now on, not only once the thread runs.
    announceOfflineLoad();
    HANDLE thread = CreateThread(nullptr, 0, loadInBackground, request, 0, nullptr);
    if (thread == nullptr) {
        // No thread: load here rather than not at all.
        loadInBackground(request);
        return;
    }
    CloseHandle(thread);
}
