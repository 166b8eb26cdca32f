// Fuzz target: cutting a database list reply (status 110) into its lines.
#include <stddef.h>
#include <stdint.h>
#include <string>

#include "core/dictsession.h"
#include "tests/fuzz/fuzzsupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    const int databaseStatus = 110;
    const char* text = (const char*)bytes;
    char** lines = nullptr;
    int count = cutDatabaseLines(text, size, &lines);
    FUZZ_CHECK(count >= 0 && count <= dictLimits.maxListEntries);
    FUZZ_CHECK(count <= clampCount(countField(text, size), dictLimits.maxListEntries));
    checkSlotList(
        lines, count,
        referenceSlotLines(std::string(text, size), databaseStatus, false, dictLimits.maxListEntries));
    releaseTextList(lines, count);
    return 0;
}
