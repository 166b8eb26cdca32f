// The offline dictionaries' file calls on POSIX: opendir, mmap and pread.
#include "core/offlinefiles.h"

#include <dirent.h>
#include <pthread.h>
#include <fcntl.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>

// The regular files directly in folder whose names end with suffix.
static bool listEnding(const char* folder, const char* suffix, IndexFileFound found, void* context)
{
    size_t suffixLength = strlen(suffix);
    DIR* dir = opendir(folder);
    if (dir == nullptr)
        return false;
    while (struct dirent* entry = readdir(dir)) {
        size_t length = strlen(entry->d_name);
        if (length <= suffixLength || strcmp(entry->d_name + length - suffixLength, suffix) != 0)
            continue;
        std::string path = std::string(folder) + "/" + entry->d_name;
        if (!offlineFileExists(path.c_str()))
            continue;
        std::string name(entry->d_name, length - suffixLength);
        found(path.c_str(), name.c_str(), context);
    }
    closedir(dir);
    return true;
}

bool listIndexFiles(const char* folder, IndexFileFound found, void* context)
{
    return listEnding(folder, ".index", found, context);
}

bool listInfoFiles(const char* folder, IndexFileFound found, void* context)
{
    return listEnding(folder, ".ifo", found, context);
}

bool offlineFileExists(const char* path)
{
    struct stat status;
    return stat(path, &status) == 0 && S_ISREG(status.st_mode);
}

bool offlineFileStamp(const char* path, FileStamp* stamp)
{
    struct stat status;
    if (stat(path, &status) != 0 || !S_ISREG(status.st_mode))
        return false;
    stamp->size = (uint64_t)status.st_size;
    stamp->changed = (uint64_t)status.st_mtim.tv_sec * 1000000000u + (uint64_t)status.st_mtim.tv_nsec;
    return true;
}

MapOutcome mapFileReadOnly(const char* path, uint64_t sizeLimit, MappedFile* file)
{
    *file = MappedFile{nullptr, 0, 0, 0};
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return mapFailed;
    struct stat status;
    if (fstat(fd, &status) != 0) {
        close(fd);
        return mapFailed;
    }
    uint64_t size = (uint64_t)status.st_size;
    if (size == 0 || size > sizeLimit || size > (uint64_t)SIZE_MAX) {
        close(fd);
        return size == 0 ? mapEmpty : mapTooLarge;
    }
    void* data = mmap(nullptr, (size_t)size, PROT_READ, MAP_SHARED, fd, 0);
    // The mapping stays valid after the descriptor is closed.
    close(fd);
    if (data == MAP_FAILED)
        return mapFailed;
    file->data = (const char*)data;
    file->size = size;
    return mapDone;
}

void unmapFile(MappedFile* file)
{
    if (file->data != nullptr)
        munmap((void*)file->data, (size_t)file->size);
    *file = MappedFile{nullptr, 0, 0, 0};
}

bool openFileForReading(const char* path, OpenedFile* file)
{
    *file = OpenedFile{0, 0, false};
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat status;
    if (fstat(fd, &status) != 0) {
        close(fd);
        return false;
    }
    *file = OpenedFile{(uintptr_t)fd, (uint64_t)status.st_size, true};
    return true;
}

bool readFileRange(OpenedFile* file, uint64_t offset, void* buffer, size_t length)
{
    if (!file->open || offset > file->size || length > file->size - offset)
        return false;
    char* to = (char*)buffer;
    while (length > 0) {
        ssize_t got = pread((int)file->handle, to, length, (off_t)offset);
        if (got <= 0)
            return false;
        to += got;
        offset += (uint64_t)got;
        length -= (size_t)got;
    }
    return true;
}

void closeOpenedFile(OpenedFile* file)
{
    if (file->open)
        close((int)file->handle);
    *file = OpenedFile{0, 0, false};
}

static pthread_mutex_t offlineMutex = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;

void lockOfflineFiles() { pthread_mutex_lock(&offlineMutex); }

void unlockOfflineFiles() { pthread_mutex_unlock(&offlineMutex); }

static pthread_mutex_t pendingMutex = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t pendingDone = PTHREAD_COND_INITIALIZER;
static int pendingLoads = 0;

void addPendingOfflineLoads(int change)
{
    pthread_mutex_lock(&pendingMutex);
    pendingLoads += change;
    if (pendingLoads <= 0) {
        pendingLoads = 0;
        pthread_cond_broadcast(&pendingDone);
    }
    pthread_mutex_unlock(&pendingMutex);
}

void waitForPendingOfflineLoads(int milliseconds)
{
    struct timespec until;
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_sec += milliseconds / 1000;
    until.tv_nsec += (long)(milliseconds % 1000) * 1000000;
    if (until.tv_nsec >= 1000000000) {
        until.tv_sec++;
        until.tv_nsec -= 1000000000;
    }
    pthread_mutex_lock(&pendingMutex);
    while (pendingLoads > 0 && pthread_cond_timedwait(&pendingDone, &pendingMutex, &until) == 0) {
    }
    pthread_mutex_unlock(&pendingMutex);
}
