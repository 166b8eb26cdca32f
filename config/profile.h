// The few private-profile calls the configuration store needs; profile_win.cpp passes them to
// kernel32, profile_posix.cpp implements a compatible stand-in for native builds and tests.
#pragma once

// Every fileName is a bare name. On Windows the system resolves it: profile files lie in the
// Windows directory, a file to delete in the current directory. The stand-in resolves both in
// the directory named by LEXITRAY_PROFILE_DIR, or in the current directory when it is unset.

// The key's value read as an integer (blanks, an optional sign, digits; text after the digits
// is ignored; wraps modulo 2^32), or defaultValue when the key is absent or its value empty.
int profileReadInt(const char* fileName, const char* section, const char* key, int defaultValue);

// Copies the key's value, or defaultText when the key is absent, into buffer, cut to
// capacity - 1 characters and terminated. Returns the number of characters copied.
// Blanks around a value and one pair of matching quotes around it are not part of it.
int profileReadString(const char* fileName, const char* section, const char* key, const char* defaultText,
                      char* buffer, int capacity);

// Stores text as the key's value, creating the file, section and key as needed and replacing
// an existing value in place. Returns false when the file could not be written.
bool profileWriteString(const char* fileName, const char* section, const char* key, const char* text);

// Deletes the file; false when it did not exist or could not be deleted.
bool profileDeleteFile(const char* fileName);
