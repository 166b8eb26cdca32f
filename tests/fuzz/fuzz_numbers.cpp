// Fuzz target: the status and count conventions (leading number, status, count field, clamp),
// dropping the first line and the text search, against plain readings of the same rules.
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <string>
#include <string_view>

#include "core/dictsession.h"
#include "tests/fuzz/fuzzsupport.h"

static const long long clampValue = 1LL << 62;
static const int statuses[] = {110, 150, 151, 152, 220, 250, 552, 0, -1};
static const int limits[] = {0, 1, 12, 4096};

// The first occurrence of needle in text[from, to), or to.
static size_t plainFind(const std::string& text, size_t from, size_t to, const std::string& needle)
{
    size_t at = std::string_view(text).substr(0, to).find(needle, from);
    return at == std::string::npos || needle.empty() ? to : at;
}

static void checkSearches(const char* data, size_t size, const std::string& text, const std::string& needle)
{
    const size_t starts[] = {0, 1, 2, size / 3, size / 2, size > 0 ? size - 1 : 0, size};
    for (size_t from : starts) {
        if (from > size)
            continue;
        FUZZ_CHECK(findText(data, from, size, needle.data(), needle.size()) ==
                   plainFind(text, from, size, needle));
        size_t to = from + (size - from) / 2;
        FUZZ_CHECK(findText(data, from, to, needle.data(), needle.size()) ==
                   plainFind(text, from, to, needle));
        size_t lineEnd = text.find("\r\n", from);
        FUZZ_CHECK(dropFirstLine(data, size, from) == (lineEnd == std::string::npos ? size : lineEnd + 2));
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    // libFuzzer's copy of the input has exactly size bytes: any read past it is reported.
    const char* data = (const char*)bytes;
    std::string text(data, size);

    long long number = leadingNumber(data, size);
    long long expected = referenceLeadingNumber(text);
    // Within nine of the clamp the function may already give the clamp.
    if (expected > -(clampValue - 9) && expected < clampValue - 9)
        FUZZ_CHECK(number == expected);
    else
        FUZZ_CHECK(number == expected || number == (expected < 0 ? -clampValue : clampValue));
    FUZZ_CHECK(number >= -clampValue && number <= clampValue);

    for (int status : statuses)
        FUZZ_CHECK(beginsWithStatus(data, size, status) == (size >= 4 && number == status));

    long long count = countField(data, size);
    long long expectedCount = referenceCountField(text);
    if (expectedCount > -(clampValue - 9) && expectedCount < clampValue - 9)
        FUZZ_CHECK(count == expectedCount);
    for (int limit : limits) {
        int clamped = clampCount(count, limit);
        FUZZ_CHECK(clamped >= 0 && clamped <= (limit > 0 ? limit : 0));
        FUZZ_CHECK(clamped == referenceClamp(count, limit));
    }

    checkSearches(data, size, text, "250 ");
    checkSearches(data, size, text, "\r\n.\r\n");
    checkSearches(data, size, text, "\r\n");
    // A needle from the input itself: its first byte gives the length, the next bytes the needle.
    if (size > 1) {
        size_t needleLength = (size_t)bytes[0] % 6 + 1;
        if (needleLength <= size - 1)
            checkSearches(data, size, text, text.substr(1, needleLength));
    }
    return 0;
}
