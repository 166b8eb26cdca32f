// Random access to dictzip files: the header's chunk table is checked against the file once, then each read
// inflates (raw deflate, each chunk ends with a full flush) only the chunks it needs.
#include "core/dictzip.h"

#include <stdlib.h>
#include <string.h>
#include <zlib.h>

static const unsigned char gzipMagic0 = 0x1f;
static const unsigned char gzipMagic1 = 0x8b;
static const unsigned char deflateMethod = 8;
static const unsigned char flagHeaderCrc = 0x02;
static const unsigned char flagExtra = 0x04;
static const unsigned char flagName = 0x08;
static const unsigned char flagComment = 0x10;
static const size_t gzipFixedHeader = 10;
static const size_t gzipTrailer = 8;
// The "RA" subfield: version (1), chunk length, chunk count, then one compressed size per chunk.
static const size_t chunkFieldHeader = 6;
static const unsigned dictzipVersion = 1;
// The most header bytes a file name and comment may take; dictzip writes a short name.
static const size_t maxNameAndComment = 4096;
static const int rawDeflateWindow = -15;

uint64_t sourceSize(const DataSource* source)
{
    return source->memory != nullptr ? source->memorySize : source->file.size;
}

bool readSource(DataSource* source, uint64_t offset, void* buffer, size_t length)
{
    if (source->memory == nullptr)
        return readFileRange(&source->file, offset, buffer, length);
    if (offset > source->memorySize || length > source->memorySize - offset)
        return false;
    memcpy(buffer, source->memory + offset, length);
    return true;
}

static unsigned littleEndian16(const unsigned char* at) { return (unsigned)at[0] | (unsigned)at[1] << 8; }

static bool refuse(DictzipReader* reader, const char** problem, const char* why)
{
    closeDictzip(reader);
    *problem = why;
    return false;
}

// The offset just past a zero-terminated header text starting at offset, or 0 when none ends in time.
static uint64_t pastHeaderText(DataSource* source, uint64_t offset, uint64_t fileSize)
{
    unsigned char piece[256];
    size_t scanned = 0;
    while (scanned < maxNameAndComment && offset < fileSize) {
        size_t want = sizeof piece;
        if (fileSize - offset < want)
            want = (size_t)(fileSize - offset);
        if (!readSource(source, offset, piece, want))
            return 0;
        const void* zero = memchr(piece, 0, want);
        if (zero != nullptr)
            return offset + (uint64_t)((const unsigned char*)zero - piece) + 1;
        offset += want;
        scanned += want;
    }
    return 0;
}

bool openDictzip(DataSource* source, DictzipReader* reader, const char** problem)
{
    memset(reader, 0, sizeof *reader);
    uint64_t fileSize = sourceSize(source);
    unsigned char fixed[gzipFixedHeader + 2];
    if (fileSize < sizeof fixed + gzipTrailer || !readSource(source, 0, fixed, sizeof fixed))
        return refuse(reader, problem, "it is too short to be a dictzip file");
    if (fixed[0] != gzipMagic0 || fixed[1] != gzipMagic1 || fixed[2] != deflateMethod)
        return refuse(reader, problem, "it is not a gzip file");
    if (!(fixed[3] & flagExtra))
        return refuse(reader, problem, "it has no dictzip chunk table");
    size_t extraLength = littleEndian16(fixed + gzipFixedHeader);
    uint64_t extraStart = sizeof fixed;
    if (extraLength > fileSize - extraStart)
        return refuse(reader, problem, "its header runs past the end of the file");
    unsigned char* extra = (unsigned char*)malloc(extraLength + 1);
    if (extra == nullptr || !readSource(source, extraStart, extra, extraLength)) {
        free(extra);
        return refuse(reader, problem, "its header cannot be read");
    }
    // Find the RA subfield among the extra field's subfields.
    const unsigned char* field = nullptr;
    size_t fieldLength = 0;
    for (size_t at = 0; at + 4 <= extraLength;) {
        size_t length = littleEndian16(extra + at + 2);
        if (length > extraLength - at - 4)
            break;
        if (extra[at] == 'R' && extra[at + 1] == 'A') {
            field = extra + at + 4;
            fieldLength = length;
            break;
        }
        at += 4 + length;
    }
    const char* why = nullptr;
    if (field == nullptr || fieldLength < chunkFieldHeader)
        why = "it has no dictzip chunk table";
    else if (littleEndian16(field) != dictzipVersion)
        why = "its chunk table has an unknown version";
    else if (littleEndian16(field + 2) == 0)
        why = "its chunk table gives a chunk length of 0";
    else if (littleEndian16(field + 4) == 0)
        why = "its chunk table lists no chunks";
    else if (fieldLength < chunkFieldHeader + 2 * (size_t)littleEndian16(field + 4))
        why = "its chunk table lists more chunks than it holds";
    if (why != nullptr) {
        free(extra);
        return refuse(reader, problem, why);
    }
    reader->chunkLength = littleEndian16(field + 2);
    reader->chunkCount = littleEndian16(field + 4);
    reader->chunkStarts = (uint64_t*)malloc(((size_t)reader->chunkCount + 1) * sizeof(uint64_t));
    if (reader->chunkStarts == nullptr) {
        free(extra);
        return refuse(reader, problem, "there is not enough memory for its chunk table");
    }
    uint64_t dataStart = extraStart + extraLength;
    if ((fixed[3] & flagName) && (dataStart = pastHeaderText(source, dataStart, fileSize)) == 0)
        why = "its header runs past the end of the file";
    if (why == nullptr && (fixed[3] & flagComment) &&
        (dataStart = pastHeaderText(source, dataStart, fileSize)) == 0)
        why = "its header runs past the end of the file";
    if (why == nullptr && (fixed[3] & flagHeaderCrc))
        dataStart += 2;
    uint64_t at = dataStart;
    for (uint32_t i = 0; why == nullptr && i < reader->chunkCount; i++) {
        reader->chunkStarts[i] = at;
        unsigned size = littleEndian16(field + chunkFieldHeader + 2 * (size_t)i);
        if (size == 0)
            why = "its chunk table lists an empty chunk";
        at += size;
    }
    free(extra);
    reader->chunkStarts[reader->chunkCount] = at;
    if (why == nullptr && (at > fileSize || fileSize - at < gzipTrailer))
        why = "its chunks run past the end of the file (it may be cut short)";
    if (why != nullptr)
        return refuse(reader, problem, why);
    // The trailer gives the inflated size modulo 2^32; the chunk table bounds it to less than one chunk.
    unsigned char trailer[4];
    if (!readSource(source, fileSize - 4, trailer, sizeof trailer))
        return refuse(reader, problem, "its end cannot be read");
    uint64_t storedSize = (uint64_t)trailer[0] | (uint64_t)trailer[1] << 8 | (uint64_t)trailer[2] << 16 |
                          (uint64_t)trailer[3] << 24;
    uint64_t most = (uint64_t)reader->chunkCount * reader->chunkLength;
    uint64_t least = most - reader->chunkLength + 1;
    uint64_t length = (least & ~(uint64_t)0xffffffff) | storedSize;
    if (length < least)
        length += (uint64_t)1 << 32;
    if (length < least || length > most)
        return refuse(reader, problem, "its size does not agree with its chunk table");
    reader->length = length;
    return true;
}

// The inflated chunk, from the cache or inflated into the slot used least recently; null when it
// does not inflate to its size.
static const unsigned char* inflatedChunk(DataSource* source, DictzipReader* reader, uint32_t chunk,
                                          size_t* inflatedLength)
{
    for (int slot = 0; slot < dictzipCacheSlots; slot++) {
        if (reader->cached[slot] != nullptr && reader->cachedChunk[slot] == chunk) {
            *inflatedLength = reader->cachedLength[slot];
            return reader->cached[slot];
        }
    }
    int slot = reader->nextSlot;
    reader->nextSlot = (slot + 1) % dictzipCacheSlots;
    if (reader->cached[slot] == nullptr) {
        reader->cached[slot] = (unsigned char*)malloc(reader->chunkLength);
        if (reader->cached[slot] == nullptr)
            return nullptr;
    }
    // Mark the slot empty until it holds the new chunk whole.
    reader->cachedChunk[slot] = UINT32_MAX;
    size_t expected = reader->chunkLength;
    if (chunk + 1 == reader->chunkCount)
        expected = (size_t)(reader->length - (uint64_t)chunk * reader->chunkLength);
    size_t storedLength = (size_t)(reader->chunkStarts[chunk + 1] - reader->chunkStarts[chunk]);
    unsigned char* stored = (unsigned char*)malloc(storedLength);
    if (stored == nullptr)
        return nullptr;
    bool good = readSource(source, reader->chunkStarts[chunk], stored, storedLength);
    z_stream stream;
    memset(&stream, 0, sizeof stream);
    if (good && inflateInit2(&stream, rawDeflateWindow) == Z_OK) {
        stream.next_in = stored;
        stream.avail_in = (uInt)storedLength;
        stream.next_out = reader->cached[slot];
        stream.avail_out = (uInt)reader->chunkLength;
        int result = inflate(&stream, Z_SYNC_FLUSH);
        good = (result == Z_OK || result == Z_STREAM_END) && stream.total_out == expected;
        inflateEnd(&stream);
    } else {
        good = false;
    }
    free(stored);
    if (!good)
        return nullptr;
    reader->cachedChunk[slot] = chunk;
    reader->cachedLength[slot] = expected;
    *inflatedLength = expected;
    return reader->cached[slot];
}

bool readDictzipRange(DataSource* source, DictzipReader* reader, uint64_t offset, char* buffer, size_t length)
{
    if (reader->chunkStarts == nullptr || offset > reader->length || length > reader->length - offset)
        return false;
    while (length > 0) {
        uint32_t chunk = (uint32_t)(offset / reader->chunkLength);
        size_t within = (size_t)(offset % reader->chunkLength);
        size_t inflatedLength = 0;
        const unsigned char* data = inflatedChunk(source, reader, chunk, &inflatedLength);
        if (data == nullptr || within >= inflatedLength)
            return false;
        size_t piece = inflatedLength - within;
        if (piece > length)
            piece = length;
        memcpy(buffer, data + within, piece);
        buffer += piece;
        offset += piece;
        length -= piece;
    }
    return true;
}

void closeDictzip(DictzipReader* reader)
{
    free(reader->chunkStarts);
    for (int slot = 0; slot < dictzipCacheSlots; slot++)
        free(reader->cached[slot]);
    memset(reader, 0, sizeof *reader);
}
