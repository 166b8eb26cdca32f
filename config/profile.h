// The few private-profile calls the configuration store needs; profile_win.cpp passes them to
// kernel32, profile_posix.cpp implements a compatible stand-in for native builds and tests.
#pragma once

// A fileName is a full path or a bare name; on Windows paths are in UTF-8, so that every user name
// can be written, and key and value texts in the ANSI code page. On Windows the system resolves a bare name:
// profile files lie in the Windows directory, a file to delete in the current directory. The stand-in
// resolves both in the directory named by LEXITRAY_PROFILE_DIR, or in the current directory when
// it is unset.

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

// Where the profile file named fileName lies, into path (capacity bytes). On Windows: the file
// beside the program when there is one (portable use); otherwise folderName\fileName in the
// user's roaming application data, which is created, and at the first start filled with the
// profile an older version left in the Windows directory or its per-user VirtualStore copy. When
// no such folder can be had, the bare name. The stand-in keeps the bare name, so tests steer it
// with LEXITRAY_PROFILE_DIR. Returns false when an older profile was there but could not be copied:
// the next start tries again.
bool profileLocateFile(const char* fileName, const char* folderName, char* path, int capacity);

#ifdef _WIN32
// The folders profileLocateFile looks in, given as full paths in UTF-8 without a trailing backslash.
struct ProfileFolders {
    const char* programDir;      // the running program's folder
    const char* userDataDir;     // the user's roaming application data; null when unknown
    const char* legacyFiles[2];  // profiles older versions left, the one to take first first; null ends
};
enum ProfileLocated {
    profileLocated,
    profileLocatedCopyFailed,  // in the user's folder, but the older profile could not be copied there
    profileNotLocated,         // path left empty
};
// profileLocateFile with the folders given. Not located when neither the program's folder holds the
// file nor the user's folder can be had or the path would not fit. A failed copy leaves a marker
// beside the profile, so that later calls copy again, over the profile seeded meanwhile.
ProfileLocated profileLocateIn(const ProfileFolders& folders, const char* fileName, const char* folderName,
                               char* path, int capacity);
#endif
