// Reading dictionary data at random: a plain .dict, or a .dict.dz (gzip whose "RA" extra field lists its
// independently inflatable chunks), from an open file or from bytes in memory.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "core/offlinefiles.h"

// Where the stored bytes come from: memory when memory is set, else the open file.
struct DataSource {
    const unsigned char* memory;
    uint64_t memorySize;
    OpenedFile file;
};
uint64_t sourceSize(const DataSource* source);
bool readSource(DataSource* source, uint64_t offset, void* buffer, size_t length);

// A dictzip file's chunk table and the last two chunks inflated.
const int dictzipCacheSlots = 2;
struct DictzipReader {
    uint32_t chunkLength;  // bytes every chunk but the last inflates to
    uint32_t chunkCount;
    uint64_t* chunkStarts;  // chunkCount + 1 offsets into the file: chunk i is [start[i], start[i + 1])
    uint64_t length;        // the inflated size of the whole data
    unsigned char* cached[dictzipCacheSlots];
    uint32_t cachedChunk[dictzipCacheSlots];
    size_t cachedLength[dictzipCacheSlots];
    int nextSlot;
};

// Reads and checks the header and chunk table; on failure *problem says what is wrong in plain words and
// the reader holds nothing.
bool openDictzip(DataSource* source, DictzipReader* reader, const char** problem);
// Copies length bytes of the inflated data from offset, inflating only the chunks the range lies in.
// False when the range is outside the data or a chunk does not inflate to its size.
bool readDictzipRange(DataSource* source, DictzipReader* reader, uint64_t offset, char* buffer,
                      size_t length);
void closeDictzip(DictzipReader* reader);
