// Request lines: each text one parameter, the whole within one line.
#include "core/requestline.h"

#include <stdio.h>
#include <string.h>

// Whether the text holds a line break, which would end the request line early and send the
// rest to the server as a command of its own.
static bool holdsLineBreak(const char* text) { return text != nullptr && strpbrk(text, "\r\n") != nullptr; }

// Copies a request parameter into out (capacity bytes): as it is when it is one plain word, else
// in double quotes with a backslash before each quote or backslash, so that a braced
// cross-reference of two words reaches the server as one parameter. False when it does not fit.
static bool quoteParameter(const char* text, char* out, size_t capacity)
{
    bool plain = text[0] != '\0' && strpbrk(text, " \t\"'\\") == nullptr;
    size_t used = 0;
    if (!plain) {
        if (used + 1 >= capacity)
            return false;
        out[used++] = '"';
    }
    for (const char* c = text; *c != '\0'; c++) {
        bool escaped = !plain && (*c == '"' || *c == '\\');
        if (used + (escaped ? 2 : 1) >= capacity)
            return false;
        if (escaped)
            out[used++] = '\\';
        out[used++] = *c;
    }
    if (!plain) {
        if (used + 1 >= capacity)
            return false;
        out[used++] = '"';
    }
    out[used] = '\0';
    return true;
}

bool buildRequest(char* request, const char* format, const char* first, const char* second, size_t* length)
{
    if (holdsLineBreak(first) || holdsLineBreak(second))
        return false;
    char quotedFirst[dictRequestSize];
    char quotedSecond[dictRequestSize];
    if (!quoteParameter(first, quotedFirst, sizeof quotedFirst) ||
        (second != nullptr && !quoteParameter(second, quotedSecond, sizeof quotedSecond)))
        return false;
    int written = second == nullptr ? snprintf(request, dictRequestSize, format, quotedFirst)
                                    : snprintf(request, dictRequestSize, format, quotedFirst, quotedSecond);
    if (written < 0 || written >= dictRequestSize)
        return false;
    *length = (size_t)written;
    return true;
}
