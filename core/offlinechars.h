// The character rules of the offline dictionaries: UTF-8 decoding and encoding, and case folding and the
// characters that count in a headword as dictd compares them in the C.UTF-8 locale.
#pragma once
#include <stddef.h>
#include <stdint.h>

// The most bytes one character takes in UTF-8.
const size_t utf8MaxBytes = 4;

// Decodes one UTF-8 character at text[0, length); its byte count, or 0 when the bytes are not UTF-8.
size_t decodeUtf8(const unsigned char* text, size_t length, uint32_t* codePoint);
// Writes the code point's UTF-8 bytes (at most utf8MaxBytes) to out; returns how many.
size_t encodeUtf8(uint32_t codePoint, char* out);

// towlower, iswspace and iswalnum of the C library in the C.UTF-8 locale.
uint32_t lowerCodePoint(uint32_t c);
bool isSpaceCodePoint(uint32_t c);
bool isAlnumCodePoint(uint32_t c);

// The table's rows (core/offlinechars_tables.h, written by scripts/make-chartable).
struct CaseRange {
    uint32_t first;
    uint32_t last;
    int step;  // every step-th code point from first lowers by adding delta; those between stay
    int delta;
};
struct CodePointRange {
    uint32_t first;
    uint32_t last;
};
