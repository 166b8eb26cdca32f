// Fuzz target: cutting a definitions reply (status 150) into bodies without header, last
// line end or terminator.
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <string>

#include "core/dictsession.h"
#include "tests/fuzz/fuzzsupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    const char* text = (const char*)bytes;
    char** bodies = nullptr;
    int count = cutDefinitionTexts(text, size, &bodies);
    FUZZ_CHECK(count >= 0 && count <= dictLimits.maxListEntries);
    FUZZ_CHECK(count <= clampCount(countField(text, size), dictLimits.maxListEntries));
    std::vector<std::string> expected =
        referenceDefinitions(std::string(text, size), dictLimits.maxListEntries);
    checkTextList(bodies, count, expected);
    // No body holds a terminator: each ends at the first one after its header.
    for (const std::string& body : expected)
        FUZZ_CHECK(body.find("\r\n.\r\n") == std::string::npos);
    releaseTextList(bodies, count);
    return 0;
}
