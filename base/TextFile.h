// Text files as the program writes them: CP1251 bytes, every line feed
// stored as CR LF (the files keep the format of text-mode files).
#pragma once
#include <cstdio>
#include <string>
#include <string_view>

// The bytes of `text` with every "\n" stored as "\r\n".
std::string TextModeBytes(std::string_view text);

// Writes `bytes`, flushes and closes `file`; true when every step succeeded.
// The file is closed in any case.
bool WriteAndClose(std::FILE* file, std::string_view bytes);

// Puts the finished file `from` in the place of `to` in one step: its data
// are flushed to the disk first, then it is renamed over `to` (which keeps
// its old contents until that moment). False with `error` (errno; Windows:
// GetLastError) when a step failed; `from` is then left as it was.
bool ReplaceFile(const std::string& from, const std::string& to, int& error);
