// Fuzz target: arbitrary bytes as a .dict.dz; when the header is accepted, ranges read within the data
// either fail or fill exactly the bytes asked for, and nothing is read outside the input.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <vector>

#include "core/dictzip.h"
#include "tests/fuzz/fuzzsupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    DataSource source = {bytes, size, {0, 0, false}};
    DictzipReader reader;
    const char* problem = nullptr;
    if (!openDictzip(&source, &reader, &problem)) {
        FUZZ_CHECK(problem != nullptr && reader.chunkStarts == nullptr);
        return 0;
    }
    FUZZ_CHECK(reader.chunkLength > 0 && reader.chunkCount > 0);
    FUZZ_CHECK(reader.chunkStarts[reader.chunkCount] <= size);
    const uint64_t length = reader.length;
    const uint64_t starts[] = {0, length / 3, length / 2, length > 0 ? length - 1 : 0, length};
    std::vector<char> buffer;
    for (uint64_t from : starts) {
        for (uint64_t want : {(uint64_t)1, (uint64_t)reader.chunkLength + 1, length - from}) {
            if (want > length - from || want > (1u << 20))
                continue;
            buffer.assign((size_t)want + 1, '\x7f');
            bool read = readDictzipRange(&source, &reader, from, buffer.data(), (size_t)want);
            FUZZ_CHECK(buffer[(size_t)want] == '\x7f');
            (void)read;
        }
    }
    char byte;
    FUZZ_CHECK(!readDictzipRange(&source, &reader, length, &byte, 1));
    closeDictzip(&reader);
    return 0;
}
