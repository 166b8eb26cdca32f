// Tests of the StarDict reader: entry types, look-ups, the file variants, damaged files refused, and the
// same entries as sdcv finds in Debian's dictionaries.
#include <gtest/gtest.h>
#include <zlib.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <ctype.h>
#ifdef _WIN32
#include <direct.h>
#else
#include <unistd.h>
#endif

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
                   const std::vector<Entry>& synonyms = {})
{
    auto byWord = [](const Entry& a, const Entry& b) { return indexOrder(a.word, b.word); };
    std::stable_sort(entries.begin(), entries.end(), byWord);
    Files files = {"", "", "", "", false, false};
    for (const Entry& entry : entries) {
        files.idx += entry.word + '\0' + bigEndian(files.dict.size(), offsets64 ? 8 : 4) +
                     bigEndian(entry.data.size(), 4);
        files.dict += entry.data;
    }
    std::vector<Entry> sorted = synonyms;
    std::stable_sort(sorted.begin(), sorted.end(), byWord);
    for (const Entry& synonym : sorted)
        files.syn += synonym.word + '\0' + synonym.data;
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
        {"an empty entry", "m", "", ""},
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
// Synonyms with the number of the entry they name.
const std::vector<Entry> lookupSynonyms = {
    {"pomme", bigEndian(1, 4)}, {"apple", bigEndian(1, 4)}, {"Rome", bigEndian(10, 4)}};

struct LookupCase {
    const char* word;
    Words exact, prefix, near;
};

const LookupCase lookupCases[] = {
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

TEST(Stardict, WordsAreFoundAsSdcvFindsThemWithPrefixAndNearCandidates)
{
    Opened opened(dictionaryOf(lookupEntries, "m", false, lookupSynonyms));
    ASSERT_TRUE(opened.open) << opened.problem;
    for (const LookupCase& row : lookupCases) {
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

// ---- Damaged files

// An edit of one file ('i' .ifo, 'x' .idx, 's' .syn): from replaced by to, or to appended when from is empty.
struct Edit {
    char file;
    std::string from, to;
};
enum Zip { asWritten, idxGzipped, idxNotGzip, idxGzipCut, dictzipCut };
struct Damage {
    const char* what;
    std::vector<Edit> edits;
    const char* problem;
    Zip zip = asWritten;
};

TEST(Stardict, DamagedFilesAreRefusedWithWhatIsWrong)
{
    // Entries "first" and "second" of 5 and 6 bytes: the .idx is 2 * (6 + 8) + 1 = 29 bytes.
    const std::string z(1, '\0'), secondEntry = bigEndian(5, 4) + bigEndian(6, 4),
                                  counted = "synwordcount=1\n";
    const Damage rows[] = {
        {"another first line", {{'i', "StarDict", "Stardict"}}, "does not begin with StarDict's"},
        {"version 2.4.1", {{'i', "2.4.2", "2.4.1"}}, "names a version other than 2.4.2 or 3.0.0"},
        {"no bookname", {{'i', "bookname=Test Book", ""}}, "has no bookname"},
        {"no wordcount", {{'i', "wordcount=2", ""}}, "has no wordcount"},
        {"a wordcount of 0", {{'i', "wordcount=2", "wordcount=0"}}, "has no wordcount"},
        {"a wordcount over 32 bits", {{'i', "wordcount=2", "wordcount=4294967296"}}, "not a number"},
        {"a wordcount no index holds", {{'i', "t=2", "t=4294967295"}}, "too short for the .ifo's wordcount"},
        {"a headword more than counted", {{'i', "t=2", "t=1"}}, "more headwords than the .ifo's"},
        {"a headword less than counted",
         {{'i', "t=2", "t=3"}, {'x', "first", "firstfirstfirst"}},
         "fewer head"},
        {"no idxfilesize", {{'i', "idxfilesize=29", ""}}, "has no idxfilesize"},
        {"another idxfilesize", {{'i', "idxfilesize=29", "idxfilesize=30"}}, "is not the .ifo's idxfilesize"},
        {"48-bit offsets", {{'i', "", "idxoffsetbits=48\n"}}, "neither 32 nor 64"},
        {"a type that is no letter",
         {{'i', "", "sametypesequence=m1\n"}},
         "names a type that is not a letter"},
        {"a zero byte", {{'i', "", "author=a" + z + "\n"}}, "holds a zero byte"},
        {"an empty headword", {{'x', "first", ""}}, "holds an empty headword"},
        {"a headword of 256 bytes", {{'x', "first", std::string(256, 'f')}}, "of more than 255 bytes"},
        {"a headword not ended", {{'x', z + secondEntry, ""}}, "ends inside a headword"},
        {"an entry cut short", {{'x', bigEndian(6, 4), "xx"}}, "ends inside an entry"},
        {"an entry past the data", {{'x', bigEndian(6, 4), bigEndian(7, 4)}}, "beyond the end of the .dict"},
        {"an offset past the data",
         {{'x', secondEntry, bigEndian(0xC00000000, 8)}},
         "beyond the end of the .dict"},
        // 2 + 0xFFFFFFFF wraps to 1 in 32 bits: the sum must never be formed.
        {"an offset and size that wrap", {{'x', secondEntry, bigEndian(0x2FFFFFFFF, 8)}}, "beyond the end"},
        {"a .syn without synwordcount", {{'s', "", "s" + z + bigEndian(0, 4)}}, "has no synwordcount"},
        {"a synonym past the last headword",
         {{'s', "", "s" + z + bigEndian(2, 4)}, {'i', "", counted}},
         "past"},
        {"a synonym cut short",
         {{'s', "", "s" + z + "abc"}, {'i', "", counted}},
         "too short for the .ifo's syn"},
        {"a synonym more than counted",
         {{'s', "", "s" + z + bigEndian(0, 4) + "t" + z + bigEndian(1, 4)}, {'i', "", counted}},
         "more synonyms than the .ifo's synwordcount"},
        {"a .idx.gz that is no gzip", {}, "not a whole gzip file", idxNotGzip},
        {"a .idx.gz cut short", {}, "not a whole gzip file", idxGzipCut},
        {"a .idx.gz longer than counted", {{'x', "", "x"}}, "more than the .ifo's idxfilesize", idxGzipped},
        {"a .idx.gz shorter than counted", {{'x', "first", "firs"}}, "less than the .ifo's idx", idxGzipped},
        // On the 32-bit build idxfilesize + 1 would wrap to a 0-byte block.
        {"a .idx.gz of 4 GiB", {{'i', "=29", "=4294967295"}}, "more than the largest index read", idxGzipped},
        {"a damaged .dict.dz", {}, "too short to be a dictzip file", dictzipCut},
    };
    for (const Damage& row : rows) {
        SCOPED_TRACE(row.what);
        Files files = dictionaryOf({{"first", "aaaaa"}, {"second", "bbbbbb"}}, "m");
        for (const Edit& edit : row.edits) {
            std::string* file = edit.file == 'i' ? &files.ifo : edit.file == 'x' ? &files.idx : &files.syn;
            size_t at = edit.from.empty() ? file->size() : file->find(edit.from);
            ASSERT_NE(std::string::npos, at) << edit.from;
            file->replace(at, edit.from.size(), edit.to);
        }
        // The .ifo counts the damaged index, unless it is what the row damages.
        size_t stated = files.ifo.find("idxfilesize=29\n");
        if (row.zip == asWritten && stated != std::string::npos)
            files.ifo.replace(stated, 15, "idxfilesize=" + std::to_string(files.idx.size()) + "\n");
        files.idxZipped = row.zip == idxGzipped || row.zip == idxNotGzip || row.zip == idxGzipCut;
        if (row.zip == idxGzipped || row.zip == idxGzipCut)
            files.idx = gzipOf(files.idx, 31).substr(0, row.zip == idxGzipCut ? 20 : std::string::npos);
        files.dictZipped = row.zip == dictzipCut;
        if (files.dictZipped)
            files.dict = dictzipOf(files.dict, 4).substr(0, 12);
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

// Files written into a folder of the test's own, removed when it goes whatever the test did.
struct WrittenFiles {
    std::string folder;
    Words names;
    explicit WrittenFiles(const std::string& name)
    {
        const char* base = getenv("TMPDIR");
        folder = std::string(base != nullptr ? base : "/tmp") + "/lexitray-stardict-" + name;
#ifdef _WIN32
        _mkdir(folder.c_str());
#else
        mkdir(folder.c_str(), 0755);
#endif
    }
    ~WrittenFiles()
    {
#ifdef _WIN32
        for (const std::string& name : names)
            remove((folder + "/" + name).c_str());
        _rmdir(folder.c_str());
#else
        // With what sdcv and the converter leave beside them.
        EXPECT_EQ(0, system(("rm -rf '" + folder + "'").c_str()));
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
    // 64-bit offsets, a zipped index and data, synonyms, and an entry across many dictzip chunks.
    std::vector<Entry> entries = lookupEntries;
    entries.push_back({"long", std::string(70000, 'q')});
    WrittenFiles written("files");
    Files files = dictionaryOf(entries, "m", true, lookupSynonyms);
    written.write("book.ifo", files.ifo);
    written.write("book.idx.gz", gzipOf(files.idx, 31));
    written.write("book.syn", files.syn);
    written.write("book.dict.dz", dictzipOf(files.dict, 1000));
    written.write("lonely.ifo", files.ifo);
    written.write("lonely.idx", files.idx);
    written.write("empty.ifo", "");
    StardictDictionary dict;
    const char* problem = nullptr;
    ASSERT_TRUE(openStardict((written.folder + "/book.ifo").c_str(), &dict, &problem)) << problem;
    for (const Entry& entry : entries) {
        StardictMatches found = {};
        ASSERT_TRUE(findStardictWord(&dict, entry.word.data(), entry.word.size(), &found)) << entry.word;
        size_t length = 0;
        char* text = readStardictDefinition(&dict, found.entries[0], &length, &problem);
        EXPECT_EQ(entry.data, text != nullptr ? std::string(text, length) : problem);
        free(text);
        releaseStardictMatches(&found);
    }
    closeStardict(&dict);
    const char* const refused[][2] = {{"lonely", "there is no .dict.dz or .dict file beside it"},
                                      {"empty", "one of its files is empty"},
                                      {"missing", "one of its files cannot be read"}};
    for (const auto& row : refused) {
        EXPECT_FALSE(openStardict((written.folder + "/" + row[0] + ".ifo").c_str(), &dict, &problem));
        EXPECT_STREQ(row[1], problem);
    }
}

// ---- The same entries as sdcv

#ifndef _WIN32
typedef std::vector<std::pair<std::string, std::string>> Answer;

// Reads one JSON string at text[*at] ('"'), as sdcv writes them: control characters escaped.
std::string jsonString(const std::string& text, size_t* at)
{
    std::string out;
    for ((*at)++; *at < text.size() && text[*at] != '"'; (*at)++) {
        char c = text[*at];
        if (c == '\\') {
            c = text[++*at];
            const char* known = strchr("n\nt\tr\rb\bf\f", c);
            if (c == 'u') {
                c = (char)strtoul(text.substr(*at + 1, 4).c_str(), nullptr, 16);
                *at += 4;
            } else if (known != nullptr && c != '\0') {
                c = known[1];
            }
        }
        out += c;
    }
    (*at)++;
    return out;
}

// sdcv's answers for every word at once (-j: one JSON line per word), from the folder and bookname only.
std::vector<Answer> askSdcv(const std::string& folder, const std::string& bookname, const Words& words)
{
    std::string command = "LANG=C.UTF-8 sdcv -n -j -0 -1 -x -2 '" + folder + "' -u '" + bookname + "' --";
    for (std::string word : words) {
        for (size_t at = 0; (at = word.find('\'', at)) != std::string::npos; at += 4)
            word.replace(at, 1, "'\\''");
        command += " '" + word + "'";
    }
    std::vector<Answer> answers;
    FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    char* line = nullptr;
    size_t capacity = 0;
    while (pipe != nullptr && getline(&line, &capacity, pipe) > 0) {
        std::string text = line;
        Answer answer;
        for (size_t at = 0; text[0] == '[' && (at = text.find("\"word\":", at)) != std::string::npos;) {
            at += 7;
            std::string word = jsonString(text, &at);
            at = text.find("\"definition\":", at) + 13;
            answer.push_back({word, jsonString(text, &at)});
        }
        if (text[0] == '[')
            answers.push_back(answer);
    }
    free(line);
    if (pipe != nullptr)
        pclose(pipe);
    return answers;
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

// Headwords picked across the index, each also in the forms whose lower or upper case or capitalised form
// it is (where sdcv's case rules find it), give the same entries from sdcv and from this reader.
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
        for (int form = 0; form < 4; form++) {
            std::string changed = changeAsciiCase(word, form);
            for (int back = 0; back < 4; back++) {
                if (changeAsciiCase(changed, back) == word) {
                    sample.push_back(changed);
                    break;
                }
            }
        }
    }
    std::vector<Answer> expected = askSdcv(sdcvFolder, dict.bookname, sample);
    ASSERT_EQ(sample.size(), expected.size());
    int differences = 0;
    for (size_t i = 0; i < sample.size(); i++) {
        Answer answer;
        StardictMatches found = {};
        findStardictWord(&dict, sample[i].data(), sample[i].size(), &found);
        for (int k = 0; k < found.count; k++) {
            size_t length;
            std::string headword = stardictHeadword(&dict, found.entries[k], &length);
            char* text = readStardictDefinition(&dict, found.entries[k], &length, &problem);
            answer.push_back({headword, text != nullptr ? "\n" + std::string(text, length) : problem});
            free(text);
        }
        releaseStardictMatches(&found);
        // sdcv puts a line break before each definition.
        if (answer != expected[i] && ++differences <= 5)
            ADD_FAILURE() << "'" << sample[i] << "': sdcv gives " << expected[i].size()
                          << " entries, the reader " << answer.size()
                          << (answer.empty() ? "" : ", " + answer[0].second);
    }
    EXPECT_EQ(0, differences) << "of " << sample.size() << " words";
    closeStardict(&dict);
}

bool installed(const char* path) { return access(path, R_OK) == 0; }

// The look-up table's rows that find something, asked of sdcv in the table's dictionary written out.
TEST(Stardict, TheLookUpTableIsSdcvs)
{
    if (!installed("/usr/bin/sdcv"))
        GTEST_SKIP() << "sdcv is not installed (scripts/setup installs it)";
    WrittenFiles written("lookups");
    Files files = dictionaryOf(lookupEntries, "m", false, lookupSynonyms);
    written.write("book.ifo", files.ifo);
    written.write("book.idx", files.idx);
    written.write("book.syn", files.syn);
    written.write("book.dict", files.dict);
    Words words;
    for (const LookupCase& row : lookupCases) {
        if (!row.exact.empty())
            words.push_back(row.word);
    }
    std::vector<Answer> answers = askSdcv(written.folder, "Test Book", words);
    ASSERT_EQ(words.size(), answers.size());
    for (size_t i = 0, k = 0; i < sizeof lookupCases / sizeof *lookupCases; i++) {
        Words found;
        for (const auto& entry : lookupCases[i].exact.empty() ? Answer() : answers[k++])
            found.push_back(entry.first);
        EXPECT_EQ(lookupCases[i].exact, found) << lookupCases[i].word;
    }
}

TEST(Stardict, CzechEntriesAreSdcvs)
{
    const char* ifo = "/usr/share/stardict/dic/czech-cizi.ifo";
    if (!installed("/usr/bin/sdcv") || !installed(ifo))
        GTEST_SKIP() << "sdcv or Debian's stardict-czech is not installed (scripts/setup installs them)";
    compareWithSdcv(ifo, "/usr/share/stardict/dic", 300);
}

// WordNet converted by Debian's stardict-tools. Its converter, on a 64-bit host, writes each 32-bit offset
// and size into 8 bytes (the value, then four zeros), which no reader takes: perl rewrites the index with
// 64-bit offsets for this reader and with 32-bit ones for sdcv, which reads no other.
TEST(Stardict, WordNetConvertedEntriesAreSdcvs)
{
    const char* converter = "/usr/lib/stardict-tools/dictd2dic";
    if (!installed("/usr/bin/sdcv") || !installed(converter) || !installed("/usr/share/dictd/wn.index"))
        GTEST_SKIP() << "sdcv, stardict-tools or dict-wn is not installed (scripts/setup installs them)";
    WrittenFiles written("wordnet");
    written.write("rewrite.pl", R"(
        $i = <>; $n = 0;
        while ($i =~ /\G([^\0]+\0)(.{4})\0{4}(.{4})\0{4}/gs) { $n++; $e = pos($i); $w .= "$1\0\0\0\0$2$3"; $s .= "$1$2$3" }
        die "not the converter's index" if $e != length($i);
        for (['wide', $w, "idxoffsetbits=64\n"], ['narrow', $s, '']) {
            ($d, $x, $bits) = @$_;
            open(F, '>', "$d/wn.idx"); print F $x; close(F);
            open(F, '>', "$d/wn.ifo");
            print F "StarDict's dict ifo file\nversion=3.0.0\nbookname=wn\nsametypesequence=m\n";
            print F "wordcount=$n\nidxfilesize=", length($x), "\n$bits"; close(F);
        })");
    std::string script =
        "cd '" + written.folder + "' && mkdir -p wide narrow && cp /usr/share/dictd/wn.index . &&" +
        " zcat /usr/share/dictd/wn.dict.dz > wn.dict && touch wn.idxhead && " + converter +
        " wn >/dev/null && mv dictd_freedict2_wn.dict.dz wide/wn.dict.dz && ln wide/wn.dict.dz" +
        " narrow/ && perl -0777 rewrite.pl dictd_freedict2_wn.idx";
    ASSERT_EQ(0, system(script.c_str()));
    compareWithSdcv(written.folder + "/wide/wn.ifo", written.folder + "/narrow", 120);
}
#else
// sdcv, the converter and Debian's dictionaries are Linux programs and files.
const char* const nativeOnly = "sdcv runs on Linux: compared in the native run";
TEST(Stardict, TheLookUpTableIsSdcvs) { GTEST_SKIP() << nativeOnly; }
TEST(Stardict, CzechEntriesAreSdcvs) { GTEST_SKIP() << nativeOnly; }
TEST(Stardict, WordNetConvertedEntriesAreSdcvs) { GTEST_SKIP() << nativeOnly; }
#endif

}  // namespace
