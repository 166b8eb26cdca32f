// The private-profile calls on Windows: kernel32 with the bare file name.
#include "config/profile.h"

#include <windows.h>

int profileReadInt(const char* fileName, const char* section, const char* key, int defaultValue)
{
    // The system returns the value as unsigned; negative numbers come back in two's complement.
    return static_cast<int>(GetPrivateProfileIntA(section, key, defaultValue, fileName));
}

int profileReadString(const char* fileName, const char* section, const char* key, const char* defaultText,
                      char* buffer, int capacity)
{
    if (capacity < 1)
        return 0;
    return static_cast<int>(
        GetPrivateProfileStringA(section, key, defaultText, buffer, static_cast<DWORD>(capacity), fileName));
}

bool profileWriteString(const char* fileName, const char* section, const char* key, const char* text)
{
    return WritePrivateProfileStringA(section, key, text, fileName) != 0;
}

bool profileDeleteFile(const char* fileName) { return DeleteFileA(fileName) != 0; }
