// UTF-8 inside the program, UTF-16 at the window API: the conversions at that boundary.
#pragma once
#include <windows.h>

// Converts UTF-8 text into buffer (capacity wide characters), cut at a character boundary to
// fit and terminated. Text that is not valid UTF-8 is taken in the system code page instead, so
// a server that sends another encoding still shows readable text.
void utf8ToWide(const char* text, wchar_t* buffer, int capacity);

// The same into a new buffer of exactly the needed size (for texts without a bound, such as
// definitions); release it with free(). Null when memory runs out.
wchar_t* newWideText(const char* text);

// Converts length wide characters (or up to the terminator when length is -1) into UTF-8 in
// buffer (capacity bytes), cut at a character boundary to fit and terminated. Only the first
// maxWideInput characters are looked at: more never fit the buffers the program uses.
const int maxWideInput = 256;
void wideToUtf8(const wchar_t* text, int length, char* buffer, int capacity);
