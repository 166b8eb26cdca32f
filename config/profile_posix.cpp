// A stand-in for the Windows private-profile calls: one INI file per bare name, read afresh on
// every call and rewritten whole through a temporary file, so a reader never sees half a file.
#include "config/profile.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include <string>

namespace {

// Where bare names are resolved; tests point it at a folder of their own.
const char profileDirVariable[] = "LEXITRAY_PROFILE_DIR";
// The system reads at most this many characters of a value when it wants a number.
const int intTextCapacity = 30;
const int readChunkSize = 4096;

std::string resolvePath(const char* fileName)
{
    const char* dir = getenv(profileDirVariable);
    if (dir == nullptr || dir[0] == '\0')
        return fileName;
    std::string path = dir;
    if (path.back() != '/')
        path += '/';
    return path + fileName;
}

// False when the file does not exist or cannot be read; text is then empty.
bool loadFile(const std::string& path, std::string* text)
{
    text->clear();
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    char chunk[readChunkSize];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0)
        text->append(chunk, got);
    bool ok = ferror(file) == 0;
    fclose(file);
    return ok;
}

bool saveFile(const std::string& path, const std::string& text)
{
    std::string temporary = path + ".tmp" + std::to_string(static_cast<long>(getpid()));
    FILE* file = fopen(temporary.c_str(), "wb");
    if (file == nullptr)
        return false;
    bool ok = fwrite(text.data(), 1, text.size(), file) == text.size();
    ok = fclose(file) == 0 && ok;
    if (ok && rename(temporary.c_str(), path.c_str()) == 0)
        return true;
    unlink(temporary.c_str());
    return false;
}

// White space as the system's profile reader sees it (0x1a is the old end-of-file mark).
bool isProfileSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r') || c == '\x1a'; }

struct Range {
    size_t begin;
    size_t end;
};

Range trimmed(const std::string& text, Range range)
{
    while (range.begin < range.end && isProfileSpace(text[range.begin]))
        range.begin++;
    while (range.end > range.begin && isProfileSpace(text[range.end - 1]))
        range.end--;
    return range;
}

bool equalsIgnoringCase(const std::string& text, Range range, const char* name)
{
    size_t length = strlen(name);
    return range.end - range.begin == length && strncasecmp(text.data() + range.begin, name, length) == 0;
}

// Where a key lies in the file text, or where a new key of its section would go.
struct KeyPlace {
    bool sectionFound;
    size_t insertAt;  // just after the section's last non-blank line
    bool keyFound;
    Range name;   // the key's name as written in the file
    Range line;   // the key's whole line, without its line break
    Range value;  // the value, without surrounding blanks
};

KeyPlace findKey(const std::string& text, const char* section, const char* key)
{
    KeyPlace place = {};
    bool inSection = false;
    size_t start = 0;
    while (start < text.size()) {
        size_t newline = text.find('\n', start);
        size_t next = newline == std::string::npos ? text.size() : newline + 1;
        Range line = {start, newline == std::string::npos ? text.size() : newline};
        Range content = trimmed(text, line);
        start = next;
        if (content.begin == content.end)
            continue;
        if (text[content.begin] == '[') {
            // Only the first section of the name counts.
            if (place.sectionFound)
                break;
            size_t close = content.begin + 1;
            while (close < content.end && text[close] != ']')
                close++;
            Range name = {content.begin + 1, close};
            inSection = equalsIgnoringCase(text, trimmed(text, name), section);
            if (inSection) {
                place.sectionFound = true;
                place.insertAt = next;
            }
            continue;
        }
        if (!inSection)
            continue;
        place.insertAt = next;
        size_t equals = content.begin;
        while (equals < content.end && text[equals] != '=')
            equals++;
        if (equals == content.end)
            continue;
        Range name = trimmed(text, {content.begin, equals});
        if (!equalsIgnoringCase(text, name, key))
            continue;
        place.keyFound = true;
        place.name = name;
        place.line = {line.begin, content.end};
        place.value = trimmed(text, {equals + 1, content.end});
        return place;
    }
    return place;
}

// The value as the system hands it out: one pair of matching quotes around it is removed.
Range unquoted(const std::string& text, Range value)
{
    if (value.end - value.begin >= 2) {
        char first = text[value.begin];
        if ((first == '"' || first == '\'') && text[value.end - 1] == first)
            return {value.begin + 1, value.end - 1};
    }
    return value;
}

int copyBounded(const char* source, size_t length, char* buffer, int capacity)
{
    size_t room = static_cast<size_t>(capacity) - 1;
    if (length > room)
        length = room;
    memcpy(buffer, source, length);
    buffer[length] = '\0';
    return static_cast<int>(length);
}

int digitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 10;
    return -1;
}

// Reads a number the way the system does: leading blanks, a sign, a "0x", "0o" or "0b" prefix,
// then digits up to the first other character; arithmetic wraps modulo 2^32.
uint32_t parseProfileNumber(const char* text)
{
    while (*text != '\0' && static_cast<unsigned char>(*text) <= ' ')
        text++;
    bool negative = false;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        text++;
    }
    uint32_t base = 10;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'o' || text[1] == 'b')) {
        base = text[1] == 'x' ? 16 : text[1] == 'o' ? 8 : 2;
        text += 2;
    }
    uint32_t total = 0;
    for (;; text++) {
        int digit = digitValue(*text);
        if (digit < 0 || static_cast<uint32_t>(digit) >= base)
            break;
        total = total * base + static_cast<uint32_t>(digit);
    }
    return negative ? 0u - total : total;
}

}  // namespace

int profileReadString(const char* fileName, const char* section, const char* key, const char* defaultText,
                      char* buffer, int capacity)
{
    if (capacity < 1)
        return 0;
    std::string text;
    loadFile(resolvePath(fileName), &text);
    KeyPlace place = findKey(text, section, key);
    if (!place.keyFound) {
        const char* fallback = defaultText != nullptr ? defaultText : "";
        return copyBounded(fallback, strlen(fallback), buffer, capacity);
    }
    Range value = unquoted(text, place.value);
    return copyBounded(text.data() + value.begin, value.end - value.begin, buffer, capacity);
}

int profileReadInt(const char* fileName, const char* section, const char* key, int defaultValue)
{
    char number[intTextCapacity];
    if (profileReadString(fileName, section, key, "", number, sizeof number) == 0)
        return defaultValue;
    // Same bits as the system's unsigned result, seen as signed.
    return static_cast<int>(parseProfileNumber(number));
}

bool profileWriteString(const char* fileName, const char* section, const char* key, const char* text)
{
    std::string path = resolvePath(fileName);
    std::string file;
    loadFile(path, &file);

    // Like the system, drop leading blanks; trailing ones stay in the file and go on reading.
    std::string value = text != nullptr ? text : "";
    size_t first = 0;
    while (first < value.size() && isProfileSpace(value[first]))
        first++;
    value.erase(0, first);

    KeyPlace place = findKey(file, section, key);
    if (place.keyFound) {
        std::string line = file.substr(place.name.begin, place.name.end - place.name.begin) + "=" + value;
        file.replace(place.line.begin, place.line.end - place.line.begin, line);
        return saveFile(path, file);
    }
    std::string addition = std::string(key) + "=" + value + "\r\n";
    size_t at = place.sectionFound ? place.insertAt : file.size();
    if (!place.sectionFound)
        addition = "[" + std::string(section) + "]\r\n" + addition;
    // The last line of the file may lack its line break.
    if (at == file.size() && !file.empty() && file.back() != '\n')
        addition = "\r\n" + addition;
    file.insert(at, addition);
    return saveFile(path, file);
}

bool profileDeleteFile(const char* fileName) { return unlink(resolvePath(fileName).c_str()) == 0; }

bool profileLocateFile(const char* fileName, const char*, char* path, int capacity)
{
    if (capacity > 0)
        copyBounded(fileName, strlen(fileName), path, capacity);
    return true;
}
