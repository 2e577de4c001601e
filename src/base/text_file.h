// Reading whole files without ever blocking: what every reader of the program's small
// text files (lists, parameters, strata, results, checkpoints) shares.
#pragma once

#include <cstdio>
#include <string>

namespace velk {

// A blank between the fields of the program's own files (result, permutation and
// parameter files): a space or a tab.
inline bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Opens a file for reading without ever blocking; null when it cannot be opened.
FILE* open_nonblocking(const char* name);

// Reads a whole file; false when it is not a regular file or a read fails.
bool read_whole(FILE* file, std::string& text);

// Whether an open file is a regular file.
bool is_regular(FILE* file);

// Opens and reads a whole file without blocking: read, or why not.
enum class text_file { read, cannot_open, cannot_read };
text_file read_text_file(const char* name, std::string& text);

}  // namespace velk
