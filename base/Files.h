// Files by their UTF-8 names, on every platform: Windows takes them through
// its wide-character calls, so that names with Cyrillic letters work there.
// Part of the folder code (PathsPosix.cpp, PathsWin32.cpp).
#pragma once
#include <cstdio>
#include <string>

// std::fopen with a UTF-8 name; errno says why on failure.
std::FILE* OpenFile(const std::string& path, const char* mode);
// Whether something exists under that name.
bool FileExists(const std::string& path);
// Renames `from` to `to`, replacing a file already called `to`.
bool MoveFileOver(const std::string& from, const std::string& to);
// Removes a file; false when it could not.
bool RemoveFile(const std::string& path);
// Cuts an open file to length 0.
bool TruncateFile(std::FILE* file);
// Whether the open file has been removed from its folder meanwhile (lines
// written to it would be lost). Windows keeps an open file's name: never.
bool FileRemoved(std::FILE* file);
