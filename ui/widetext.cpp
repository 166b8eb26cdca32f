// UTF-8 inside the program, UTF-16 at the window API: the conversions at that boundary.
#include "ui/widetext.h"

#include <stdlib.h>
#include <string.h>

#include "core/lookuptext.h"

// Room for maxWideInput wide characters in UTF-8 (at most 3 bytes each; a surrogate pair is 4
// bytes for 2) and the terminator.
const int utf8ScratchSize = maxWideInput * 3 + 1;

// The code page a text converts from: UTF-8 when it is valid UTF-8, else the system's.
static UINT sourceCodePage(const char* text, int length)
{
    if (length == 0 || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, length, nullptr, 0) > 0)
        return CP_UTF8;
    return CP_ACP;
}

void utf8ToWide(const char* text, wchar_t* buffer, int capacity)
{
    if (capacity < 1)
        return;
    // UTF-8 never needs more wide characters than it has bytes, so a cut of the bytes fits.
    int length = static_cast<int>(utf8PrefixLength(text, strlen(text), static_cast<size_t>(capacity - 1)));
    int written = MultiByteToWideChar(sourceCodePage(text, length), 0, text, length, buffer, capacity - 1);
    buffer[written > 0 ? written : 0] = L'\0';
}

wchar_t* newWideText(const char* text)
{
    size_t bytes = strlen(text);
    // Beyond what the window API takes anyway; a reply cap keeps real texts far below it.
    const size_t largestText = 0x3FFFFFFF;
    int length = static_cast<int>(bytes < largestText ? bytes : largestText);
    UINT codePage = sourceCodePage(text, length);
    int needed = length ? MultiByteToWideChar(codePage, 0, text, length, nullptr, 0) : 0;
    wchar_t* wide = static_cast<wchar_t*>(malloc((static_cast<size_t>(needed) + 1) * sizeof(wchar_t)));
    if (!wide)
        return nullptr;
    int written = needed ? MultiByteToWideChar(codePage, 0, text, length, wide, needed) : 0;
    wide[written > 0 ? written : 0] = L'\0';
    return wide;
}

void wideToUtf8(const wchar_t* text, int length, char* buffer, int capacity)
{
    if (capacity < 1)
        return;
    if (length < 0 || length > maxWideInput) {
        int bounded = 0;
        while (bounded < maxWideInput && (length < 0 || bounded < length) && text[bounded])
            bounded++;
        length = bounded;
    }
    char scratch[utf8ScratchSize];
    int written =
        length ? WideCharToMultiByte(CP_UTF8, 0, text, length, scratch, utf8ScratchSize - 1, nullptr, nullptr)
               : 0;
    if (written < 0)
        written = 0;
    size_t kept = utf8PrefixLength(scratch, static_cast<size_t>(written), static_cast<size_t>(capacity - 1));
    memcpy(buffer, scratch, kept);
    buffer[kept] = '\0';
}
