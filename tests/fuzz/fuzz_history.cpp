// Fuzz target: the kept words' file. Whatever it reads it can write again, and reading that back
// gives the same words.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "core/history.h"
#include "tests/fuzz/fuzzsupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    KeptWord words[recentWordsDepth];
    int count = -1;
    HistoryFault fault =
        parseHistoryFile(reinterpret_cast<const char*>(data), size, words, recentWordsDepth, &count);
    FUZZ_CHECK(count >= 0 && count <= recentWordsDepth);
    FUZZ_CHECK(fault == historyRead || count == 0);
    FUZZ_CHECK(historyFaultText(fault)[0] != '\0');
    if (fault != historyRead)
        return 0;
    for (int i = 0; i < count; i++)
        FUZZ_CHECK(memchr(words[i].word, '\0', sizeof words[i].word) && words[i].word[0] != '\0' &&
                   memchr(words[i].description, '\0', sizeof words[i].description));
    static char file[historyFileSize];
    size_t length = formatHistoryFile(words, count, file, sizeof file);
    KeptWord again[recentWordsDepth];
    int againCount = -1;
    FUZZ_CHECK(parseHistoryFile(file, length, again, recentWordsDepth, &againCount) == historyRead);
    FUZZ_CHECK(againCount == count);
    for (int i = 0; i < againCount; i++)
        FUZZ_CHECK(
            strcmp(again[i].word, words[i].word) == 0 && strcmp(again[i].database, words[i].database) == 0 &&
            again[i].offline == words[i].offline && strcmp(again[i].description, words[i].description) == 0);
    return 0;
}
