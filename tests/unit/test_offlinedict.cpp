// Tests of the offline dictionaries: replies compared with a real dictd's, damaged files refused, dictzip
// reads.
#include <gtest/gtest.h>
#include <zlib.h>

#include <stdio.h>
#include <stdlib.h>
#include <locale.h>
#include <string.h>
#include <sys/stat.h>
#include <wctype.h>
#ifdef _WIN32
#include <direct.h>
#include <process.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "core/dictzip.h"
#include "core/netio.h"
#include "core/offlinechars.h"
#include "core/offlinedict.h"
#include "tests/unit/fakeserver.h"
#include "tests/unit/uidoubles.h"

namespace {

const int rawTimeoutMs = 5000;

std::string answer(const std::string& request)
{
    ReplyText reply = {nullptr, 0, 0, false};
    answerOfflineRequest(request.data(), request.size(), &reply);
    std::string text = reply.data != nullptr ? std::string(reply.data, reply.length) : std::string();
    releaseReply(&reply);
    return text;
}

// ---- Files written by the tests

std::string temporaryFolder(const std::string& name)
{
    const char* base = getenv("TMPDIR");
#ifdef _WIN32
    if (base == nullptr)
        base = getenv("TEMP");
#endif
    std::string folder = std::string(base != nullptr ? base : "/tmp") + "/lexitray-offline-" + name;
#ifdef _WIN32
    _mkdir(folder.c_str());
#else
    mkdir(folder.c_str(), 0755);
#endif
    return folder;
}

// A folder that this run alone uses: a run that failed half-way leaves nothing another run trips on.
std::string ownFolder(const std::string& name)
{
#ifdef _WIN32
    int process = _getpid();
#else
    int process = (int)getpid();
#endif
    return temporaryFolder(name + "-" + std::to_string(process));
}

#ifdef _WIN32
// File names are UTF-8 here as in the program; the C library would read them in the ANSI code page.
std::wstring wide(const std::string& text)
{
    std::wstring converted(text.size() + 1, L'\0');
    int length = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &converted[0], (int)converted.size());
    converted.resize(length > 0 ? (size_t)length - 1 : 0);
    return converted;
}
FILE* openFile(const std::string& path) { return _wfopen(wide(path).c_str(), L"wb"); }
void removeFile(const std::string& path) { _wremove(wide(path).c_str()); }
#else
FILE* openFile(const std::string& path) { return fopen(path.c_str(), "wb"); }
void removeFile(const std::string& path) { remove(path.c_str()); }
#endif

void writeFile(const std::string& path, const std::string& bytes)
{
    FILE* file = openFile(path);
    ASSERT_NE(nullptr, file) << path;
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
}

void removeFiles(const std::string& folder, const std::vector<std::string>& names)
{
    for (const std::string& name : names)
        removeFile(folder + "/" + name);
}

// Extends a file to size bytes with a hole (nothing is written before its last byte).
void extendFile(const std::string& path, uint64_t size)
{
#ifdef _WIN32
    FILE* file = _wfopen(wide(path).c_str(), L"r+b");
    ASSERT_NE(nullptr, file) << path;
    ASSERT_EQ(0, _fseeki64(file, (long long)size - 1, SEEK_SET));
#else
    FILE* file = fopen(path.c_str(), "r+b");
    ASSERT_NE(nullptr, file) << path;
    ASSERT_EQ(0, fseeko(file, (off_t)size - 1, SEEK_SET));
#endif
    fputc('\n', file);
    fclose(file);
}

// Removes the files written into a folder and the folder itself when it goes out of scope, after
// unloading (Windows keeps a mapped file), whether or not the test failed.
struct FilesWritten {
    std::string folder;
    std::vector<std::string> names;
    ~FilesWritten()
    {
        unloadOfflineDictionaries();
        removeFiles(folder, names);
#ifdef _WIN32
        _wrmdir(wide(folder).c_str());
#else
        rmdir(folder.c_str());
#endif
    }
};

std::string base64(uint64_t value)
{
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    do {
        text.insert(text.begin(), digits[value % 64]);
        value /= 64;
    } while (value > 0);
    return text;
}

// A dictionary as dictfmt writes one: entries sorted, each body starting with its headword.
struct Dictionary {
    std::string index;
    std::string data;
};

Dictionary dictionaryOf(const std::vector<std::pair<std::string, std::string>>& entries)
{
    Dictionary made;
    for (const auto& entry : entries) {
        std::string body = entry.first + "\n" + entry.second + "\n";
        made.index += entry.first + "\t" + base64(made.data.size()) + "\t" + base64(body.size()) + "\n";
        made.data += body;
    }
    return made;
}

void putLittle16(std::string* bytes, size_t at, unsigned value)
{
    (*bytes)[at] = (char)(value & 0xff);
    (*bytes)[at + 1] = (char)(value >> 8);
}

// The text as dictzip stores it: raw deflate chunks of chunkLength bytes, each ending in a full flush.
std::string dictzipOf(const std::string& text, unsigned chunkLength)
{
    std::vector<std::string> chunks;
    for (size_t at = 0; at < text.size(); at += chunkLength) {
        std::string piece = text.substr(at, chunkLength);
        z_stream stream = {};
        deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
        std::string out(deflateBound(&stream, piece.size()) + 64, '\0');
        stream.next_in = (Bytef*)piece.data();
        stream.avail_in = (uInt)piece.size();
        stream.next_out = (Bytef*)&out[0];
        stream.avail_out = (uInt)out.size();
        deflate(&stream, Z_FULL_FLUSH);
        out.resize(stream.total_out);
        deflateEnd(&stream);
        chunks.push_back(out);
    }
    size_t extraLength = 10 + 2 * chunks.size();
    std::string file = std::string("\x1f\x8b\x08\x04\0\0\0\0\x02\x03", 10) + std::string(2, '\0');
    putLittle16(&file, 10, (unsigned)extraLength);
    std::string extra = "RA" + std::string(8 + 2 * chunks.size(), '\0');
    putLittle16(&extra, 2, (unsigned)(6 + 2 * chunks.size()));
    putLittle16(&extra, 4, 1);
    putLittle16(&extra, 6, chunkLength);
    putLittle16(&extra, 8, (unsigned)chunks.size());
    for (size_t i = 0; i < chunks.size(); i++)
        putLittle16(&extra, 10 + 2 * i, (unsigned)chunks[i].size());
    file += extra;
    for (const std::string& chunk : chunks)
        file += chunk;
    uLong crc = crc32(0, (const Bytef*)text.data(), (uInt)text.size());
    for (int i = 0; i < 4; i++)
        file += (char)(crc >> (8 * i) & 0xff);
    for (int i = 0; i < 4; i++)
        file += (char)(text.size() >> (8 * i) & 0xff);
    return file;
}

// A StarDict dictionary of "m" entries (given in StarDict's order) with 32-bit offsets.
struct StardictFiles {
    std::string ifo;
    std::string idx;
    std::string dict;
};

StardictFiles stardictOf(const std::string& bookname,
                         const std::vector<std::pair<std::string, std::string>>& entries)
{
    StardictFiles made;
    for (const auto& entry : entries) {
        made.idx += entry.first + '\0';
        for (size_t value : {made.dict.size(), entry.second.size()}) {
            for (int shift = 24; shift >= 0; shift -= 8)
                made.idx += (char)(value >> shift & 0xff);
        }
        made.dict += entry.second;
    }
    made.ifo = "StarDict's dict ifo file\nversion=2.4.2\nbookname=" + bookname +
               "\nwordcount=" + std::to_string(entries.size()) +
               "\nidxfilesize=" + std::to_string(made.idx.size()) + "\nsametypesequence=m\n";
    return made;
}

const Dictionary sample = dictionaryOf({
    {"00-database-short", "     Sample Dictionary"},
    {"apple", "a fruit"},
    {"data processor", "a computer"},
    {"pear", "another fruit"},
    {"quince", "a hard fruit"},
});

class OfflineDictionaries : public ::testing::Test {
protected:
    void SetUp() override
    {
        unloadOfflineDictionaries();
        offlineLimits = offlineDefaultLimits;
    }
    void TearDown() override
    {
        unloadOfflineDictionaries();
        offlineLimits = offlineDefaultLimits;
    }
};

// ---- Damaged files: each row writes a good database and a bad one into a folder of its own.

struct BadFiles {
    const char* what;
    const char* name;  // the database's name (its files' names without the endings)
    std::string (*index)();
    std::string (*dictzip)();  // empty: no .dict.dz
    std::string (*dict)();     // empty: no .dict
    bool loads;
    const char* named;              // the file the refusal names; for one that loads, the name it is asked by
    const char* defined = nullptr;  // how a DEFINE of "quince" in one that loads begins
    uint64_t dictBytes = 0;         // 0, or the size the .dict is made (a hole after the text)
    uint64_t maxDefinition = 0;     // 0, or the limit a build of that pointer width has
    std::string (*ifo)() = nullptr;  // a StarDict dictionary: NAME.ifo, and index() its NAME.idx
};

std::string sampleIndex() { return sample.index; }
std::string sampleDictzip() { return dictzipOf(sample.data, 16); }
std::string sampleDict() { return sample.data; }
std::string noFile() { return std::string(); }

std::string truncatedDictzip()
{
    std::string file = sampleDictzip();
    return file.substr(0, file.size() - 20);
}
// Chunk table offsets: the extra field starts at 12; RA's data at 16: version, length, count, sizes.
std::string chunkSizesPastEnd()
{
    std::string file = sampleDictzip();
    putLittle16(&file, 22, 60000);
    return file;
}
std::string chunkLengthZero()
{
    std::string file = sampleDictzip();
    putLittle16(&file, 18, 0);
    return file;
}
std::string absurdChunkCount()
{
    std::string file = sampleDictzip();
    putLittle16(&file, 20, 65535);
    return file;
}
std::string offsetPastData()
{
    return sample.index + "zebra\t" + base64(sample.data.size() - 2) + "\t" + base64(10) + "\n";
}
std::string unsortedIndex()
{
    std::string index = sample.index;
    size_t apple = index.find("apple");
    size_t pear = index.find("pear");
    std::string appleLine = index.substr(apple, index.find('\n', apple) + 1 - apple);
    std::string pearLine = index.substr(pear, index.find('\n', pear) + 1 - pear);
    index.replace(pear, pearLine.size(), appleLine);
    index.replace(apple, appleLine.size(), pearLine);
    return index;
}
std::string tooFewColumns() { return sample.index + "zebra\tA\n"; }
// The last chunk's first stored byte changed: the header is sound, the definition of "quince" in it not.
std::string damagedLastChunk(std::string file)
{
    unsigned count = (unsigned char)file[20] | (unsigned char)file[21] << 8;
    size_t lastAt = 22 + 2 * (count - 1);
    size_t lastSize = (unsigned char)file[lastAt] | (unsigned char)file[lastAt + 1] << 8;
    file[file.size() - 8 - lastSize] ^= 0x55;
    return file;
}
std::string lastChunkDamaged() { return damagedLastChunk(sampleDictzip()); }
// The sample's fruit as a StarDict dictionary, whole and damaged.
const StardictFiles fruit = stardictOf(
    "Sample StarDict", {{"apple", "a fruit"}, {"pear", "another fruit"}, {"quince", "a hard fruit"}});
std::string fruitIfo() { return fruit.ifo; }
std::string fruitIdx() { return fruit.idx; }
std::string fruitDictzip() { return dictzipOf(fruit.dict, 16); }
std::string fruitIdxLonger() { return fruit.idx + "zz" + std::string(9, '\0'); }
std::string fruitDictCut() { return fruit.dict.substr(0, fruit.dict.size() - 3); }
std::string fruitChunkDamaged() { return damagedLastChunk(fruitDictzip()); }
// One definition of 4 GiB - 1 bytes, in a .dict made that large: length + 1 wraps on a 32-bit build.
const uint64_t fourGiB = 4ull * 1024 * 1024 * 1024;
std::string hugeEntry() { return sample.index + "zz\tA\t" + base64(fourGiB - 1) + "\n"; }

TEST_F(OfflineDictionaries, DamagedFilesAreRefusedAndTheOthersLoad)
{
    const BadFiles rows[] = {
        {"a .dict.dz cut short", "cut", sampleIndex, truncatedDictzip, noFile, false, "cut.dict.dz"},
        {"chunk sizes past the file end", "sizes", sampleIndex, chunkSizesPastEnd, noFile, false,
         "sizes.dict.dz"},
        {"chunk length 0", "zero", sampleIndex, chunkLengthZero, noFile, false, "zero.dict.dz"},
        {"an absurd chunk count", "count", sampleIndex, absurdChunkCount, noFile, false, "count.dict.dz"},
        {"an offset past the data", "offset", offsetPastData, noFile, sampleDict, false, "offset.index"},
        {"an unsorted index", "unsorted", unsortedIndex, noFile, sampleDict, false, "unsorted.index"},
        {"a line of two columns", "columns", tooFewColumns, noFile, sampleDict, false, "columns.index"},
        {"an index without data", "lonely", sampleIndex, noFile, noFile, false, "lonely.index"},
        {"a name in Greek and German", "λεξικό-Mädchen", sampleIndex, sampleDictzip, noFile, true,
         "λεξικό-Mädchen"},
        {"a name with spaces", "My Dict", sampleIndex, sampleDictzip, noFile, true, "My_Dict"},
        {"a name over 60 bytes", "a-name-of-seventy-bytes-that-goes-on-and-on-and-on-and-on-and-on-end",
         sampleIndex, sampleDictzip, noFile, true,
         "a-name-of-seventy-bytes-that-goes-on-and-on-and-on-and-on-an"},
        {"a name that asks for every database", "!", sampleIndex, sampleDictzip, noFile, true, "_"},
        {"a chunk damaged inside", "inside", sampleIndex, lastChunkDamaged, noFile, true, "inside",
         "420 The dictionary file "},
        {"a definition of 4 GiB on a 32-bit build", "huge", hugeEntry, noFile, sampleDict, false,
         "huge.index", nullptr, fourGiB + 16, 0xFFFFFFFEull},
        {"a StarDict dictionary", "fruit", fruitIdx, fruitDictzip, noFile, true, "Sample_StarDict", nullptr,
         0, 0, fruitIfo},
        {"a StarDict chunk damaged inside", "fruit", fruitIdx, fruitChunkDamaged, noFile, true,
         "Sample_StarDict", "420 The dictionary file ", 0, 0, fruitIfo},
        {"a StarDict .idx longer than its .ifo says", "fruit", fruitIdxLonger, noFile, fruitDictzip, false,
         "fruit.ifo", nullptr, 0, 0, fruitIfo},
        {"a StarDict entry past the data", "fruit", fruitIdx, noFile, fruitDictCut, false, "fruit.ifo",
         nullptr, 0, 0, fruitIfo},
    };
    for (const BadFiles& row : rows) {
        SCOPED_TRACE(row.what);
        FilesWritten written = {ownFolder("damaged"), {"good.index", "good.dict.dz"}};
        const std::string& folder = written.folder;
        std::vector<std::string>& files = written.names;
        writeFile(folder + "/good.index", sample.index);
        writeFile(folder + "/good.dict.dz", sampleDictzip());
        std::string name = row.name;
        std::string indexEnding = row.ifo != nullptr ? ".idx" : ".index";
        files.push_back(name + indexEnding);
        writeFile(folder + "/" + name + indexEnding, row.index());
        if (row.ifo != nullptr) {
            files.push_back(name + ".ifo");
            writeFile(folder + "/" + name + ".ifo", row.ifo());
        }
        for (const char* ending : {".dict.dz", ".dict"}) {
            std::string bytes = strcmp(ending, ".dict") == 0 ? row.dict() : row.dictzip();
            if (!bytes.empty()) {
                files.push_back(name + ending);
                writeFile(folder + "/" + name + ending, bytes);
                if (row.dictBytes != 0)
                    extendFile(folder + "/" + name + ending, row.dictBytes);
            }
        }
        if (row.maxDefinition != 0)
            offlineLimits.maxDefinitionBytes = row.maxDefinition;
        const char* folders[] = {folder.c_str()};
        int loaded = loadOfflineDictionaries(folders, 1);
        EXPECT_EQ(row.loads ? 2 : 1, loaded);
        ASSERT_EQ(row.loads ? 0 : 1, offlineRefusalCount());
        if (!row.loads) {
            EXPECT_NE(nullptr, strstr(offlineRefusal(0), row.named)) << offlineRefusal(0);
        }
        // The good one answers whatever happened beside it.
        EXPECT_EQ("152 1 matches found\r\ngood \"pear\"\r\n.\r\n250 ok\r\n",
                  answer("match good exact pear\r\n"));
        if (row.loads) {
            std::string defined = row.defined != nullptr ? row.defined : "150 1 definitions retrieved\r\n";
            EXPECT_EQ(0u, answer(std::string("define \"") + row.named + "\" quince").find(defined))
                << answer(std::string("define \"") + row.named + "\" quince");
            for (const char* match : {"prefix QU", ". quinse"}) {
                EXPECT_EQ(std::string("152 1 matches found\r\n") + row.named +
                              " \"quince\"\r\n.\r\n250 ok\r\n",
                          answer(std::string("match \"") + row.named + "\" " + match));
            }
            // The look-up says what cannot be read instead of ending with nothing shown.
            resetUiDoubles();
            bool read = dictSession.retrieveOfflineDefinitions(row.named, "quince") == dictSuccess;
            EXPECT_EQ(row.defined == nullptr, read);
            EXPECT_EQ(row.defined == nullptr ? 0 : 1, countUiCalls("showMessage"));
        }
        offlineLimits = offlineDefaultLimits;
    }
}

TEST_F(OfflineDictionaries, AnIndexOverTheSizeLimitIsRefusedUnmapped)
{
    std::string folder = temporaryFolder("large");
    writeFile(folder + "/large.index", sample.index);
    writeFile(folder + "/large.dict", sample.data);
    offlineLimits.maxIndexBytes = sample.index.size() - 1;
    const char* folders[] = {folder.c_str()};
    EXPECT_EQ(0, loadOfflineDictionaries(folders, 1));
    removeFiles(folder, {"large.index", "large.dict"});
    ASSERT_EQ(1, offlineRefusalCount());
    EXPECT_NE(nullptr, strstr(offlineRefusal(0), "large.index was left out: the file is larger than 1 GiB"));
    EXPECT_EQ(1024ull * 1024 * 1024, offlineDefaultLimits.maxIndexBytes);
}

TEST_F(OfflineDictionaries, AnUnchangedDatabaseIsKeptAndEachRefusalToldOnce)
{
    FilesWritten written = {
        ownFolder("reload"),
        {"good.index", "good.dict", "bad.index", "bad.dict", "fruit.ifo", "fruit.idx", "fruit.dict"}};
    const std::string& folder = written.folder;
    writeFile(folder + "/good.index", sample.index);
    writeFile(folder + "/good.dict", sample.data);
    writeFile(folder + "/bad.index", unsortedIndex());
    writeFile(folder + "/bad.dict", sample.data);
    writeFile(folder + "/fruit.ifo", fruit.ifo);
    writeFile(folder + "/fruit.idx", fruit.idx);
    writeFile(folder + "/fruit.dict", fruit.dict);
    const char* folders[] = {folder.c_str()};
    EXPECT_EQ(2, loadOfflineDictionaries(folders, 1));
    ASSERT_EQ(1, offlineRefusalCount());
    EXPECT_FALSE(offlineRefusalTold(0));
    markOfflineRefusalsTold();
    EXPECT_EQ(2, loadOfflineDictionaries(folders, 1));
    ASSERT_EQ(1, offlineRefusalCount());
    EXPECT_TRUE(offlineRefusalTold(0)) << "the same refusal again";
#ifndef _WIN32
    // Rewritten with the same size and time of change: kept as it was, not read again.
    auto rewriteKeepingTime = [](const std::string& path, const std::string& bytes) {
        struct stat before;
        ASSERT_EQ(0, stat(path.c_str(), &before));
        writeFile(path, bytes);
        const struct timespec times[2] = {before.st_atim, before.st_mtim};
        ASSERT_EQ(0, utimensat(AT_FDCWD, path.c_str(), times, 0));
    };
    std::string index = folder + "/good.index";
    rewriteKeepingTime(index, unsortedIndex());
    std::string renamed = fruit.ifo;
    renamed.replace(renamed.find("StarDict\n"), 8, "StarDicT");
    rewriteKeepingTime(folder + "/fruit.ifo", renamed);
    EXPECT_EQ(2, loadOfflineDictionaries(folders, 1));
    EXPECT_NE(std::string::npos, answer("show db").find("Sample_StarDict \"Sample StarDict\""));
    // Changed: opened or checked again, and refused with a refusal not yet told.
    writeFile(folder + "/fruit.ifo", renamed);
    writeFile(index, unsortedIndex() + "zz\tA\tB\n");
    EXPECT_EQ(1, loadOfflineDictionaries(folders, 1));
    EXPECT_NE(std::string::npos, answer("show db").find("Sample_StarDicT \"Sample StarDicT\""));
    ASSERT_EQ(2, offlineRefusalCount());
    EXPECT_TRUE(offlineRefusalTold(0) != offlineRefusalTold(1));
#endif
}

// A look-up that comes while an announced load has yet to begin waits for it rather than find nothing.
TEST_F(OfflineDictionaries, ALookUpWaitsForAnAnnouncedLoad)
{
    FilesWritten written = {ownFolder("announced"), {"sample.index", "sample.dict"}};
    writeFile(written.folder + "/sample.index", sample.index);
    writeFile(written.folder + "/sample.dict", sample.data);
    announceOfflineLoad();
    std::thread loading([&written]() {
        // Late, as a loading thread may start on a busy computer.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const char* folders[] = {written.folder.c_str()};
        loadOfflineDictionaries(folders, 1);
    });
    EXPECT_EQ(1, offlineDictionaryCount());
    EXPECT_EQ("152 1 matches found\r\nsample \"pear\"\r\n.\r\n250 ok\r\n", answer("match * exact pear"));
    loading.join();
}

// ---- Reading dictzip data

TEST_F(OfflineDictionaries, DictzipRangesAcrossChunksReadAsTheText)
{
    std::string text;
    for (int i = 0; text.size() < 5000; i++)
        text += "line " + std::to_string(i) + " of the text\n";
    std::string file = dictzipOf(text, 1000);
    DataSource source = {(const unsigned char*)file.data(), file.size(), {0, 0, false}};
    DictzipReader reader;
    const char* problem = nullptr;
    ASSERT_TRUE(openDictzip(&source, &reader, &problem)) << problem;
    EXPECT_EQ(text.size(), reader.length);
    const size_t ranges[][2] = {{0, 10}, {990, 20}, {1500, 2600}, {text.size() - 7, 7}, {0, text.size()}};
    for (const auto& range : ranges) {
        std::string read(range[1], '\0');
        ASSERT_TRUE(readDictzipRange(&source, &reader, range[0], &read[0], range[1]));
        EXPECT_EQ(text.substr(range[0], range[1]), read);
    }
    char byte;
    EXPECT_FALSE(readDictzipRange(&source, &reader, text.size(), &byte, 1));
    closeDictzip(&reader);
}

TEST_F(OfflineDictionaries, ADamagedChunkFailsTheReadInsteadOfGivingWrongText)
{
    std::string text(3000, 'x');
    std::string file = dictzipOf(text, 1000);
    // The second chunk's stored bytes begin after the 12 + 16 header bytes and the first chunk.
    size_t firstSize = (unsigned char)file[22] | (unsigned char)file[23] << 8;
    file[28 + firstSize] ^= 0x55;
    DataSource source = {(const unsigned char*)file.data(), file.size(), {0, 0, false}};
    DictzipReader reader;
    const char* problem = nullptr;
    ASSERT_TRUE(openDictzip(&source, &reader, &problem));
    char read[10];
    EXPECT_TRUE(readDictzipRange(&source, &reader, 10, read, sizeof read));
    EXPECT_FALSE(readDictzipRange(&source, &reader, 1500, read, sizeof read));
    closeDictzip(&reader);
}

// ---- Requests against a database in memory

struct Exchange {
    const char* request;
    const char* reply;
};

// Flags kept apart: allchars with utf8 keeps punctuation; headwords compare byte by byte.
const Dictionary computing = dictionaryOf({
    {"00-database-allchars", ""},
    {"00-database-short", "     Computing"},
    {"00-database-utf8", ""},
    {"c", "a language"},
    {"c++", "another"},
});
// Neighbouring lines with the same data, and the same headword apart.
const std::string repeatsData = "aaaa\nbbbb\n";
const std::string repeatsIndex = "a\tA\tF\nA\tA\tF\nA-\tF\tF\na\tA\tF\n";
// A database that is not UTF-8 with an alphabet of its own: lev tries its "1".
const std::string plainData = "1\nab\nab1\n";
const std::string plainIndex = "00-database-alphabet\tA\tC\nab\tC\tD\nab1\tF\tE\n";

TEST_F(OfflineDictionaries, RequestsAreParsedAsDictdParsesThem)
{
    ASSERT_TRUE(addOfflineDictionaryFromMemory("sample", sample.index.data(), sample.index.size(),
                                               sample.data.data(), sample.data.size(), false));
    // The same name again gets a suffix and says where it came from.
    ASSERT_TRUE(addOfflineDictionaryFromMemory("sample", sample.index.data(), sample.index.size(),
                                               sample.data.data(), sample.data.size(), false));
    ASSERT_TRUE(addOfflineDictionaryFromMemory("cpp", computing.index.data(), computing.index.size(),
                                               computing.data.data(), computing.data.size(), false));
    ASSERT_TRUE(addOfflineDictionaryFromMemory("repeats", repeatsIndex.data(), repeatsIndex.size(),
                                               repeatsData.data(), repeatsData.size(), false));
    ASSERT_TRUE(addOfflineDictionaryFromMemory("plain", plainIndex.data(), plainIndex.size(),
                                               plainData.data(), plainData.size(), false));
    const char* processor = "152 1 matches found\r\nsample \"data processor\"\r\n.\r\n250 ok\r\n";
    const Exchange rows[] = {
        {"match sample exact \"data processor\"\r\n", processor},
        {"MATCH sample EXACT 'data processor'", processor},
        {"m sample exact data\\ processor", processor},
        {"match sample exact \"data\" processor", "501 syntax error, illegal parameters\r\n"},
        {"match sample exact data-processor", "552 no match\r\n"},
        {"match Sample exact pear", "550 invalid database, use SHOW DB for list\r\n"},
        {"match sample soundex pear", "551 invalid strategy, use SHOW STRAT for a list\r\n"},
        {"match sample prefix p", "152 1 matches found\r\nsample \"pear\"\r\n.\r\n250 ok\r\n"},
        {"match sample . peer", "152 1 matches found\r\nsample \"pear\"\r\n.\r\n250 ok\r\n"},
        {"define sample", "501 syntax error, illegal parameters\r\n"},
        {"define ! APPLE", "150 1 definitions retrieved\r\n151 \"apple\" sample \"Sample "
                           "Dictionary\"\r\napple\r\na fruit\r\n.\r\n"
                           "250 ok\r\n"},
        {"show db",
         "110 5 databases present\r\nsample \"Sample Dictionary\"\r\nsample-2 \"Sample Dictionary (in "
         "memory)\"\r\ncpp \"Computing\"\r\nrepeats \"repeats\"\r\nplain \"plain\"\r\n.\r\n250 ok\r\n"},
        {"match plain lev ab", "152 1 matches found\r\nplain \"ab1\"\r\n.\r\n250 ok\r\n"},
        {"match cpp exact C++", "152 1 matches found\r\ncpp \"c++\"\r\n.\r\n250 ok\r\n"},
        {"match repeats exact a", "152 4 matches found\r\nrepeats \"a\"\r\nrepeats \"A\"\r\nrepeats "
                                  "\"A-\"\r\nrepeats \"a\"\r\n.\r\n250 ok\r\n"},
        {"define repeats a",
         "150 3 definitions retrieved\r\n151 \"a\" repeats \"repeats\"\r\naaaa\r\n.\r\n151 \"A-\" "
         "repeats \"repeats\"\r\nbbbb\r\n.\r\n151 \"a\" repeats \"repeats\"\r\naaaa\r\n.\r\n250 ok\r\n"},
        {"show strat", "501 syntax error, illegal parameters\r\n"},
        {"client lexitray", "500 unknown command\r\n"},
        {"", "500 unknown command\r\n"},
    };
    for (const Exchange& row : rows)
        EXPECT_EQ(row.reply, answer(row.request)) << row.request;
}

TEST_F(OfflineDictionaries, BodiesAreDotStuffedWithCrLfLines)
{
    Dictionary dotted = dictionaryOf({{"ellipsis", "...\n.\nend"}});
    ASSERT_TRUE(addOfflineDictionaryFromMemory("dots", dotted.index.data(), dotted.index.size(),
                                               dotted.data.data(), dotted.data.size(), false));
    EXPECT_EQ(
        // As dictd sends it: only a line of one dot is doubled.
        "150 1 definitions retrieved\r\n151 \"ellipsis\" dots \"dots\"\r\nellipsis\r\n...\r\n..\r\nend\r\n."
        "\r\n250 ok\r\n",
        answer("define dots ellipsis"));
}

#ifndef _WIN32
// Case folding is the C library's in C.UTF-8, for every code point (Windows' towlower differs).
TEST(OfflineCharacters, CaseFoldingIsTheCLibrarysInCUtf8)
{
    char* saved = strdup(setlocale(LC_CTYPE, nullptr));
    ASSERT_NE(nullptr, setlocale(LC_CTYPE, "C.UTF-8"));
    int differences = 0;
    for (uint32_t c = 0; c <= 0x10FFFF; c++) {
        if (lowerCodePoint(c) != (uint32_t)towlower((wint_t)c) && differences++ < 5)
            ADD_FAILURE() << std::hex << c << " lowers to " << lowerCodePoint(c);
    }
    EXPECT_EQ(0, differences);
    setlocale(LC_CTYPE, saved);
    free(saved);
}
#endif

// ---- Against the real dictd

// The address of the dictd the comparison asks: one the test script started (LEXITRAY_REAL_DICTD serves
// the English databases, LEXITRAY_FREEDICT_DICTD FreeDict's German-English one), or null.
const char* comparedDictd = nullptr;
const char* dictdAt(const char* variable)
{
    const char* address = getenv(variable);
    return address != nullptr && address[0] != '\0' ? address : nullptr;
}
const char* realDictd() { return comparedDictd != nullptr ? comparedDictd : dictdAt("LEXITRAY_REAL_DICTD"); }

#ifndef _WIN32
std::string rawReply(const std::string& request)
{
    std::string text = dictdConversation(realDictd(), request + "\r\nquit\r\n", rawTimeoutMs);
    // Without the greeting, the closing line and the statistics after "250 ok".
    size_t start = text.find("\r\n");
    text = start == std::string::npos ? std::string() : text.substr(start + 2);
    size_t bye = text.rfind("221 ");
    if (bye != std::string::npos)
        text.resize(bye);
    // The final status line's statistics ("250 ok [d/m/c = ...]", "552 no match [...]").
    size_t statistics = text.rfind(" [d/m/c = ");
    if (statistics != std::string::npos && text.find("\r\n", statistics) == text.size() - 2)
        text = text.substr(0, statistics) + "\r\n";
    return text;
}

// Splits the replies to requests sent one after another on one connection: each ends with its final
// status line, and text blocks (after 110, 151, 152) end with a line of one dot.
std::vector<std::string> splitReplies(const std::string& text)
{
    std::vector<std::string> replies;
    std::string reply;
    bool inBlock = false;
    size_t at = text.find("\r\n");  // after the greeting
    while (at != std::string::npos && at + 2 < text.size()) {
        size_t end = text.find("\r\n", at + 2);
        if (end == std::string::npos)
            break;
        std::string line = text.substr(at + 2, end - at - 2);
        at = end;
        if (inBlock) {
            reply += line + "\r\n";
            inBlock = line != ".";
            continue;
        }
        if (line.compare(0, 4, "221 ") == 0)
            break;
        size_t statistics = line.find(" [d/m/c = ");
        if (statistics != std::string::npos)
            line.resize(statistics);
        reply += line + "\r\n";
        std::string code = line.substr(0, 3);
        if (code == "110" || code == "151" || code == "152")
            inBlock = true;
        else if (code != "150") {
            replies.push_back(reply);
            reply.clear();
        }
    }
    return replies;
}

// The requests a sample asks about one headword: as it is, in capitals, punctuated, its prefix, two
// misspellings for lev, and its definitions. Empty when it cannot be put in a request.
std::vector<std::string> requestsAbout(const std::string& database, const std::string& headword)
{
    if (headword.empty() || headword.size() > 200 ||
        headword.find_first_of("\"\\\r\n\t") != std::string::npos)
        return {};
    std::string upper = headword;
    for (char& c : upper)
        c = c >= 'a' && c <= 'z' ? (char)(c - 32) : c;
    // Where each character starts: the misspellings change whole characters.
    std::vector<size_t> starts;
    for (size_t at = 0; at < headword.size(); at++) {
        if (((unsigned char)headword[at] & 0xC0) != 0x80)
            starts.push_back(at);
    }
    starts.push_back(headword.size());
    size_t count = starts.size() - 1;
    std::string swapped = headword;
    if (count >= 2) {
        size_t a = starts[count - 2], b = starts[count - 1];
        swapped = headword.substr(0, a) + headword.substr(b) + headword.substr(a, b - a);
    }
    std::string shorter = headword.substr(0, starts[count / 2]) + headword.substr(starts[count / 2 + 1]);
    std::string prefix = headword.substr(0, starts[(count + 1) / 2]);
    auto quoted = [](const std::string& word) { return "\"" + word + "\""; };
    return {"match " + database + " exact " + quoted(headword),
            "match " + database + " exact " + quoted(upper),
            "match " + database + " exact " + quoted(headword + "!"),
            "match " + database + " exact " + quoted("-" + headword),
            "match " + database + " prefix " + quoted(prefix),
            "match " + database + " lev " + quoted(swapped),
            "match " + database + " lev " + quoted(shorter),
            "define " + database + " " + quoted(headword)};
}

// Whether the text is UTF-8 (dictd answers other bytes with an error of its own).
bool isUtf8(const std::string& text)
{
    for (size_t at = 0; at < text.size();) {
        uint32_t c;
        size_t size = decodeUtf8((const unsigned char*)text.data() + at, text.size() - at, &c);
        if (size == 0)
            return false;
        at += size;
    }
    return true;
}

// Asks the dictd and the offline reader the same sample of requests about one database's index: every
// step-th headword (every one with step 1). Returns how many were compared; differences fail the test.
int compareSample(const std::string& database, const std::string& indexPath, size_t step)
{
    std::string index;
    FILE* file = fopen(indexPath.c_str(), "rb");
    if (file == nullptr)
        return 0;
    char piece[65536];
    size_t got;
    while ((got = fread(piece, 1, sizeof piece, file)) > 0)
        index.append(piece, got);
    fclose(file);
    std::vector<std::string> requests;
    size_t line = 0;
    for (size_t at = 0; at < index.size(); line++) {
        size_t end = index.find('\n', at);
        end = end == std::string::npos ? index.size() : end;
        std::string entry = index.substr(at, end - at);
        at = end + 1;
        if (line % step != 0 && entry.compare(0, 11, "00-database") != 0 &&
            entry.compare(0, 10, "00database") != 0)
            continue;
        size_t tab = entry.find('\t');
        size_t lastTab = entry.rfind('\t');
        std::string headword = entry.substr(0, tab);
        // A fourth column is the headword as written.
        if (std::count(entry.begin(), entry.end(), '\t') == 3)
            headword = entry.substr(lastTab + 1);
        if (!isUtf8(headword))
            continue;
        for (const std::string& request : requestsAbout(database, headword))
            requests.push_back(request);
    }
    const size_t batch = 200;
    int differences = 0;
    for (size_t first = 0; first < requests.size(); first += batch) {
        size_t last = std::min(requests.size(), first + batch);
        std::string sent;
        for (size_t i = first; i < last; i++)
            sent += requests[i] + "\r\n";
        std::vector<std::string> replies =
            splitReplies(dictdConversation(realDictd(), sent + "quit\r\n", rawTimeoutMs));
        if (replies.size() != last - first) {
            ADD_FAILURE() << replies.size() << " replies from the dictd to " << requests[first]
                          << " and after";
            return (int)first;
        }
        for (size_t i = first; i < last; i++) {
            std::string offline = answer(requests[i]);
            if (offline != replies[i - first] && differences++ < 10)
                ADD_FAILURE() << requests[i] << "\n  dictd:   " << replies[i - first]
                              << "\n  offline: " << offline;
        }
    }
    EXPECT_EQ(0, differences) << "of " << requests.size() << " requests to " << database;
    return (int)requests.size();
}

std::vector<std::string> servedDatabases()
{
    std::vector<std::string> names;
    std::string list = rawReply("show db");
    size_t at = list.find("\r\n");
    while (at != std::string::npos && at + 2 < list.size()) {
        size_t end = list.find("\r\n", at + 2);
        std::string line = list.substr(at + 2, end - at - 2);
        if (line == "." || end == std::string::npos)
            break;
        names.push_back(line.substr(0, line.find(' ')));
        at = end;
    }
    return names;
}
#endif

// Loads what the dictd at realDictd() serves and compares their answers to a table of requests.
void compareWithRealDictd()
{
    ASSERT_EQ(netStartup(), 1);
#ifdef _WIN32
    GTEST_SKIP()
        << "the served databases are linked into folders with POSIX calls: compared in the native run";
#else
    // Each database the dictd serves, linked into a folder of its own so that they load in its order.
    const char* stateDir = getenv("LEXITRAY_DICTD_DIR");
    std::string state = stateDir != nullptr ? stateDir : "/tmp/lexitray-dictd";
    std::string places[] = {state, state + "-computing", "/usr/share/dictd"};
    std::vector<std::string> served = servedDatabases();
    std::vector<std::string> folders;
    std::vector<std::string> links;
    for (size_t i = 0; i < served.size(); i++) {
        std::string folder = temporaryFolder("served-" + std::to_string(i));
        for (const std::string& place : places) {
            std::string index = place + "/" + served[i] + ".index";
            if (access(index.c_str(), R_OK) != 0)
                continue;
            for (const char* ending : {".index", ".dict.dz", ".dict"}) {
                std::string link = folder + "/" + served[i] + ending;
                remove(link.c_str());
                if (symlink((place + "/" + served[i] + ending).c_str(), link.c_str()) == 0)
                    links.push_back(link);
            }
            break;
        }
        folders.push_back(folder);
    }
    std::vector<const char*> folderNames;
    for (const std::string& folder : folders)
        folderNames.push_back(folder.c_str());
    int loaded = loadOfflineDictionaries(folderNames.data(), (int)folderNames.size());
    // The samples read the indexes through the links; every headword when LEXITRAY_COMPARE_ALL is 1
    // (scripts/compare-offline), only the database LEXITRAY_COMPARE_ONLY names when it names one.
    const char* all = getenv("LEXITRAY_COMPARE_ALL");
    const char* only = getenv("LEXITRAY_COMPARE_ONLY");
    const size_t sampledHeadwords = 260;
    for (size_t i = 0; i < served.size() && loaded == (int)served.size(); i++) {
        if (only != nullptr && only[0] != '\0' && served[i] != only)
            continue;
        std::string index = folders[i] + "/" + served[i] + ".index";
        size_t lines = 0;
        FILE* file = fopen(index.c_str(), "rb");
        for (int c; file != nullptr && (c = fgetc(file)) != EOF;)
            lines += c == '\n';
        if (file != nullptr)
            fclose(file);
        size_t step = all != nullptr && all[0] == '1' ? 1 : std::max<size_t>(1, lines / sampledHeadwords);
        printf("  %s: %d requests about its headwords compared\n", served[i].c_str(),
               compareSample(served[i], index, step));
    }
    for (const std::string& link : links)
        remove(link.c_str());
    ASSERT_EQ((int)served.size(), loaded) << (offlineRefusalCount() > 0 ? offlineRefusal(0) : "");

    struct Row {
        const char* request;
        const char* needs;  // a database the row needs, or null
    };
    const Row rows[] = {
        {"show db", nullptr},
        {"SHOW DATABASES", nullptr},
        {"match * exact hack", nullptr},
        {"match ! exact hack", nullptr},
        {"match wn exact Hack", "wn"},
        {"match * prefix serendip", nullptr},
        {"match gcide prefix \"data proc\"", "gcide"},
        {"match * lev serendipty", nullptr},
        {"match wn lev hous", "wn"},
        {"match * . hous", nullptr},
        {"match * lev book", nullptr},
        {"match gcide exact \"h-a-c-k\"", "gcide"},
        {"match wn exact \"ROCK'N'ROLL\"", "wn"},
        {"match wn exact \"rock n roll\"", "wn"},
        {"match * exact \"data  processor\"", nullptr},
        {"match * exact data\\ processor", nullptr},
        {"match * exact 00-database-short", nullptr},
        {"match nowhere exact hack", nullptr},
        {"match wn exact", "wn"},
        {"define wn serendipity", "wn"},
        {"define * hack", nullptr},
        {"define ! hack", nullptr},
        {"define gcide \"rock'n'roll\"", "gcide"},
        {"define wn \"rock'n'roll\"", "wn"},
        {"define * zzzqqq", nullptr},
        {"define freedict-deu-eng Mädchen", "freedict-deu-eng"},
        {"match freedict-deu-eng lev mädchen", "freedict-deu-eng"},
        {"match freedict-deu-eng exact \"Mäd-chen\"", "freedict-deu-eng"},
        {"match freedict-deu-eng prefix haus", "freedict-deu-eng"},
        {"match foldoc exact C++", "foldoc"},
        {"match foldoc exact \".NET\"", "foldoc"},
        {"define jargon -oid", "jargon"},
        {"match jargon exact \"(tm)\"", "jargon"},
        {"match jargon lev hakc", "jargon"},
        {"define gcide aardvark", "gcide"},
        // Case folding and the characters that count, as the C library has them in C.UTF-8.
        {"match letters exact ȘIR", "letters"},
        {"match letters exact ŢARĂ", "letters"},
        {"match letters exact ҐАНОК", "letters"},
        {"match letters exact ὉΔΌΣ", "letters"},
        {"match letters exact ἈΘΗ͂ΝΑΙ", "letters"},
        {"match letters exact \"ἀθῆναι\"", "letters"},
        {"match letters exact \"ἀθῆναι\"", "letters"},
        {"match letters exact \"café\"", "letters"},
        {"match letters exact ԲԱՐԵՒ", "letters"},
        {"match letters exact ＡＢＣ", "letters"},
        {"match letters exact İSTANBUL", "letters"},
        {"match letters exact ISTANBUL", "letters"},
        {"match letters exact café", "letters"},
        {"match letters exact café😀", "letters"},
        {"match letters exact ca​fé", "letters"},
        {"match letters exact NAÏVE", "letters"},
        {"match letters exact STRASSE", "letters"},
        {"match letters exact ǄEMAL", "letters"},
        {"match letters exact ΒETA", "letters"},
        {"match letters prefix ș", "letters"},
        {"match letters lev ȘIT", "letters"},
        {"define letters İstanbul", "letters"},
        {"match gcide exact a", "gcide"},
        {"match gcide exact auto", "gcide"},
        {"frobnicate", nullptr},
    };
    int compared = 0;
    for (const Row& row : rows) {
        bool present = row.needs == nullptr;
        for (const std::string& name : served)
            present = present || name == row.needs;
        if (!present) {
            printf("  (not compared: the dictd does not serve %s) %s\n", row.needs, row.request);
            continue;
        }
        EXPECT_EQ(rawReply(row.request), answer(row.request)) << row.request;
        compared++;
    }
    printf("  %d requests compared with the dictd on %s\n", compared, realDictd());
#endif
}

TEST_F(OfflineDictionaries, RepliesAreTheRealDictdsByteForByte)
{
    if (realDictd() == nullptr)
        GTEST_SKIP()
            << "LEXITRAY_REAL_DICTD is not set: no local dictd was started (scripts/test starts one)";
    compareWithRealDictd();
}

// The same with the dictd that serves FreeDict's German-English dictionary alone.
TEST_F(OfflineDictionaries, RepliesAreTheRealDictdsByteForByteInGermanToo)
{
    comparedDictd = dictdAt("LEXITRAY_FREEDICT_DICTD");
    if (comparedDictd == nullptr)
        GTEST_SKIP()
            << "LEXITRAY_FREEDICT_DICTD is not set: no FreeDict dictd was started (scripts/test starts one)";
    compareWithRealDictd();
    comparedDictd = nullptr;
}

// And with the one serving FOLDOC and the Jargon File, marked both allchars and utf8.
TEST_F(OfflineDictionaries, RepliesAreTheRealDictdsByteForByteForAllcharsDatabases)
{
    comparedDictd = dictdAt("LEXITRAY_COMPUTING_DICTD");
    if (comparedDictd == nullptr)
        GTEST_SKIP()
            << "LEXITRAY_COMPUTING_DICTD is not set: no dictd serving FOLDOC was started (scripts/test "
               "starts one)";
    compareWithRealDictd();
    comparedDictd = nullptr;
}

}  // namespace
