// Fuzz target: cutting match replies that follow one another (base forms and near spellings asked
// together), however the text arrives, and the suggested words of a match reply.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "core/dictsession.h"
#include "tests/fuzz/fuzzsupport.h"

// The reply ends found when the text grows piece by piece (the first byte chooses whether the
// rest of an earlier line comes first).
static std::vector<size_t> cutInPieces(const std::string& text, bool restOfLine,
                                       const std::vector<size_t>& sizes)
{
    std::vector<size_t> ends;
    MatchReplyCutter cutter = startMatchCutter(restOfLine);
    size_t available = 0;
    size_t index = 0;
    size_t previousEnd = 0;
    while (available < text.size()) {
        available += pieceLength(sizes, index++, available, text.size());
        size_t start = 0;
        size_t end;
        while ((end = nextMatchReplyEnd(text.data(), available, &cutter, &start)) > 0) {
            FUZZ_CHECK(end <= available && start < end && start >= previousEnd);
            FUZZ_CHECK(text[end - 1] == '\n');
            previousEnd = end;
            ends.push_back(end);
        }
    }
    return ends;
}

static bool equalIgnoringCase(const char* a, const char* b)
{
    for (; *a != '\0' && *b != '\0'; a++, b++) {
        char x = *a >= 'A' && *a <= 'Z' ? (char)(*a - 'A' + 'a') : *a;
        char y = *b >= 'A' && *b <= 'Z' ? (char)(*b - 'A' + 'a') : *b;
        if (x != y)
            return false;
    }
    return *a == *b;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    if (size < 1)
        return 0;
    bool restOfLine = (bytes[0] & 1) != 0;
    bytes++;
    size--;
    std::vector<size_t> sizes = takePieceSizes(&bytes, &size);
    std::string text((const char*)bytes, size);

    // However the text is cut into pieces, the replies end where they end in the whole text.
    std::vector<size_t> whole = cutInPieces(text, restOfLine, {text.size() + 1});
    FUZZ_CHECK(cutInPieces(text, restOfLine, sizes) == whole);

    // A reply as received never holds a zero byte: appending stops at one.
    text = text.substr(0, text.find('\0'));
    char words[maxSuggestions + 1][dictWordSize];
    memset(words[maxSuggestions], '#', dictWordSize);
    int count = cutSuggestedWords(text.data(), text.size(), words, maxSuggestions);
    FUZZ_CHECK(count >= 0 && count <= maxSuggestions);
    FUZZ_CHECK(words[maxSuggestions][0] == '#');
    for (int i = 0; i < count; i++) {
        size_t length = strnlen(words[i], dictWordSize);
        FUZZ_CHECK(length > 0 && length < (size_t)dictWordSize);
        FUZZ_CHECK(text.find(words[i]) != std::string::npos);
        for (int j = 0; j < i; j++)
            FUZZ_CHECK(!equalIgnoringCase(words[i], words[j]));
    }
    return 0;
}
