// Fuzz target: an arbitrary StarDict .idx and .syn (or, by the first byte, an arbitrary .ifo) over a small
// dictionary's data, opened from memory, looked up and every entry read; nothing may read outside the
// input or the data, and a refusal always says why and holds nothing.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "core/stardict.h"
#include "tests/fuzz/fuzzsupport.h"

// Entries of each kind the types name: text parts, a sized binary part, and markup.
static const char data[] =
    "apple, a fruit\0m\0first\0W\0\0\0\2ab<b>bold</b> &amp; &#233;<br>x\0t/p/\0h<p>one</p><script>x</script>";
static const char goodIndex[] = "apple\0\0\0\0\0\0\0\0\x0e"
                                "zebra\0\0\0\0\x0e\0\0\0\x20";
static const char* const words[] = {"apple", "APPLE", "Zebra", "aple", "zbera", "Ďábel", "a"};
// The types a sametypesequence may name, picked by the flags.
static const char* const sequences[] = {"", "m", "tm", "Wg", "h", "x", "mW", "yk"};

static void readEverything(StardictDictionary* dict)
{
    for (const char* word : words) {
        size_t length = strlen(word);
        StardictMatches found = {nullptr, 0, 0, false};
        findStardictWord(dict, word, length, &found);
        findStardictPrefix(dict, word, length, 8, &found);
        findStardictNear(dict, word, length, &found);
        for (int i = 0; i < found.count; i++)
            FUZZ_CHECK(found.entries[i] < dict->wordCount);
        releaseStardictMatches(&found);
    }
    // Each entry reads as text or is refused with a reason; at most a few hundred of them.
    for (uint32_t entry = 0; entry < dict->wordCount && entry < 300; entry++) {
        size_t length = 0;
        const char* problem = nullptr;
        char* text = readStardictDefinition(dict, entry, &length, &problem);
        FUZZ_CHECK(text != nullptr ? strlen(text) == length : problem != nullptr);
        free(text);
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    if (size < 4)
        return 0;
    // byte 0: bit 7 the rest is the .ifo over a good index; bit 6 64-bit offsets; bits 0-2 the
    // sametypesequence. byte 1: words counted; byte 2: synonyms counted (0: no .syn); byte 3: .idx length.
    uint8_t flags = bytes[0];
    std::string ifo, idx, syn;
    const uint8_t* rest = bytes + 4;
    size_t restSize = size - 4;
    if (flags & 0x80) {
        ifo.assign((const char*)rest, restSize);
        idx.assign(goodIndex, sizeof goodIndex - 1);
    } else {
        size_t idxLength = bytes[3] < restSize ? bytes[3] : restSize;
        idx.assign((const char*)rest, idxLength);
        syn.assign((const char*)rest + idxLength, restSize - idxLength);
        ifo = std::string("StarDict's dict ifo file\nversion=") +
              (flags & 0x40 ? "3.0.0\nidxoffsetbits=64" : "2.4.2") +
              "\nbookname=Fuzz\ndescription=<b>d</b>&lt;\nwordcount=" + std::to_string(bytes[1]) +
              "\nidxfilesize=" + std::to_string(idx.size()) + "\nsametypesequence=" + sequences[flags & 7] +
              "\n";
        if (bytes[2] != 0)
            ifo += "synwordcount=" + std::to_string(bytes[2]) + "\n";
    }
    bool withSynonyms = !(flags & 0x80) && bytes[2] != 0;
    StardictBytes files = {ifo.data(),      ifo.size(),
                           idx.data(),      idx.size(),
                           false,           withSynonyms ? syn.data() : nullptr,
                           syn.size(),      (const unsigned char*)data,
                           sizeof data - 1, false};
    StardictDictionary dict;
    const char* problem = nullptr;
    if (!openStardictFromMemory(&files, &dict, &problem)) {
        FUZZ_CHECK(problem != nullptr && dict.words == nullptr && dict.bookname == nullptr);
        return 0;
    }
    FUZZ_CHECK(dict.bookname != nullptr && dict.description != nullptr && dict.wordCount > 0);
    readEverything(&dict);
    closeStardict(&dict);
    return 0;
}
