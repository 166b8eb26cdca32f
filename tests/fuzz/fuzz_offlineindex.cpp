// Fuzz target: an arbitrary index text over a small dictionary's data, loaded from memory and asked for
// exact, prefix and lev matches and definitions; nothing may read outside the index or the data.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>

#include "core/offlinedict.h"
#include "tests/fuzz/fuzzsupport.h"

static const char data[] = "apple\na fruit\n.dotted line\nbanana\nyellow\n00-database-short\n  Fuzzed\n";
static const char* const requests[] = {
    "match * exact apple",
    "match * prefix a",
    "match * lev aple",
    "match fuzz . banan",
    "define * apple",
    "define ! \"\"",
    "match * exact Mädchen",
    "match * lev ä",
    "show db",
    "define fuzz 00-database-short",
};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    std::string index((const char*)bytes, size);
    unloadOfflineDictionaries();
    addOfflineDictionaryFromMemory("fuzz", index.data(), index.size(), data, sizeof data - 1, false);
    for (const char* request : requests) {
        ReplyText reply = {nullptr, 0, 0, false};
        answerOfflineRequest(request, strlen(request), &reply);
        FUZZ_CHECK(reply.data != nullptr);
        releaseReply(&reply);
    }
    unloadOfflineDictionaries();
    return 0;
}
