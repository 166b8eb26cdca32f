// Test access to the files behind the configuration store: where they lie, their raw text, removal.
#pragma once
#include <string>
#include <vector>

// Where the profile calls put the bare file name: the Windows directory on Windows, the folder
// named by LEXITRAY_PROFILE_DIR (else the current one) natively.
std::string profileFilePath();
// Where a deletion by the bare stale file name looks: the current directory on Windows, the
// profile folder natively.
std::string staleFilePath();

bool fileExists(const std::string& path);
// The file's bytes; empty when it does not exist.
std::string readFileText(const std::string& path);
// The file's non-blank lines, without their line breaks.
std::vector<std::string> readFileLines(const std::string& path);
// Replaces the file with text, so that the next profile call sees the new text.
void writeFileText(const std::string& path, const std::string& text);
// The lines joined with CR LF, each one ended.
void writeFileLines(const std::string& path, const std::vector<std::string>& lines);
void removeFile(const std::string& path);
