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
