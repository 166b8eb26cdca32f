// The character rules of the offline dictionaries, from the generated C.UTF-8 tables.
#include "core/offlinechars.h"

#include "core/offlinechars_tables.h"

size_t decodeUtf8(const unsigned char* text, size_t length, uint32_t* codePoint)
{
    if (length == 0)
        return 0;
    unsigned char first = text[0];
    if (first < 0x80) {
        *codePoint = first;
        return 1;
    }
    size_t count = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC2 ? 2 : 0;
    if (count == 0 || first > 0xF4 || count > length)
        return 0;
    uint32_t value = first & (0x7F >> count);
    for (size_t i = 1; i < count; i++) {
        if ((text[i] & 0xC0) != 0x80)
            return 0;
        value = value << 6 | (text[i] & 0x3F);
    }
    static const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < least[count] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *codePoint = value;
    return count;
}

size_t encodeUtf8(uint32_t codePoint, char* out)
{
    if (codePoint < 0x80) {
        out[0] = (char)codePoint;
        return 1;
    }
    if (codePoint < 0x800) {
        out[0] = (char)(0xC0 | codePoint >> 6);
        out[1] = (char)(0x80 | (codePoint & 0x3F));
        return 2;
    }
    if (codePoint < 0x10000) {
        out[0] = (char)(0xE0 | codePoint >> 12);
        out[1] = (char)(0x80 | (codePoint >> 6 & 0x3F));
        out[2] = (char)(0x80 | (codePoint & 0x3F));
        return 3;
    }
    out[0] = (char)(0xF0 | codePoint >> 18);
    out[1] = (char)(0x80 | (codePoint >> 12 & 0x3F));
    out[2] = (char)(0x80 | (codePoint >> 6 & 0x3F));
    out[3] = (char)(0x80 | (codePoint & 0x3F));
    return 4;
}

// The last range that starts at or before c, by binary search; null when none does.
template <typename Range> static const Range* rangeAtOrBefore(const Range* ranges, size_t count, uint32_t c)
{
    size_t low = 0;
    size_t high = count;
    while (low < high) {
        size_t middle = low + (high - low) / 2;
        if (ranges[middle].first <= c)
            low = middle + 1;
        else
            high = middle;
    }
    return low == 0 ? nullptr : &ranges[low - 1];
}

template <typename Range, size_t count> static bool inRanges(const Range (&ranges)[count], uint32_t c)
{
    const Range* range = rangeAtOrBefore(ranges, count, c);
    return range != nullptr && c <= range->last;
}

uint32_t lowerCodePoint(uint32_t c)
{
    // ASCII first: most words are.
    if (c < 0x80)
        return c >= 'A' && c <= 'Z' ? c + 32 : c;
    const size_t count = sizeof caseRanges / sizeof caseRanges[0];
    const CaseRange* range = rangeAtOrBefore(caseRanges, count, c);
    if (range == nullptr || c > range->last || (c - range->first) % (uint32_t)range->step != 0)
        return c;
    return (uint32_t)((int32_t)c + range->delta);
}

bool isSpaceCodePoint(uint32_t c) { return inRanges(spaceRanges, c); }

bool isAlnumCodePoint(uint32_t c) { return inRanges(alnumRanges, c); }
