// Fuzz target: cutting a match reply (status 152) into database names.
#include <stddef.h>
#include <stdint.h>
#include <string>

#include "core/dictsession.h"
#include "tests/fuzz/fuzzsupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    const int matchStatus = 152;
    const char* text = (const char*)bytes;
    char** names = nullptr;
    int count = cutMatchNames(text, size, &names);
    FUZZ_CHECK(count >= 0 && count <= dictLimits.maxListEntries);
    FUZZ_CHECK(count <= clampCount(countField(text, size), dictLimits.maxListEntries));
    checkSlotList(names, count,
                  referenceSlotLines(std::string(text, size), matchStatus, true, dictLimits.maxListEntries));
    releaseTextList(names, count);
    return 0;
}
