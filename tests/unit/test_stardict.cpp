// Tests of the StarDict reader: entry types, look-ups, the file variants, damaged files refused, and the
// same entries as sdcv finds in Debian's dictionaries.
#include <gtest/gtest.h>
#include <zlib.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <direct.h>
#else
#include <unistd.h>
#endif

#include <ctype.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/stardict.h"

namespace {

typedef std::vector<std::string> Words;

std::string bigEndian(uint64_t value, int bytes)
{
    std::string out;
    for (int i = bytes - 1; i >= 0; i--)
        out += (char)(value >> (8 * i) & 0xff);
    return out;
}

// The order of a StarDict index: ASCII case ignored, then byte by byte.
bool indexOrder(const std::string& a, const std::string& b)
{
    auto fold = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
    for (size_t i = 0; i < a.size() && i < b.size(); i++) {
        if (fold(a[i]) != fold(b[i]))
            return fold(a[i]) < fold(b[i]);
    }
    return a.size() != b.size() ? a.size() < b.size() : a < b;
}

std::string gzipOf(const std::string& text, int windowBits)
{
    z_stream stream = {};
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, text.size()) + 64, '\0');
    stream.next_in = (Bytef*)text.data();
    stream.avail_in = (uInt)text.size();
    stream.next_out = (Bytef*)&out[0];
    stream.avail_out = (uInt)out.size();
    deflate(&stream, windowBits < 0 ? Z_FULL_FLUSH : Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// The text as dictzip stores it: one raw deflate chunk per chunkLength bytes, listed in the "RA" field.
std::string dictzipOf(const std::string& text, unsigned chunkLength)
{
    std::string chunks, sizes;
    for (size_t at = 0; at < text.size(); at += chunkLength) {
        std::string chunk = gzipOf(text.substr(at, chunkLength), -15);
        chunks += chunk;
        sizes += (char)(chunk.size() & 0xff);
        sizes += (char)(chunk.size() >> 8);
    }
    auto little16 = [](size_t v) { return std::string(1, (char)(v & 0xff)) + (char)(v >> 8 & 0xff); };
    std::string extra = "RA" + little16(6 + sizes.size()) + little16(1) + little16(chunkLength) +
                        little16(sizes.size() / 2) + sizes;
    std::string file =
        std::string("\x1f\x8b\x08\x04\0\0\0\0\x02\x03", 10) + little16(extra.size()) + extra + chunks;
    uLong crc = crc32(0, (const Bytef*)text.data(), (uInt)text.size());
    for (int i = 0; i < 4; i++)
        file += (char)(crc >> (8 * i) & 0xff);
    for (int i = 0; i < 4; i++)
        file += (char)(text.size() >> (8 * i) & 0xff);
    return file;
}

// A dictionary's files as a test writes them.
struct Files {
    std::string ifo, idx, syn, dict;
    bool idxZipped, dictZipped;
};

struct Entry {
    std::string word, data;
};

// The headwords sorted as StarDict sorts them, their data one after another in the .dict.
Files dictionaryOf(std::vector<Entry> entries, const std::string& typeSequence, bool offsets64 = false,
                   const std::vector<std::pair<std::string, uint32_t>>& synonyms = {})
{
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return indexOrder(a.word, b.word); });
    Files files = {"", "", "", "", false, false};
    for (const Entry& entry : entries) {
        files.idx += entry.word + '\0' + bigEndian(files.dict.size(), offsets64 ? 8 : 4) +
                     bigEndian(entry.data.size(), 4);
        files.dict += entry.data;
    }
    std::vector<std::pair<std::string, uint32_t>> sorted = synonyms;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const std::pair<std::string, uint32_t>& a,
                        const std::pair<std::string, uint32_t>& b) { return indexOrder(a.first, b.first); });
    for (const auto& synonym : sorted)
        files.syn += synonym.first + '\0' + bigEndian(synonym.second, 4);
    files.ifo = std::string("StarDict's dict ifo file\nversion=") + (offsets64 ? "3.0.0" : "2.4.2") +
                "\nbookname=Test Book\nwordcount=" + std::to_string(entries.size()) +
                "\nidxfilesize=" + std::to_string(files.idx.size()) +
                "\ndescription=First line<br>second &amp; last\n";
    if (offsets64)
        files.ifo += "idxoffsetbits=64\n";
    if (!typeSequence.empty())
        files.ifo += "sametypesequence=" + typeSequence + "\n";
    if (!synonyms.empty())
        files.ifo += "synwordcount=" + std::to_string(synonyms.size()) + "\n";
    return files;
}

// Opens the files from memory; the problem when refused.
struct Opened {
    Files files;
    StardictDictionary dict;
    const char* problem;
    bool open;
    explicit Opened(const Files& given) : files(given), problem(nullptr)
    {
        StardictBytes bytes = {files.ifo.data(),  files.ifo.size(),
                               files.idx.data(),  files.idx.size(),
                               files.idxZipped,   files.syn.empty() ? nullptr : files.syn.data(),
                               files.syn.size(),  (const unsigned char*)files.dict.data(),
                               files.dict.size(), files.dictZipped};
        open = openStardictFromMemory(&bytes, &dict, &problem);
    }
    ~Opened() { closeStardict(&dict); }
    std::string definition(uint32_t entry)
    {
        size_t length = 0;
        const char* why = nullptr;
        char* text = readStardictDefinition(&dict, entry, &length, &why);
        std::string result = text != nullptr ? std::string(text, length) : std::string("refused: ") + why;
        free(text);
        return result;
    }
    Words headwords(const StardictMatches& matches)
    {
        Words words;
        for (int i = 0; i < matches.count; i++) {
            size_t length;
            words.push_back(stardictHeadword(&dict, matches.entries[i], &length));
        }
        return words;
    }
};

// ---- Entry types

struct TypeCase {
    const char* what;
    const char* typeSequence;
    std::string data;
    const char* shown;
};

TEST(Stardict, EachEntryTypeIsShownAsText)
{
    const std::string z(1, '\0');
    const TypeCase rows[] = {
        {"plain text", "m", "one\ntwo", "one\ntwo"},
        {"phonetics then text", "tm", "ˈtɛst" + z + "a trial", "[ˈtɛst]\na trial"},
        {"Pango markup", "g", "<b>bold</b> &amp; &lt;x&gt; &#233;&#x4E2D;<br/>next", "bold & <x> é中\nnext"},
        {"XDXF", "x", "<k>word</k><br><dtrn>meaning &quot;q&quot;</dtrn>", "word\nmeaning \"q\""},
        {"HTML", "h", "<p>one\nline</p><div>two</div><script>x</script><style>p{}</style>end",
         "one line\ntwo\nend"},
        {"markup left unclosed and unknown entities", "g", "a &bogus; &#0; &#xD800; b < c",
         "a &bogus; &#0; &#xD800; b < c"},
        {"a picture before text", "Pm", bigEndian(3, 4) + "PNG" + "caption",
         "(a picture, not shown)\ncaption"},
        {"the last text part's zero", "m", "text" + z, "text"},
        {"types named in each entry", "",
         "m" + std::string("first") + z + "W" + bigEndian(2, 4) + "ab" + "y" + "kana" + z + "k" + "x" + z,
         "first\n(a sound, not shown)\nkana\n(KingSoft data, not shown)"},
        {"an empty text part", "", "m" + z + "t" + std::string("p") + z, "[p]"},
        {"a text part not ended", "", "mabc", "refused: a text part of an entry is not ended"},
        {"a part longer than the entry", "", "W" + bigEndian(9, 4) + "ab",
         "refused: a part of an entry is longer than the entry"},
        {"a size cut short", "", "P" + std::string("ab"), "refused: an entry ends inside the size of a part"},
        {"a type that is no letter", "", "1abc" + z, "refused: an entry names a type that is not a letter"},
    };
    for (const TypeCase& row : rows) {
        SCOPED_TRACE(row.what);
        Opened opened(dictionaryOf({{"word", row.data}}, row.typeSequence));
        ASSERT_TRUE(opened.open) << opened.problem;
        EXPECT_EQ(row.shown, opened.definition(0));
    }
    Opened opened(dictionaryOf({{"word", "x"}}, "m"));
    EXPECT_STREQ("Test Book", opened.dict.bookname);
    EXPECT_STREQ("First line\nsecond & last", opened.dict.description);
    stardictLimits.maxDefinitionBytes = 0;
    EXPECT_EQ("refused: an entry is larger than the largest entry read", opened.definition(0));
    stardictLimits = stardictDefaultLimits;
}

// ---- Look-ups

const std::vector<Entry> lookupEntries = {
    {"perl", "1"}, {"Perl", "2"}, {"ACV", "3"},   {"apple", "4"}, {"applet", "5"},   {"Apples", "6"},
    {"čaj", "7"},  {"Řím", "8"},  {"Praha", "9"}, {"ÿes", "10"},  {"Σίσυφος", "11"}, {"apply", "12"},
};
const std::vector<std::pair<std::string, uint32_t>> lookupSynonyms = {
    {"pomme", 1}, {"apple", 1}, {"Rome", 10}};

struct LookupCase {
    const char* word;
    Words exact, prefix, near;
};

TEST(Stardict, WordsAreFoundAsSdcvFindsThemWithPrefixAndNearCandidates)
{
    const LookupCase rows[] = {
        {"perl", {"perl"}, {"Perl", "perl"}, {}},
        {"Perl", {"Perl"}, {"Perl", "perl"}, {}},
        {"PERL", {"perl"}, {"Perl", "perl"}, {}},
        {"acv", {"ACV"}, {"ACV"}, {}},
        {"pRAHA", {"Praha"}, {"Praha"}, {}},
        {"ČAJ", {"čaj"}, {}, {}},
        {"řÍM", {"Řím"}, {}, {}},
        {"ŸES", {"ÿes"}, {}, {}},
        {"ΣΊΣΥΦΟΣ", {"Σίσυφος"}, {}, {}},
        {"pomme", {"apple"}, {}, {}},
        {"apple", {"apple"}, {"apple", "Apples", "applet"}, {"Apples", "applet", "apply"}},
        {"rome", {"Řím"}, {}, {}},
        {"aple", {}, {}, {"apple"}},
        {"appel", {}, {}, {"apple"}},
        {"Říím", {}, {}, {"Řím"}},
        {"ap", {}, {"apple", "Apples", "applet", "apply"}, {}},
        {"banana", {}, {}, {}},
    };
    Opened opened(dictionaryOf(lookupEntries, "m", false, lookupSynonyms));
    ASSERT_TRUE(opened.open) << opened.problem;
    for (const LookupCase& row : rows) {
        SCOPED_TRACE(row.word);
        StardictMatches exact = {}, prefix = {}, near = {};
        EXPECT_EQ(!row.exact.empty(), findStardictWord(&opened.dict, row.word, strlen(row.word), &exact));
        findStardictPrefix(&opened.dict, row.word, strlen(row.word), 10, &prefix);
        findStardictNear(&opened.dict, row.word, strlen(row.word), &near);
        EXPECT_EQ(row.exact, opened.headwords(exact));
        EXPECT_EQ(row.prefix, opened.headwords(prefix));
        EXPECT_EQ(row.near, opened.headwords(near));
        releaseStardictMatches(&exact);
        releaseStardictMatches(&prefix);
        releaseStardictMatches(&near);
    }
    StardictMatches limited = {};
    findStardictPrefix(&opened.dict, "a", 1, 2, &limited);
    EXPECT_EQ(Words({"ACV", "apple"}), opened.headwords(limited));
    EXPECT_TRUE(limited.full);
    releaseStardictMatches(&limited);
}

// ---- File variants

TEST(Stardict, ZippedIndexesAndDataAndBothOffsetSizesReadAlike)
{
    std::string longText(70000, 'q');
    std::vector<Entry> entries = lookupEntries;
    entries.push_back({"long", longText});
    for (int variant = 0; variant < 8; variant++) {
        bool offsets64 = variant & 1, idxZipped = variant & 2, dictZipped = variant & 4;
        SCOPED_TRACE(variant);
        Files files = dictionaryOf(entries, "m", offsets64, lookupSynonyms);
        if (idxZipped)
            files.idx = gzipOf(files.idx, 16 + 15);
        if (dictZipped)
            files.dict = dictzipOf(files.dict, 1000);
        files.idxZipped = idxZipped;
        files.dictZipped = dictZipped;
        Opened opened(files);
        ASSERT_TRUE(opened.open) << opened.problem;
        ASSERT_EQ(entries.size(), opened.dict.wordCount);
        for (uint32_t i = 0; i < opened.dict.wordCount; i++) {
            size_t length;
            std::string word = stardictHeadword(&opened.dict, i, &length);
            auto found =
                std::find_if(entries.begin(), entries.end(), [&](const Entry& e) { return e.word == word; });
            ASSERT_NE(entries.end(), found) << word;
            EXPECT_EQ(found->data, opened.definition(i)) << word;
        }
    }
}

// ---- Damaged files

struct Damage {
    const char* what;
    void (*damage)(Files* files);
    const char* problem;
};

void replaceIn(std::string* text, const std::string& from, const std::string& to)
{
    size_t at = text->find(from);
    ASSERT_NE(std::string::npos, at) << from;
    text->replace(at, from.size(), to);
}

TEST(Stardict, DamagedFilesAreRefusedWithWhatIsWrong)
{
    // Two entries "first" and "second" of 5 and 6 bytes; the .idx is 2 * (6 + 8) + 1 = 29 bytes.
    const Damage rows[] = {
        {"another first line", [](Files* f) { f->ifo[0] = 's'; },
         "does not begin with StarDict's first line"},
        {"version 2.4.1", [](Files* f) { replaceIn(&f->ifo, "2.4.2", "2.4.1"); },
         "names a version other than"},
        {"no bookname", [](Files* f) { replaceIn(&f->ifo, "bookname=Test Book", "x"); }, "has no bookname"},
        {"no wordcount", [](Files* f) { replaceIn(&f->ifo, "wordcount=2", "x"); }, "has no wordcount"},
        {"a wordcount of 0", [](Files* f) { replaceIn(&f->ifo, "wordcount=2", "wordcount=0"); },
         "has no wordcount"},
        {"a wordcount too large", [](Files* f) { replaceIn(&f->ifo, "wordcount=2", "wordcount=4294967296"); },
         "wordcount is not a number"},
        {"a wordcount the index cannot hold",
         [](Files* f) { replaceIn(&f->ifo, "wordcount=2", "wordcount=4294967295"); },
         "too short for the .ifo's wordcount"},
        {"one headword more than counted", [](Files* f) { replaceIn(&f->ifo, "wordcount=2", "wordcount=1"); },
         "more headwords than the .ifo's wordcount"},
        {"one headword less than counted",
         [](Files* f) {
             replaceIn(&f->idx, "first", "firstfirstfirst");
             replaceIn(&f->ifo, "idxfilesize=29", "idxfilesize=39");
             replaceIn(&f->ifo, "wordcount=2", "wordcount=3");
         },
         "fewer headwords than the .ifo's wordcount"},
        {"no idxfilesize", [](Files* f) { replaceIn(&f->ifo, "idxfilesize=29", "x"); }, "has no idxfilesize"},
        {"another idxfilesize", [](Files* f) { replaceIn(&f->ifo, "idxfilesize=29", "idxfilesize=30"); },
         "size is not the .ifo's idxfilesize"},
        {"48-bit offsets", [](Files* f) { f->ifo += "idxoffsetbits=48\n"; }, "neither 32 nor 64"},
        {"a type that is no letter", [](Files* f) { f->ifo += "sametypesequence=m1\n"; },
         "names a type that is not"},
        {"a zero byte", [](Files* f) { f->ifo += std::string("author=a\0b\n", 11); }, "holds a zero byte"},
        {"an empty headword", [](Files* f) { f->idx[0] = '\0'; }, "holds an empty headword"},
        {"a headword of 256 bytes",
         [](Files* f) {
             replaceIn(&f->idx, "first", std::string(256, 'f'));
             replaceIn(&f->ifo, "idxfilesize=29", "idxfilesize=280");
         },
         "headword of more than 255 bytes"},
        {"a headword not ended",
         [](Files* f) {
             f->idx.resize(20);
             replaceIn(&f->ifo, "idxfilesize=29", "idxfilesize=20");
         },
         "ends inside a headword"},
        {"an entry cut short",
         [](Files* f) {
             f->idx.resize(27);
             replaceIn(&f->ifo, "idxfilesize=29", "idxfilesize=27");
         },
         "ends inside an entry"},
        {"an entry past the data", [](Files* f) { f->idx[27] = 7; }, "beyond the end of the .dict file"},
        {"an offset past the data", [](Files* f) { f->idx[9] = 12; }, "beyond the end of the .dict file"},
        // 0xFFFFFFFF + 2 wraps to 1 in 32 bits: the sum must never be formed.
        {"an offset and size that wrap",
         [](Files* f) { f->idx.replace(21, 8, bigEndian(2, 4) + bigEndian(0xFFFFFFFF, 4)); },
         "beyond the end of the .dict file"},
        {"a .syn without synwordcount", [](Files* f) { f->syn = std::string("s\0", 2) + bigEndian(0, 4); },
         "has no synwordcount"},
        {"a synonym past the last headword",
         [](Files* f) {
             f->syn = std::string("s\0", 2) + bigEndian(2, 4);
             f->ifo += "synwordcount=1\n";
         },
         "points past the last headword"},
        {"a synonym cut short",
         [](Files* f) {
             f->syn = std::string("s\0", 2) + bigEndian(0, 3);
             f->ifo += "synwordcount=1\n";
         },
         "too short for the .ifo's synwordcount"},
        {"a synonym more than counted",
         [](Files* f) {
             f->syn = std::string("s\0", 2) + bigEndian(0, 4) + "t" + '\0' + bigEndian(1, 4);
             f->ifo += "synwordcount=1\n";
         },
         "more synonyms than the .ifo's synwordcount"},
        {"a .idx.gz that is no gzip", [](Files* f) { f->idxZipped = true; }, "not a whole gzip file"},
        {"a .idx.gz cut short",
         [](Files* f) {
             f->idx = gzipOf(f->idx, 31).substr(0, 20);
             f->idxZipped = true;
         },
         "not a whole gzip file"},
        {"a .idx.gz longer than counted",
         [](Files* f) {
             f->idx = gzipOf(f->idx + "x", 31);
             f->idxZipped = true;
         },
         "inflates to more than the .ifo's idxfilesize"},
        {"a .idx.gz shorter than counted",
         [](Files* f) {
             f->idx = gzipOf(f->idx.substr(1), 31);
             f->idxZipped = true;
         },
         "inflates to less than"},
        // On the 32-bit build idxfilesize + 1 would wrap to a 0-byte block.
        {"a .idx.gz of 4 GiB",
         [](Files* f) {
             replaceIn(&f->ifo, "idxfilesize=29", "idxfilesize=4294967295");
             f->idxZipped = true;
         },
         "more than the largest index read"},
        {"a damaged .dict.dz",
         [](Files* f) {
             f->dict = dictzipOf(f->dict, 4).substr(0, 12);
             f->dictZipped = true;
         },
         "too short to be a dictzip file"},
    };
    for (const Damage& row : rows) {
        SCOPED_TRACE(row.what);
        Files files = dictionaryOf({{"first", "aaaaa"}, {"second", "bbbbbb"}}, "m");
        ASSERT_EQ(29u, files.idx.size());
        row.damage(&files);
        Opened opened(files);
        ASSERT_FALSE(opened.open);
        EXPECT_NE(nullptr, strstr(opened.problem, row.problem)) << opened.problem;
        EXPECT_EQ(nullptr, opened.dict.words);
    }
    stardictLimits.maxIndexBytes = 28;
    Opened large(dictionaryOf({{"first", "aaaaa"}, {"second", "bbbbbb"}}, "m"));
    stardictLimits = stardictDefaultLimits;
    EXPECT_STREQ("the .idx file is larger than the largest index read", large.problem);
}

// ---- Files on disk

std::string folderOfItsOwn(const std::string& name)
{
    const char* base = getenv("TMPDIR");
    std::string folder = std::string(base != nullptr ? base : "/tmp") + "/lexitray-stardict-" + name;
#ifdef _WIN32
    _mkdir(folder.c_str());
#else
    mkdir(folder.c_str(), 0755);
#endif
    return folder;
}

// Removes the files it was given when it goes, whatever the test did.
struct WrittenFiles {
    std::string folder;
    Words names;
    ~WrittenFiles()
    {
        for (const std::string& name : names)
            remove((folder + "/" + name).c_str());
#ifdef _WIN32
        _rmdir(folder.c_str());
#else
        rmdir(folder.c_str());
#endif
    }
    void write(const std::string& name, const std::string& bytes)
    {
        names.push_back(name);
        FILE* file = fopen((folder + "/" + name).c_str(), "wb");
        ASSERT_NE(nullptr, file);
        fwrite(bytes.data(), 1, bytes.size(), file);
        fclose(file);
    }
};

TEST(Stardict, TheFilesBesideTheIfoAreFoundAndRefusalsSayWhy)
{
    WrittenFiles written = {folderOfItsOwn("files"), {}};
    Files files = dictionaryOf(lookupEntries, "m", true, lookupSynonyms);
    written.write("book.ifo", files.ifo);
    written.write("book.idx.gz", gzipOf(files.idx, 31));
    written.write("book.syn", files.syn);
    written.write("book.dict.dz", dictzipOf(files.dict, 8));
    written.write("lonely.ifo", files.ifo);
    written.write("lonely.idx", files.idx);
    written.write("empty.ifo", "");
    StardictDictionary dict;
    const char* problem = nullptr;
    ASSERT_TRUE(openStardict((written.folder + "/book.ifo").c_str(), &dict, &problem)) << problem;
    StardictMatches found = {};
    EXPECT_TRUE(findStardictWord(&dict, "Rome", 4, &found));
    ASSERT_EQ(1, found.count);
    size_t length = 0;
    char* text = readStardictDefinition(&dict, found.entries[0], &length, &problem);
    EXPECT_STREQ("8", text);
    free(text);
    releaseStardictMatches(&found);
    closeStardict(&dict);
    EXPECT_FALSE(openStardict((written.folder + "/lonely.ifo").c_str(), &dict, &problem));
    EXPECT_STREQ("there is no .dict.dz or .dict file beside it", problem);
    EXPECT_FALSE(openStardict((written.folder + "/empty.ifo").c_str(), &dict, &problem));
    EXPECT_STREQ("one of its files is empty", problem);
    EXPECT_FALSE(openStardict((written.folder + "/missing.ifo").c_str(), &dict, &problem));
    EXPECT_STREQ("one of its files cannot be read", problem);
}

// ---- The same entries as sdcv

#ifndef _WIN32
// One sdcv answer: the headwords and definitions it printed for a word.
typedef std::vector<std::pair<std::string, std::string>> Answer;

// Reads one JSON string at text[*at] ('"'), as sdcv writes them.
std::string jsonString(const std::string& text, size_t* at)
{
    std::string out;
    for ((*at)++; *at < text.size() && text[*at] != '"'; (*at)++) {
        if (text[*at] != '\\') {
            out += text[*at];
            continue;
        }
        char c = text[++*at];
        static const char escapes[] = "n\nt\tr\rb\bf\f";
        const char* known = strchr(escapes, c);
        if (c == 'u') {
            unsigned code = (unsigned)strtoul(text.substr(*at + 1, 4).c_str(), nullptr, 16);
            *at += 4;
            char utf8[4];
            int n = code < 0x80 ? 1 : code < 0x800 ? 2 : 3;
            utf8[0] = (char)(n == 1 ? code : n == 2 ? 0xC0 | code >> 6 : 0xE0 | code >> 12);
            if (n == 3)
                utf8[1] = (char)(0x80 | (code >> 6 & 0x3F));
            if (n > 1)
                utf8[n - 1] = (char)(0x80 | (code & 0x3F));
            out.append(utf8, (size_t)n);
        } else {
            out += known != nullptr && c != '\0' ? known[1] : c;
        }
    }
    (*at)++;
    return out;
}

// Asks sdcv for every word at once (-j: one JSON line per word), in folder and for bookname only.
std::vector<Answer> askSdcv(const std::string& folder, const std::string& bookname, const Words& words)
{
    std::string command = "LANG=C.UTF-8 sdcv -n -j -0 -1 -x -2 '" + folder + "' -u '" + bookname + "' --";
    for (const std::string& word : words) {
        std::string quoted = word;
        for (size_t at = 0; (at = quoted.find('\'', at)) != std::string::npos; at += 4)
            quoted.replace(at, 1, "'\\''");
        command += " '" + quoted + "'";
    }
    std::string output;
    FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    char buffer[65536];
    size_t got;
    while (pipe != nullptr && (got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, got);
    if (pipe != nullptr)
        pclose(pipe);
    std::vector<Answer> answers;
    size_t start = 0, end;
    while ((end = output.find('\n', start)) != std::string::npos) {
        std::string line = output.substr(start, end - start);
        start = end + 1;
        if (line.empty() || line[0] != '[')
            continue;
        Answer answer;
        size_t at = 0;
        while ((at = line.find("\"word\":", at)) != std::string::npos) {
            at += 7;
            std::string word = jsonString(line, &at);
            at = line.find("\"definition\":", at) + 13;
            answer.push_back({word, jsonString(line, &at)});
        }
        answers.push_back(answer);
    }
    return answers;
}

// What this reader finds for the word, in sdcv's form: each definition after a line break.
Answer readerAnswer(StardictDictionary* dict, const std::string& word)
{
    Answer answer;
    StardictMatches found = {};
    findStardictWord(dict, word.data(), word.size(), &found);
    for (int i = 0; i < found.count; i++) {
        size_t length;
        std::string headword = stardictHeadword(dict, found.entries[i], &length);
        const char* problem = nullptr;
        char* text = readStardictDefinition(dict, found.entries[i], &length, &problem);
        answer.push_back({headword, text != nullptr ? "\n" + std::string(text, length) : problem});
        free(text);
    }
    releaseStardictMatches(&found);
    return answer;
}

// The word as it is (0), in upper case (1), lower case (2), capitalised (3): ASCII letters only.
std::string changeAsciiCase(const std::string& word, int form)
{
    std::string changed = word;
    for (size_t i = 0; i < word.size() && form > 0; i++) {
        bool upper = form == 1 || (form == 3 && i == 0);
        changed[i] = (char)(upper ? toupper((unsigned char)word[i]) : tolower((unsigned char)word[i]));
    }
    return changed;
}

// Headwords picked across the index, each also in upper and lower case and capitalised (ASCII letters), and
// the same from sdcv and from this reader: 0 differences.
void compareWithSdcv(const std::string& ifoPath, const std::string& sdcvFolder, int picks)
{
    StardictDictionary dict;
    const char* problem = nullptr;
    ASSERT_TRUE(openStardict(ifoPath.c_str(), &dict, &problem)) << problem;
    Words sample;
    for (int pick = 0; pick < picks; pick++) {
        size_t length;
        std::string word =
            stardictHeadword(&dict, (uint32_t)((uint64_t)dict.wordCount * pick / picks), &length);
        // sdcv reads these as patterns or commands, and trims spaces.
        if (word.find_first_of("*?/|@") != std::string::npos || word.front() == ' ' || word.back() == ' ')
            continue;
        // Each form whose lower, upper or capitalised form is the headword: where the case rules find it.
        for (int form = 0; form < 4; form++) {
            std::string changed = changeAsciiCase(word, form);
            bool reached = false;
            for (int back = 0; back < 4; back++)
                reached = reached || changeAsciiCase(changed, back) == word;
            if (reached)
                sample.push_back(changed);
        }
    }
    std::vector<Answer> expected = askSdcv(sdcvFolder, dict.bookname, sample);
    ASSERT_EQ(sample.size(), expected.size());
    int differences = 0;
    for (size_t i = 0; i < sample.size(); i++) {
        Answer answer = readerAnswer(&dict, sample[i]);
        if (answer != expected[i] && ++differences <= 5) {
            ADD_FAILURE() << "'" << sample[i] << "': sdcv gives " << expected[i].size() << " entries, "
                          << (expected[i].empty() ? "" : expected[i][0].first + ": " + expected[i][0].second)
                          << "\nthe reader " << answer.size() << ", "
                          << (answer.empty() ? "" : answer[0].first + ": " + answer[0].second);
        }
    }
    EXPECT_EQ(0, differences) << "of " << sample.size() << " words";
    closeStardict(&dict);
}

bool installed(const char* path) { return access(path, R_OK) == 0; }

TEST(Stardict, CzechEntriesAreSdcvs)
{
    const char* ifo = "/usr/share/stardict/dic/czech-cizi.ifo";
    if (!installed("/usr/bin/sdcv") || !installed(ifo))
        GTEST_SKIP() << "sdcv or Debian's stardict-czech is not installed (scripts/setup installs them)";
    compareWithSdcv(ifo, "/usr/share/stardict/dic", 300);
}

// WordNet converted by Debian's stardict-tools. Its converter, on a 64-bit host, writes each 32-bit offset
// and size into 8 bytes (the value, then four zeros), which no reader takes: the test rewrites the index with
// 64-bit offsets for this reader and with 32-bit ones for sdcv, which reads no other.
TEST(Stardict, WordNetConvertedEntriesAreSdcvs)
{
    const char* converter = "/usr/lib/stardict-tools/dictd2dic";
    if (!installed("/usr/bin/sdcv") || !installed(converter) || !installed("/usr/share/dictd/wn.index"))
        GTEST_SKIP() << "sdcv, stardict-tools or dict-wn is not installed (scripts/setup installs them)";
    std::string folder = folderOfItsOwn("wordnet");
    struct Removed {
        std::string folder;
        ~Removed() { EXPECT_EQ(0, system(("rm -rf '" + folder + "'").c_str())); }
    } removed = {folder};
    std::string script =
        "cd '" + folder + "' && mkdir -p wide narrow && cp /usr/share/dictd/wn.index . && " +
        "zcat /usr/share/dictd/wn.dict.dz > wn.dict && touch wn.idxhead && " + converter +
        " wn >/dev/null && mv dictd_freedict2_wn.dict.dz wide/wn.dict.dz && ln wide/wn.dict.dz narrow/";
    ASSERT_EQ(0, system(script.c_str()));
    FILE* file = fopen((folder + "/dictd_freedict2_wn.idx").c_str(), "rb");
    ASSERT_NE(nullptr, file);
    std::string converted, wide;
    char buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, file)) > 0)
        converted.append(buffer, got);
    fclose(file);
    std::string narrow;
    size_t count = 0;
    const std::string padding(4, '\0');
    for (size_t at = 0; at < converted.size(); count++) {
        size_t zero = converted.find('\0', at);
        ASSERT_NE(std::string::npos, zero);
        ASSERT_EQ(padding, converted.substr(zero + 5, 4));
        ASSERT_EQ(padding, converted.substr(zero + 13, 4));
        std::string word = converted.substr(at, zero + 1 - at);
        std::string offset = converted.substr(zero + 1, 4), size = converted.substr(zero + 9, 4);
        wide += word + padding + offset + size;
        narrow += word + offset + size;
        at = zero + 17;
    }
    EXPECT_EQ(147306u, count);
    WrittenFiles wideFiles = {folder + "/wide", {}}, narrowFiles = {folder + "/narrow", {}};
    std::string info =
        "StarDict's dict ifo file\nversion=3.0.0\nbookname=wn\nsametypesequence=m\nwordcount=" +
        std::to_string(count) + "\n";
    wideFiles.write("wn.ifo", info + "idxoffsetbits=64\nidxfilesize=" + std::to_string(wide.size()) + "\n");
    narrowFiles.write("wn.ifo", info + "idxfilesize=" + std::to_string(narrow.size()) + "\n");
    narrowFiles.write("wn.idx", narrow);
    wideFiles.write("wn.idx", wide);
    compareWithSdcv(folder + "/wide/wn.ifo", folder + "/narrow", 120);
}
#endif

}  // namespace
