// Test access to the files behind the configuration store, natively and on Windows.
#include "tests/unit/profilefile.h"

#include <stdio.h>
#include <stdlib.h>

#include "config/config.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

const int chunkSize = 4096;

std::string joinPath(const std::string& dir, const char* name, char separator)
{
    if (dir.empty())
        return name;
    if (dir.back() == separator)
        return dir + name;
    return dir + separator + name;
}

#ifdef _WIN32
// The system keeps parsed profile files and reloads one only when its last-write time changed;
// two writes within one tick of the file clock would look the same. Every text a test writes
// therefore gets a time of its own, long past, that no real write can have.
void giveUniqueWriteTime(const std::string& path)
{
    static unsigned long long writesSoFar = 0;
    const unsigned long long year2001 = 126227808000000000ULL;  // in 100 ns ticks since 1601
    const unsigned long long ticksPerSecond = 10000000ULL;
    unsigned long long ticks = year2001 + ++writesSoFar * ticksPerSecond;
    FILETIME time = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        SetFileTime(file, nullptr, nullptr, &time);
        CloseHandle(file);
    }
}
#endif

}  // namespace

std::string profileFilePath()
{
#ifdef _WIN32
    char dir[MAX_PATH];
    UINT length = GetWindowsDirectoryA(dir, sizeof dir);
    return joinPath(length > 0 && length < sizeof dir ? dir : "", configFileName, '\\');
#else
    const char* dir = getenv("LEXITRAY_PROFILE_DIR");
    return joinPath(dir != nullptr ? dir : "", configFileName, '/');
#endif
}

std::string staleFilePath()
{
#ifdef _WIN32
    return staleConfigFileName;
#else
    const char* dir = getenv("LEXITRAY_PROFILE_DIR");
    return joinPath(dir != nullptr ? dir : "", staleConfigFileName, '/');
#endif
}

bool fileExists(const std::string& path)
{
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    fclose(file);
    return true;
}

std::string readFileText(const std::string& path)
{
    std::string text;
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr)
        return text;
    char chunk[chunkSize];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0)
        text.append(chunk, got);
    fclose(file);
    return text;
}

std::vector<std::string> readFileLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::string text = readFileText(path);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

void writeFileText(const std::string& path, const std::string& text)
{
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr)
        return;
    fwrite(text.data(), 1, text.size(), file);
    fclose(file);
#ifdef _WIN32
    giveUniqueWriteTime(path);
#endif
}

void writeFileLines(const std::string& path, const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    writeFileText(path, text);
}

void removeFile(const std::string& path) { remove(path.c_str()); }
