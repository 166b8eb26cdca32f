// The few file calls the offline dictionaries need: list a folder's index files, map one read-only,
// read byte ranges of another. offlinefiles_win.cpp implements them on Win32, offlinefiles_posix.cpp on
// POSIX.
#pragma once
#include <stddef.h>
#include <stdint.h>

// Called for each NAME.index file of a folder with its full path (UTF-8) and its name without ".index".
typedef void (*IndexFileFound)(const char* path, const char* name, void* context);
// Lists the NAME.index files directly in folder (UTF-8); false when the folder cannot be read.
bool listIndexFiles(const char* folder, IndexFileFound found, void* context);
// The same for the NAME.ifo files (StarDict dictionaries), name without ".ifo".
bool listInfoFiles(const char* folder, IndexFileFound found, void* context);
// Whether path names an existing regular file.
bool offlineFileExists(const char* path);
// A regular file's size and time of last change (in the system's units); false when there is none.
struct FileStamp {
    uint64_t size;
    uint64_t changed;
};
bool offlineFileStamp(const char* path, FileStamp* stamp);

// A file mapped read-only: size bytes at data, never written. handle and mapping belong to the seam.
struct MappedFile {
    const char* data;
    uint64_t size;
    uintptr_t handle;
    uintptr_t mapping;
};
// How mapping a file ended.
enum MapOutcome { mapDone, mapFailed, mapEmpty, mapTooLarge };
// Maps the file at path; files of more than sizeLimit bytes are not mapped (mapTooLarge), nor empty ones.
MapOutcome mapFileReadOnly(const char* path, uint64_t sizeLimit, MappedFile* file);
void unmapFile(MappedFile* file);

// A file kept open for reading ranges at any offset.
struct OpenedFile {
    uintptr_t handle;
    uint64_t size;
    bool open;
};
bool openFileForReading(const char* path, OpenedFile* file);
// Reads exactly length bytes at offset into buffer; false when the file has fewer or the read fails.
bool readFileRange(OpenedFile* file, uint64_t offset, void* buffer, size_t length);
void closeOpenedFile(OpenedFile* file);

// The lock every use of the offline dictionaries holds (a look-up's thread reads them while the window
// thread may load them anew); the thread that holds it may take it again.
void lockOfflineFiles();
void unlockOfflineFiles();

// Loads announced and not yet finished: add 1 when one is about to start on a thread of its own, -1 when
// it ends; a wait returns once none is pending or after milliseconds.
void addPendingOfflineLoads(int change);
void waitForPendingOfflineLoads(int milliseconds);
