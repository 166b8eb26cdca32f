// StarDict dictionaries: the .ifo read and checked, every .idx and .syn entry checked against the files
// once, headwords found the way sdcv finds them, and definitions read as plain text.
#include "core/stardict.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include "core/offlinechars.h"
#include "core/offlinereader.h"

const StardictLimits stardictDefaultLimits = {1024ull * 1024 * 1024, 1024 * 1024, 64 * 1024 * 1024};
StardictLimits stardictLimits = stardictDefaultLimits;

static const char ifoMagic[] = "StarDict's dict ifo file";
// A headword is shorter than this many bytes.
static const size_t maxHeadwordBytes = 256;
static const size_t synonymTail = 4;
static const int gzipWindow = 16 + MAX_WBITS;
// The most distinct letters of a word lev tries beyond a-z.
static const int maxExtraLetters = 32;

// ---- Text helpers

// Ranges where upper and lower case alternate, the upper case first when upperEven is set.
struct AlternatingCase {
    uint32_t first, last;
    bool upperEven;
};
static const AlternatingCase alternatingCases[] = {
    {0x0100, 0x012F, true},  {0x0132, 0x0137, true}, {0x0139, 0x0148, false}, {0x014A, 0x0177, true},
    {0x0179, 0x017E, false}, {0x0460, 0x0481, true}, {0x048A, 0x04BF, true},  {0x04C1, 0x04CE, false},
    {0x04D0, 0x04FF, true},  {0x1E00, 0x1E95, true}, {0x1EA0, 0x1EFF, true},
};

// The case of the letters of the scripts dictionaries mostly use (Latin, Greek, Cyrillic); others stay.
static uint32_t changeCase(uint32_t c, bool toUpper)
{
    if (c < 0x80) {
        if (toUpper)
            return c >= 'a' && c <= 'z' ? c - 32 : c;
        return c >= 'A' && c <= 'Z' ? c + 32 : c;
    }
    struct Block {
        uint32_t upperFirst, upperLast, shift;
    };
    static const Block blocks[] = {
        {0xC0, 0xDE, 32}, {0x391, 0x3AB, 32}, {0x410, 0x42F, 32}, {0x400, 0x40F, 80}};
    if (c == 0xD7 || c == 0xF7 || c == 0x3A2)
        return c;
    if (toUpper && c == 0x3C2)
        return 0x3A3;
    for (const Block& b : blocks) {
        if (!toUpper && c >= b.upperFirst && c <= b.upperLast)
            return c + b.shift;
        if (toUpper && c >= b.upperFirst + b.shift && c <= b.upperLast + b.shift)
            return c - b.shift;
    }
    // Greek letters with tonos.
    static const Block tonos[] = {
        {0x386, 0x386, 38}, {0x388, 0x38A, 37}, {0x38C, 0x38C, 64}, {0x38E, 0x38F, 63}};
    for (const Block& b : tonos) {
        if (!toUpper && c >= b.upperFirst && c <= b.upperLast)
            return c + b.shift;
        if (toUpper && c >= b.upperFirst + b.shift && c <= b.upperLast + b.shift)
            return c - b.shift;
    }
    if (toUpper && c == 0xFF)
        return 0x178;
    if (!toUpper && c == 0x178)
        return 0xFF;
    for (const AlternatingCase& range : alternatingCases) {
        if (c < range.first || c > range.last)
            continue;
        bool isUpper = ((c & 1) == 0) == range.upperEven;
        if (isUpper == toUpper)
            return c;
        return toUpper ? (range.upperEven ? c - 1 : c + 1) : (range.upperEven ? c + 1 : c - 1);
    }
    return c;
}

// The word with its case changed: all lower, all upper, or the first character upper and the rest lower.
// Bytes that are not UTF-8 stay. out has room for length * 2 bytes (no case change more than doubles a
// character here); returns the length written.
enum CaseChange { caseLower, caseUpper, caseCapitalised };
static size_t changeWordCase(const char* word, size_t length, CaseChange change, char* out)
{
    size_t written = 0;
    bool first = true;
    for (size_t at = 0; at < length;) {
        uint32_t c;
        size_t size = decodeUtf8((const unsigned char*)word + at, length - at, &c);
        if (size == 0) {
            out[written++] = word[at++];
        } else {
            bool upper = change == caseUpper || (change == caseCapitalised && first);
            uint32_t changed = changeCase(c, upper);
            // A sigma ending a word (at the end, or before a space or punctuation) is the final sigma.
            size_t next = at + size;
            bool wordEnds =
                next == length || ((unsigned char)word[next] < 0x80 && !isalnum((unsigned char)word[next]));
            if (changed == 0x3C3 && !first && wordEnds)
                changed = 0x3C2;
            written += encodeUtf8(changed, out + written);
            at += size;
        }
        first = false;
    }
    return written;
}

// A text that grows as parts are appended; failed once memory ran out.
struct GrowingText {
    char* data;
    size_t length;
    size_t capacity;
    bool failed;
};

static char* appendRoom(GrowingText* text, size_t room)
{
    if (text->failed)
        return nullptr;
    if (room >= ((size_t)-1 - text->length) / 2) {
        text->failed = true;
        return nullptr;
    }
    if (text->capacity - text->length <= room) {
        size_t capacity = (text->length + room) * 2;
        char* grown = (char*)realloc(text->data, capacity);
        if (grown == nullptr) {
            text->failed = true;
            return nullptr;
        }
        text->data = grown;
        text->capacity = capacity;
    }
    return text->data + text->length;
}

static void appendBytes(GrowingText* text, const char* bytes, size_t length)
{
    char* at = appendRoom(text, length);
    if (at == nullptr)
        return;
    memcpy(at, bytes, length);
    text->length += length;
}

// ---- Markup

static bool tagNamed(const char* name, const char* const* names, size_t count)
{
    for (size_t i = 0; i < count; i++) {
        if (strcmp(name, names[i]) == 0)
            return true;
    }
    return false;
}

// Decodes the entity at text[0] ('&'); its length, or 0 when it is none this knows. The character goes to
// out (at most 4 bytes, never more than the entity's own length).
static size_t decodeEntity(const char* text, size_t length, char* out, size_t* written)
{
    const size_t longestEntity = 12;
    const char* semicolon = (const char*)memchr(text, ';', length < longestEntity ? length : longestEntity);
    if (semicolon == nullptr)
        return 0;
    size_t entityLength = (size_t)(semicolon - text) + 1;
    struct Named {
        const char* name;
        const char* text;
    };
    static const Named named[] = {{"&lt;", "<"},
                                  {"&gt;", ">"},
                                  {"&amp;", "&"},
                                  {"&quot;", "\""},
                                  {"&apos;", "'"},
                                  {"&nbsp;", "\xC2\xA0"},
                                  {"&ndash;", "\xE2\x80\x93"},
                                  {"&mdash;", "\xE2\x80\x94"}};
    for (const Named& entity : named) {
        if (strlen(entity.name) == entityLength && memcmp(text, entity.name, entityLength) == 0) {
            *written = strlen(entity.text);
            memcpy(out, entity.text, *written);
            return entityLength;
        }
    }
    if (entityLength < 4 || text[1] != '#')
        return 0;
    bool hex = text[2] == 'x' || text[2] == 'X';
    uint32_t value = 0;
    size_t digits = 0;
    for (size_t i = hex ? 3 : 2; i + 1 < entityLength; i++, digits++) {
        char c = text[i];
        uint32_t digit;
        if (c >= '0' && c <= '9')
            digit = (uint32_t)(c - '0');
        else if (hex && ((c | 32) >= 'a' && (c | 32) <= 'f'))
            digit = (uint32_t)((c | 32) - 'a' + 10);
        else
            return 0;
        value = value * (hex ? 16 : 10) + digit;
        if (value > 0x10FFFF)
            return 0;
    }
    if (digits == 0 || value == 0 || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *written = encodeUtf8(value, out);
    return entityLength;
}

size_t stripMarkup(const char* text, size_t length, bool html, char* out)
{
    static const char* const blockTags[] = {"p", "div", "li", "tr", "h1", "h2", "h3", "h4", "blockquote"};
    static const char* const hiddenTags[] = {"script", "style"};
    size_t written = 0;
    bool hidden = false;
    for (size_t at = 0; at < length;) {
        char c = text[at];
        if (c == '<') {
            const char* close = (const char*)memchr(text + at, '>', length - at);
            if (close != nullptr) {
                size_t tagEnd = (size_t)(close - text);
                size_t from = at + 1;
                bool closing = from < tagEnd && text[from] == '/';
                if (closing)
                    from++;
                char name[16];
                size_t nameLength = 0;
                for (; from < tagEnd && nameLength + 1 < sizeof name; from++) {
                    char letter = text[from];
                    if (letter >= 'A' && letter <= 'Z')
                        letter = (char)(letter + 32);
                    if (!((letter >= 'a' && letter <= 'z') || (letter >= '0' && letter <= '9')))
                        break;
                    name[nameLength++] = letter;
                }
                name[nameLength] = '\0';
                bool atLineStart = written == 0 || out[written - 1] == '\n';
                if (strcmp(name, "br") == 0)
                    out[written++] = '\n';
                else if (html && tagNamed(name, hiddenTags, 2))
                    hidden = !closing;
                else if (html && !atLineStart &&
                         tagNamed(name, blockTags, sizeof blockTags / sizeof *blockTags))
                    out[written++] = '\n';
                at = tagEnd + 1;
                continue;
            }
        }
        if (hidden) {
            at++;
            continue;
        }
        if (c == '&') {
            size_t decoded = 0;
            size_t used = decodeEntity(text + at, length - at, out + written, &decoded);
            if (used > 0) {
                written += decoded;
                at += used;
                continue;
            }
        }
        // HTML breaks lines only where its tags say.
        out[written++] = html && (c == '\n' || c == '\r' || c == '\t') ? ' ' : c;
        at++;
    }
    out[written] = '\0';
    return written;
}

// ---- Opening

static uint32_t bigEndian32(const char* at)
{
    const unsigned char* u = (const unsigned char*)at;
    return (uint32_t)u[0] << 24 | (uint32_t)u[1] << 16 | (uint32_t)u[2] << 8 | u[3];
}

// A decimal number of at most max; false when the text is anything else.
static bool parseNumber(const char* text, size_t length, uint64_t max, uint64_t* value)
{
    const size_t maxDigits = 19;
    if (length == 0 || length > maxDigits)
        return false;
    uint64_t result = 0;
    for (size_t i = 0; i < length; i++) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        result = result * 10 + (uint64_t)(text[i] - '0');
    }
    if (result > max)
        return false;
    *value = result;
    return true;
}

// What the .ifo says.
struct InfoFields {
    const char* version;
    size_t versionLength;
    const char* bookname;
    size_t booknameLength;
    const char* description;
    size_t descriptionLength;
    const char* typeSequence;
    size_t typeSequenceLength;
    uint64_t wordCount, synonymCount, idxFileSize, offsetBits;
    bool hasWordCount, hasSynonymCount, hasIdxFileSize;
};

static const char* readInfo(const char* text, size_t length, InfoFields* info)
{
    memset(info, 0, sizeof *info);
    info->offsetBits = 32;
    const size_t magicLength = sizeof ifoMagic - 1;
    const char bom[] = "\xEF\xBB\xBF";
    size_t at = 0;
    if (length >= 3 && memcmp(text, bom, 3) == 0)
        at = 3;
    if (length - at < magicLength || memcmp(text + at, ifoMagic, magicLength) != 0)
        return "the .ifo file does not begin with StarDict's first line";
    at += magicLength;
    if (at < length && text[at] == '\r')
        at++;
    if (at >= length || text[at] != '\n')
        return "the .ifo file does not begin with StarDict's first line";
    while (at < length) {
        const char* newline = (const char*)memchr(text + at, '\n', length - at);
        size_t end = newline != nullptr ? (size_t)(newline - text) : length;
        size_t lineEnd = end > at && text[end - 1] == '\r' ? end - 1 : end;
        const char* line = text + at;
        size_t lineLength = lineEnd - at;
        at = newline != nullptr ? end + 1 : length;
        const char* equals = (const char*)memchr(line, '=', lineLength);
        if (equals == nullptr)
            continue;
        size_t keyLength = (size_t)(equals - line);
        const char* value = equals + 1;
        size_t valueLength = lineLength - keyLength - 1;
        if (memchr(value, '\0', valueLength) != nullptr)
            return "the .ifo file holds a zero byte";
        auto is = [&](const char* key) {
            return keyLength == strlen(key) && memcmp(line, key, keyLength) == 0;
        };
        if (is("version")) {
            info->version = value;
            info->versionLength = valueLength;
        } else if (is("bookname")) {
            info->bookname = value;
            info->booknameLength = valueLength;
        } else if (is("description")) {
            info->description = value;
            info->descriptionLength = valueLength;
        } else if (is("sametypesequence")) {
            info->typeSequence = value;
            info->typeSequenceLength = valueLength;
        } else if (is("wordcount")) {
            if (!parseNumber(value, valueLength, UINT32_MAX, &info->wordCount))
                return "the .ifo file's wordcount is not a number";
            info->hasWordCount = true;
        } else if (is("synwordcount")) {
            if (!parseNumber(value, valueLength, UINT32_MAX, &info->synonymCount))
                return "the .ifo file's synwordcount is not a number";
            info->hasSynonymCount = true;
        } else if (is("idxfilesize")) {
            if (!parseNumber(value, valueLength, UINT64_MAX / 2, &info->idxFileSize))
                return "the .ifo file's idxfilesize is not a number";
            info->hasIdxFileSize = true;
        } else if (is("idxoffsetbits")) {
            if (!parseNumber(value, valueLength, 64, &info->offsetBits) ||
                (info->offsetBits != 32 && info->offsetBits != 64))
                return "the .ifo file's idxoffsetbits is neither 32 nor 64";
        }
    }
    bool version3 = info->versionLength == 5 && memcmp(info->version, "3.0.0", 5) == 0;
    bool version2 = info->versionLength == 5 && memcmp(info->version, "2.4.2", 5) == 0;
    if (!version2 && !version3)
        return "the .ifo file names a version other than 2.4.2 or 3.0.0";
    // Only version 3.0.0 knows 64-bit offsets; older readers take 32 whatever the line says.
    if (version2)
        info->offsetBits = 32;
    if (info->booknameLength == 0)
        return "the .ifo file has no bookname";
    if (!info->hasWordCount || info->wordCount == 0)
        return "the .ifo file has no wordcount";
    if (!info->hasIdxFileSize)
        return "the .ifo file has no idxfilesize";
    if (info->typeSequenceLength >= sizeof(StardictDictionary::typeSequence))
        return "the .ifo file's sametypesequence is too long";
    for (size_t i = 0; i < info->typeSequenceLength; i++) {
        char c = info->typeSequence[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')))
            return "the .ifo file's sametypesequence names a type that is not a letter";
    }
    return nullptr;
}

// Inflates a gzip .idx.gz into exactly expected bytes.
static const char* inflateIndex(const char* zipped, size_t length, uint64_t expected, char** inflated)
{
    *inflated = nullptr;
    if (expected > stardictLimits.maxIndexBytes || expected > (uint64_t)(size_t)-1 - 1)
        return "the .idx.gz file inflates to more than the largest index read";
    char* out = (char*)malloc((size_t)expected + 1);
    if (out == nullptr)
        return "there is not enough memory for the .idx.gz file";
    z_stream stream;
    memset(&stream, 0, sizeof stream);
    if (inflateInit2(&stream, gzipWindow) != Z_OK) {
        free(out);
        return "there is not enough memory for the .idx.gz file";
    }
    const char* problem = nullptr;
    size_t fed = 0;
    size_t made = 0;
    int status = Z_OK;
    // zlib counts in unsigned int: feed and take at most that much at a time.
    const size_t step = 1u << 30;
    while (status == Z_OK) {
        if (stream.avail_in == 0) {
            size_t piece = length - fed < step ? length - fed : step;
            stream.next_in = (Bytef*)(zipped + fed);
            stream.avail_in = (uInt)piece;
            fed += piece;
        }
        size_t room = (size_t)expected + 1 - made;
        stream.next_out = (Bytef*)(out + made);
        stream.avail_out = (uInt)(room < step ? room : step);
        uInt before = stream.avail_out;
        uInt inputBefore = stream.avail_in;
        status = inflate(&stream, Z_NO_FLUSH);
        made += before - stream.avail_out;
        if (status == Z_OK && stream.avail_in == inputBefore && before == stream.avail_out && fed == length)
            status = Z_BUF_ERROR;
        if (made > expected) {
            problem = "the .idx.gz file inflates to more than the .ifo's idxfilesize";
            break;
        }
    }
    inflateEnd(&stream);
    if (problem == nullptr && status != Z_STREAM_END)
        problem = "the .idx.gz file is not a whole gzip file";
    if (problem == nullptr && made != expected)
        problem = "the .idx.gz file inflates to less than the .ifo's idxfilesize";
    if (problem != nullptr) {
        free(out);
        return problem;
    }
    *inflated = out;
    return nullptr;
}

// Walks the index once: every headword ended, non-empty and shorter than 256 bytes, every entry whole and
// inside the data, and exactly wordCount of them.
static const char* checkIndex(StardictDictionary* dict)
{
    size_t tail = dict->offsets64 ? 12 : 8;
    // The smallest entry is one byte, its zero and the tail: more entries than that cannot fit.
    if (dict->wordCount > dict->idxSize / (2 + tail))
        return "the .idx file is too short for the .ifo's wordcount";
    dict->words = (uint32_t*)malloc((size_t)dict->wordCount * sizeof(uint32_t));
    if (dict->words == nullptr)
        return "there is not enough memory for the .idx file";
    const char* idx = dict->idx;
    uint32_t count = 0;
    for (size_t at = 0; at < dict->idxSize;) {
        const char* zero = (const char*)memchr(idx + at, '\0', dict->idxSize - at);
        if (zero == nullptr)
            return "the .idx file ends inside a headword";
        size_t wordLength = (size_t)(zero - (idx + at));
        if (wordLength == 0)
            return "the .idx file holds an empty headword";
        if (wordLength >= maxHeadwordBytes)
            return "the .idx file holds a headword of more than 255 bytes";
        size_t past = (size_t)(zero - idx) + 1;
        if (dict->idxSize - past < tail)
            return "the .idx file ends inside an entry";
        if (count == dict->wordCount)
            return "the .idx file holds more headwords than the .ifo's wordcount";
        uint64_t offset = bigEndian32(idx + past);
        if (dict->offsets64)
            offset = offset << 32 | bigEndian32(idx + past + 4);
        uint32_t size = bigEndian32(idx + past + tail - 4);
        if (offset > dict->dataLength || size > dict->dataLength - offset)
            return "an entry of the .idx file lies beyond the end of the .dict file";
        dict->words[count++] = (uint32_t)at;
        at = past + tail;
    }
    if (count != dict->wordCount)
        return "the .idx file holds fewer headwords than the .ifo's wordcount";
    return nullptr;
}

static const char* checkSynonyms(StardictDictionary* dict)
{
    if (dict->synonymCount > dict->synSize / (2 + synonymTail))
        return "the .syn file is too short for the .ifo's synwordcount";
    dict->synonyms = (uint32_t*)malloc((size_t)dict->synonymCount * sizeof(uint32_t) + 1);
    if (dict->synonyms == nullptr)
        return "there is not enough memory for the .syn file";
    uint32_t count = 0;
    for (size_t at = 0; at < dict->synSize;) {
        const char* zero = (const char*)memchr(dict->syn + at, '\0', dict->synSize - at);
        if (zero == nullptr)
            return "the .syn file ends inside a synonym";
        size_t wordLength = (size_t)(zero - (dict->syn + at));
        if (wordLength == 0 || wordLength >= maxHeadwordBytes)
            return "the .syn file holds an empty synonym or one of more than 255 bytes";
        size_t past = (size_t)(zero - dict->syn) + 1;
        if (dict->synSize - past < synonymTail)
            return "the .syn file ends inside an entry";
        if (count == dict->synonymCount)
            return "the .syn file holds more synonyms than the .ifo's synwordcount";
        if (bigEndian32(dict->syn + past) >= dict->wordCount)
            return "a synonym of the .syn file points past the last headword";
        dict->synonyms[count++] = (uint32_t)at;
        at = past + synonymTail;
    }
    if (count != dict->synonymCount)
        return "the .syn file holds fewer synonyms than the .ifo's synwordcount";
    return nullptr;
}

static bool refuse(StardictDictionary* dict, const char** problem, const char* why)
{
    closeStardict(dict);
    *problem = why;
    return false;
}

// Everything after the data source is set: the .ifo, then the index, the synonyms and the data checked.
static bool openChecked(StardictDictionary* dict, const StardictBytes* bytes, const char** problem)
{
    InfoFields info;
    const char* why = readInfo(bytes->ifo, bytes->ifoLength, &info);
    if (why != nullptr)
        return refuse(dict, problem, why);
    dict->wordCount = (uint32_t)info.wordCount;
    dict->offsets64 = info.offsetBits == 64;
    if (info.typeSequenceLength > 0)
        memcpy(dict->typeSequence, info.typeSequence, info.typeSequenceLength);
    dict->typeSequence[info.typeSequenceLength] = '\0';
    dict->bookname = copyOfflineText(info.bookname, info.booknameLength);
    dict->description = (char*)malloc(info.descriptionLength + 1);
    if (dict->bookname == nullptr || dict->description == nullptr)
        return refuse(dict, problem, "there is not enough memory for the .ifo file");
    stripMarkup(info.description != nullptr ? info.description : "", info.descriptionLength, false,
                dict->description);
    if (bytes->idxZipped) {
        why = inflateIndex(bytes->idx, bytes->idxLength, info.idxFileSize, &dict->inflatedIdx);
        if (why != nullptr)
            return refuse(dict, problem, why);
        dict->idx = dict->inflatedIdx;
        dict->idxSize = (size_t)info.idxFileSize;
    } else {
        if (info.idxFileSize != bytes->idxLength)
            return refuse(dict, problem, "the .idx file's size is not the .ifo's idxfilesize");
        if (bytes->idxLength > stardictLimits.maxIndexBytes)
            return refuse(dict, problem, "the .idx file is larger than the largest index read");
        dict->idx = bytes->idx;
        dict->idxSize = bytes->idxLength;
    }
    if (bytes->dictZipped) {
        if (!openDictzip(&dict->source, &dict->zip, &why))
            return refuse(dict, problem, why);
        dict->zipped = true;
        dict->dataLength = dict->zip.length;
    } else {
        dict->dataLength = sourceSize(&dict->source);
    }
    why = checkIndex(dict);
    if (why != nullptr)
        return refuse(dict, problem, why);
    if (bytes->syn != nullptr) {
        if (!info.hasSynonymCount)
            return refuse(dict, problem, "there is a .syn file but the .ifo file has no synwordcount");
        if (bytes->synLength > stardictLimits.maxIndexBytes)
            return refuse(dict, problem, "the .syn file is larger than the largest index read");
        dict->syn = bytes->syn;
        dict->synSize = bytes->synLength;
        dict->synonymCount = (uint32_t)info.synonymCount;
        why = checkSynonyms(dict);
        if (why != nullptr)
            return refuse(dict, problem, why);
    }
    return true;
}

bool openStardictFromMemory(const StardictBytes* bytes, StardictDictionary* dict, const char** problem)
{
    memset(dict, 0, sizeof *dict);
    dict->source.memory = bytes->dict;
    dict->source.memorySize = bytes->dictLength;
    if (bytes->dict == nullptr) {
        dict->source.memory = (const unsigned char*)"";
        dict->source.memorySize = 0;
    }
    return openChecked(dict, bytes, problem);
}

// Maps one file of the dictionary; a message on failure.
static const char* mapPart(const char* path, uint64_t limit, MappedFile* file, const char* tooLarge)
{
    switch (mapFileReadOnly(path, limit, file)) {
    case mapDone:
        return nullptr;
    case mapEmpty:
        return "one of its files is empty";
    case mapTooLarge:
        return tooLarge;
    case mapFailed:
        break;
    }
    return "one of its files cannot be read";
}

bool openStardict(const char* ifoPath, StardictDictionary* dict, const char** problem)
{
    memset(dict, 0, sizeof *dict);
    size_t pathLength = strlen(ifoPath);
    const size_t ifoSuffix = 4;  // ".ifo"
    if (pathLength < ifoSuffix || strcmp(ifoPath + pathLength - ifoSuffix, ".ifo") != 0)
        return refuse(dict, problem, "its name does not end in .ifo");
    const size_t longestSuffix = 8;  // ".dict.dz"
    size_t stem = pathLength - ifoSuffix;
    char* path = (char*)malloc(stem + longestSuffix + 1);
    if (path == nullptr)
        return refuse(dict, problem, "there is not enough memory");
    memcpy(path, ifoPath, stem);
    auto named = [&](const char* suffix) {
        strcpy(path + stem, suffix);
        return path;
    };
    StardictBytes bytes;
    memset(&bytes, 0, sizeof bytes);
    MappedFile ifo;
    memset(&ifo, 0, sizeof ifo);
    const char* why =
        mapPart(ifoPath, stardictLimits.maxInfoBytes, &ifo, "the .ifo file is larger than 1 MiB");
    const char* tooLarge = "its index is larger than 1 GiB";
    if (why == nullptr) {
        bytes.ifo = ifo.data;
        bytes.ifoLength = (size_t)ifo.size;
        bytes.idxZipped = !offlineFileExists(named(".idx")) && offlineFileExists(named(".idx.gz"));
        why = mapPart(named(bytes.idxZipped ? ".idx.gz" : ".idx"), stardictLimits.maxIndexBytes,
                      &dict->mappedIdx, tooLarge);
    }
    if (why == nullptr) {
        bytes.idx = dict->mappedIdx.data;
        bytes.idxLength = (size_t)dict->mappedIdx.size;
        if (offlineFileExists(named(".syn"))) {
            why = mapPart(path, stardictLimits.maxIndexBytes, &dict->mappedSyn, tooLarge);
            bytes.syn = dict->mappedSyn.data;
            bytes.synLength = (size_t)dict->mappedSyn.size;
        }
    }
    if (why == nullptr) {
        bytes.dictZipped = offlineFileExists(named(".dict.dz"));
        if (!bytes.dictZipped && !offlineFileExists(named(".dict")))
            why = "there is no .dict.dz or .dict file beside it";
        else if (!openFileForReading(path, &dict->source.file))
            why = "its .dict file cannot be opened";
    }
    free(path);
    bool opened = why == nullptr && openChecked(dict, &bytes, &why);
    unmapFile(&ifo);
    if (!opened)
        return refuse(dict, problem, why);
    return true;
}

void closeStardict(StardictDictionary* dict)
{
    free(dict->bookname);
    free(dict->description);
    free(dict->inflatedIdx);
    free(dict->words);
    free(dict->synonyms);
    if (dict->mappedIdx.data != nullptr)
        unmapFile(&dict->mappedIdx);
    if (dict->mappedSyn.data != nullptr)
        unmapFile(&dict->mappedSyn);
    if (dict->zipped)
        closeDictzip(&dict->zip);
    if (dict->source.memory == nullptr && dict->source.file.open)
        closeOpenedFile(&dict->source.file);
    memset(dict, 0, sizeof *dict);
}

// ---- Finding headwords

void releaseStardictMatches(StardictMatches* matches)
{
    free(matches->entries);
    memset(matches, 0, sizeof *matches);
}

static void addMatch(StardictMatches* matches, uint32_t entry)
{
    if (matches->full)
        return;
    if (matches->count == matches->capacity) {
        int capacity = matches->capacity == 0 ? 16 : matches->capacity * 2;
        uint32_t* grown = (uint32_t*)realloc(matches->entries, (size_t)capacity * sizeof(uint32_t));
        if (grown == nullptr) {
            matches->full = true;
            return;
        }
        matches->entries = grown;
        matches->capacity = capacity;
    }
    matches->entries[matches->count++] = entry;
}

static int compareEntries(const void* a, const void* b)
{
    uint32_t x = *(const uint32_t*)a, y = *(const uint32_t*)b;
    return x < y ? -1 : x > y ? 1 : 0;
}

static void sortMatches(StardictMatches* matches, int from)
{
    if (matches->count - from < 2)
        return;
    qsort(matches->entries + from, (size_t)(matches->count - from), sizeof(uint32_t), compareEntries);
    int kept = from + 1;
    for (int i = from + 1; i < matches->count; i++) {
        if (matches->entries[i] != matches->entries[kept - 1])
            matches->entries[kept++] = matches->entries[i];
    }
    matches->count = kept;
}

static unsigned char foldAscii(unsigned char c) { return c >= 'A' && c <= 'Z' ? (unsigned char)(c + 32) : c; }

// The order of a StarDict index: ASCII case ignored first, then byte by byte. word has length bytes,
// headword ends with a zero. Only the first comparison when caseOnly is set.
static int compareHeadword(const char* word, size_t length, const char* headword, bool caseOnly)
{
    const unsigned char* a = (const unsigned char*)word;
    const unsigned char* b = (const unsigned char*)headword;
    size_t i = 0;
    for (; i < length && b[i] != 0; i++) {
        if (foldAscii(a[i]) != foldAscii(b[i]))
            return foldAscii(a[i]) < foldAscii(b[i]) ? -1 : 1;
    }
    if (i < length)
        return 1;
    if (b[i] != 0)
        return -1;
    if (caseOnly)
        return 0;
    int order = memcmp(word, headword, length);
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}

// The first of count sorted texts (offsets into base) not before the word.
static uint32_t lowerBound(const char* base, const uint32_t* offsets, uint32_t count, const char* word,
                           size_t length, bool caseOnly)
{
    uint32_t low = 0, high = count;
    while (low < high) {
        uint32_t middle = low + (high - low) / 2;
        if (compareHeadword(word, length, base + offsets[middle], caseOnly) > 0)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

static uint32_t synonymTarget(const StardictDictionary* dict, uint32_t synonym)
{
    const char* text = dict->syn + dict->synonyms[synonym];
    return bigEndian32(text + strlen(text) + 1);
}

// Headwords and synonyms equal to the word byte for byte.
static void findEqual(const StardictDictionary* dict, const char* word, size_t length, StardictMatches* found)
{
    int from = found->count;
    for (uint32_t i = lowerBound(dict->idx, dict->words, dict->wordCount, word, length, false);
         i < dict->wordCount && compareHeadword(word, length, dict->idx + dict->words[i], false) == 0; i++)
        addMatch(found, i);
    for (uint32_t i = lowerBound(dict->syn, dict->synonyms, dict->synonymCount, word, length, false);
         i < dict->synonymCount && compareHeadword(word, length, dict->syn + dict->synonyms[i], false) == 0;
         i++)
        addMatch(found, synonymTarget(dict, i));
    sortMatches(found, from);
}

bool findStardictWord(const StardictDictionary* dict, const char* word, size_t length, StardictMatches* found)
{
    if (length == 0 || length >= maxHeadwordBytes || memchr(word, '\0', length) != nullptr)
        return false;
    int before = found->count;
    findEqual(dict, word, length, found);
    char changed[maxHeadwordBytes * 2];
    static const CaseChange changes[] = {caseLower, caseUpper, caseCapitalised};
    for (CaseChange change : changes) {
        if (found->count > before)
            break;
        size_t changedLength = changeWordCase(word, length, change, changed);
        if (changedLength != length || memcmp(changed, word, length) != 0)
            findEqual(dict, changed, changedLength, found);
    }
    return found->count > before;
}

void findStardictPrefix(const StardictDictionary* dict, const char* word, size_t length, int limit,
                        StardictMatches* found)
{
    if (memchr(word, '\0', length) != nullptr)
        return;
    // Every headword the word begins sorts between the word and the word followed by the greatest byte.
    for (uint32_t i = lowerBound(dict->idx, dict->words, dict->wordCount, word, length, true);
         i < dict->wordCount; i++) {
        const unsigned char* headword = (const unsigned char*)dict->idx + dict->words[i];
        size_t k = 0;
        while (k < length && headword[k] != 0 && foldAscii(headword[k]) == foldAscii((unsigned char)word[k]))
            k++;
        if (k < length)
            break;
        if (found->count >= limit) {
            found->full = true;
            break;
        }
        addMatch(found, i);
    }
}

// Whether a headword equals the word (given as code points, lower case) but for case.
static bool equalFolded(const uint32_t* word, size_t count, const char* headword)
{
    size_t length = strlen(headword);
    size_t at = 0;
    for (size_t i = 0; i < count; i++) {
        uint32_t c;
        size_t size = decodeUtf8((const unsigned char*)headword + at, length - at, &c);
        if (size == 0)
            return false;
        if (changeCase(c, false) != word[i])
            return false;
        at += size;
    }
    return at == length;
}

// The headwords equal to a candidate but for case.
static void checkNear(const StardictDictionary* dict, const uint32_t* candidate, size_t count,
                      StardictMatches* found)
{
    // The index orders by ASCII case only: beyond ASCII, the lower, capitalised and upper forms are
    // looked up each.
    bool beyondAscii = false;
    for (size_t i = 0; i < count; i++)
        beyondAscii = beyondAscii || candidate[i] >= 0x80;
    static const CaseChange forms[] = {caseLower, caseCapitalised, caseUpper};
    char previous[maxHeadwordBytes + utf8MaxBytes * 2];
    size_t previousLength = 0;
    for (int form = 0; form < (beyondAscii ? 3 : 1); form++) {
        char text[maxHeadwordBytes + utf8MaxBytes * 2];
        size_t length = 0;
        for (size_t i = 0; i < count; i++) {
            if (length + utf8MaxBytes >= maxHeadwordBytes)
                return;
            bool upper = forms[form] == caseUpper || (forms[form] == caseCapitalised && i == 0);
            length += encodeUtf8(changeCase(candidate[i], upper), text + length);
        }
        if (form > 0 && length == previousLength && memcmp(text, previous, length) == 0)
            continue;
        for (uint32_t i = lowerBound(dict->idx, dict->words, dict->wordCount, text, length, true);
             i < dict->wordCount; i++) {
            const char* headword = dict->idx + dict->words[i];
            if (compareHeadword(text, length, headword, true) != 0)
                break;
            if (equalFolded(candidate, count, headword))
                addMatch(found, i);
        }
        memcpy(previous, text, length);
        previousLength = length;
    }
}

void findStardictNear(const StardictDictionary* dict, const char* word, size_t length, StardictMatches* found)
{
    if (length == 0 || length >= maxHeadwordBytes)
        return;
    uint32_t letters[maxHeadwordBytes + 1];
    size_t count = 0;
    for (size_t at = 0; at < length;) {
        size_t size = decodeUtf8((const unsigned char*)word + at, length - at, &letters[count]);
        if (size == 0)
            return;
        letters[count] = changeCase(letters[count], false);
        count++;
        at += size;
    }
    // The letters tried: a-z and those of the word itself.
    uint32_t alphabet[26 + maxExtraLetters];
    int alphabetSize = 0;
    for (uint32_t c = 'a'; c <= 'z'; c++)
        alphabet[alphabetSize++] = c;
    for (size_t i = 0; i < count && alphabetSize < 26 + maxExtraLetters; i++) {
        bool known = false;
        for (int k = 0; k < alphabetSize && !known; k++)
            known = alphabet[k] == letters[i];
        if (!known)
            alphabet[alphabetSize++] = letters[i];
    }
    int from = found->count;
    uint32_t candidate[maxHeadwordBytes + 2];
    for (size_t i = 0; i < count; i++) {
        memcpy(candidate, letters, i * sizeof(uint32_t));
        memcpy(candidate + i, letters + i + 1, (count - i - 1) * sizeof(uint32_t));
        checkNear(dict, candidate, count - 1, found);
    }
    memcpy(candidate, letters, count * sizeof(uint32_t));
    for (size_t i = 1; i < count; i++) {
        if (letters[i] == letters[i - 1])
            continue;
        candidate[i - 1] = letters[i];
        candidate[i] = letters[i - 1];
        checkNear(dict, candidate, count, found);
        candidate[i - 1] = letters[i - 1];
        candidate[i] = letters[i];
    }
    for (int k = 0; k < alphabetSize; k++) {
        for (size_t i = 0; i < count; i++) {
            if (letters[i] == alphabet[k])
                continue;
            candidate[i] = alphabet[k];
            checkNear(dict, candidate, count, found);
            candidate[i] = letters[i];
        }
    }
    for (size_t i = 0; i <= count; i++) {
        memcpy(candidate, letters, i * sizeof(uint32_t));
        memcpy(candidate + i + 1, letters + i, (count - i) * sizeof(uint32_t));
        for (int k = 0; k < alphabetSize; k++) {
            candidate[i] = alphabet[k];
            checkNear(dict, candidate, count + 1, found);
        }
    }
    sortMatches(found, from);
}

// ---- Definitions

const char* stardictHeadword(const StardictDictionary* dict, uint32_t entry, size_t* length)
{
    if (entry >= dict->wordCount)
        return nullptr;
    const char* headword = dict->idx + dict->words[entry];
    *length = strlen(headword);
    return headword;
}

// What the types not shown are, for the line that says one was left out.
static const char* typeName(char type)
{
    switch (type) {
    case 'W':
        return "(a sound, not shown)";
    case 'P':
        return "(a picture, not shown)";
    case 'r':
        return "(resource files, not shown)";
    case 'w':
        return "(wiki markup, not shown)";
    case 'k':
        return "(KingSoft data, not shown)";
    case 'l':
        return "(text in an unknown encoding, not shown)";
    case 'n':
        return "(WordNet data, not shown)";
    default:
        return "(a part of an unknown type, not shown)";
    }
}

// Appends one part as text, on a line of its own after any part before it.
static void appendPart(GrowingText* text, char type, const char* data, size_t length)
{
    if (length == 0 && type >= 'a' && type <= 'z')
        return;
    if (text->length > 0)
        appendBytes(text, "\n", 1);
    if (type == 'm' || type == 'y') {
        appendBytes(text, data, length);
    } else if (type == 't') {
        appendBytes(text, "[", 1);
        appendBytes(text, data, length);
        appendBytes(text, "]", 1);
    } else if (type == 'g' || type == 'x' || type == 'h') {
        char* out = appendRoom(text, length + 1);
        if (out != nullptr)
            text->length += stripMarkup(data, length, type == 'h', out);
    } else {
        const char* name = typeName(type);
        appendBytes(text, name, strlen(name));
    }
}

// Cuts an entry's data into its parts. Text parts end with a zero, binary ones begin with their size, except
// the last part of a sametypesequence entry, which takes the rest.
static const char* renderEntry(const StardictDictionary* dict, const char* data, size_t size,
                               GrowingText* text)
{
    size_t sequenceLength = strlen(dict->typeSequence);
    size_t at = 0;
    for (size_t part = 0; sequenceLength > 0 ? part < sequenceLength : at < size; part++) {
        char type;
        if (sequenceLength > 0) {
            type = dict->typeSequence[part];
        } else {
            type = data[at++];
            if (!((type >= 'a' && type <= 'z') || (type >= 'A' && type <= 'Z')))
                return "an entry names a type that is not a letter";
        }
        bool last = sequenceLength > 0 && part + 1 == sequenceLength;
        bool binary = type >= 'A' && type <= 'Z';
        size_t length;
        size_t skip;
        if (last) {
            length = size - at;
            skip = 0;
            // A text part may still end with the zero a writer added.
            const char* zero = binary ? nullptr : (const char*)memchr(data + at, '\0', length);
            if (zero != nullptr)
                length = (size_t)(zero - (data + at));
        } else if (binary) {
            if (size - at < 4)
                return "an entry ends inside the size of a part";
            at += 4;
            length = bigEndian32(data + at - 4);
            if (length > size - at)
                return "a part of an entry is longer than the entry";
            skip = 0;
        } else {
            const char* zero = (const char*)memchr(data + at, '\0', size - at);
            if (zero == nullptr)
                return "a text part of an entry is not ended";
            length = (size_t)(zero - (data + at));
            skip = 1;
        }
        appendPart(text, type, data + at, length);
        at += length + skip;
    }
    return nullptr;
}

bool stardictEntryData(const StardictDictionary* dict, uint32_t entry, uint64_t* offset, uint32_t* size)
{
    size_t wordLength;
    const char* headword = stardictHeadword(dict, entry, &wordLength);
    if (headword == nullptr)
        return false;
    const char* tail = headword + wordLength + 1;
    *offset = bigEndian32(tail);
    if (dict->offsets64)
        *offset = *offset << 32 | bigEndian32(tail + 4);
    *size = bigEndian32(tail + (dict->offsets64 ? 8 : 4));
    return true;
}

char* readStardictDefinition(StardictDictionary* dict, uint32_t entry, size_t* length, const char** problem)
{
    uint64_t offset;
    uint32_t size;
    if (!stardictEntryData(dict, entry, &offset, &size)) {
        *problem = "there is no such entry";
        return nullptr;
    }
    if (size > stardictLimits.maxDefinitionBytes) {
        *problem = "an entry is larger than the largest entry read";
        return nullptr;
    }
    char* data = (char*)malloc(size > 0 ? size : 1);
    if (data == nullptr) {
        *problem = "there is not enough memory for an entry";
        return nullptr;
    }
    bool read = size == 0 || (dict->zipped ? readDictzipRange(&dict->source, &dict->zip, offset, data, size)
                                           : readSource(&dict->source, offset, data, size));
    GrowingText text = {nullptr, 0, 0, false};
    const char* why = read ? renderEntry(dict, data, size, &text) : "the .dict file cannot be read there";
    free(data);
    if (why == nullptr && appendRoom(&text, 1) == nullptr)
        why = "there is not enough memory for an entry";
    if (why != nullptr) {
        free(text.data);
        *problem = why;
        return nullptr;
    }
    text.data[text.length] = '\0';
    *length = text.length;
    return text.data;
}
