// Output files that are replaced whole or not at all.
//
// A result written straight into its file is lost twice when the write fails halfway
// (a full disk, a file-size limit): the earlier file is already truncated, and what is
// left looks like a result. So a file is written under a temporary name in the folder
// where it will stand, flushed to the disk, given the old file's permission bits and
// renamed over the old one; on any failure the temporary file is removed and the old
// file stays byte for byte as it was.
//
// A name that is a symbolic link stays a link: the regular file it points to is
// replaced, in that file's folder. A name that is a device or another special file
// (a link to /dev/null, say) is written in place, as any program would.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>

namespace velk {

struct output_file {
  FILE* stream = nullptr;  // write here between open_output and commit_output
  std::string target;      // the file that is replaced (the name, or where its links lead)
  std::string temporary;   // the new file's name; empty when writing in place
};

// Opens `name` for replacing. False, with nothing created and errno saying why, when
// no file can be made there (a directory of that name, a folder without write
// permission).
bool open_output(const char* name, output_file& out);

// Flushes and syncs the new file and renames it into place. False when a write, the
// flush or the rename failed; the new file is then removed and the old one untouched.
bool commit_output(output_file& out);

// The two halves of commit_output, for files that are replaced together: seal_output
// flushes, syncs and closes the new file (false when that failed: nothing is in place
// yet, and abandon_output removes it); place_output then renames it over the old one
// (false when the rename failed; the new file is then removed).
bool seal_output(output_file& out);
bool place_output(output_file& out);

// Whether `name` could be opened for replacing now, trying it and giving it up; when
// not, `why` gets its full path and the system's reason ("/data/VELKResult.txt: Is a
// directory").
bool probe_output(const char* name, std::string& why);

// `name` from the root: the current folder's path before a relative name.
std::string full_path(const std::string& name);

// Gives up a file opened by open_output: the new file is removed.
void abandon_output(output_file& out);

// Writes `text` to `name` as above: false when the file cannot be created
// (`created` false) or written (`created` true).
bool write_whole_file(const char* name, const std::string& text, bool& created);

// Removes `name` when it is a regular file or a link; true when nothing is left.
bool remove_if_present(const char* name);

// Ignores SIGXFSZ, so that a file-size limit makes a write fail instead of killing
// the process before it can clean up.
void ignore_file_size_signal();

}  // namespace velk
