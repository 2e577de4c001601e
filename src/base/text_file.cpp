#include "base/text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velk {

FILE* open_nonblocking(const char* name) {
  // Opened without blocking: opening a FIFO that no one writes would otherwise wait
  // for ever. Regular files are not affected by the flag; anything else is refused
  // as unreadable once open.
  const int fd = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  FILE* file = fdopen(fd, "r");
  if (file == nullptr) close(fd);
  return file;
}

bool is_regular(FILE* file) {
  struct stat info;
  return fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode);
}

bool read_whole(FILE* file, std::string& text) {
  if (!is_regular(file)) return false;
  char block[1 << 16];
  size_t got;
  while ((got = fread(block, 1, sizeof block, file)) > 0) text.append(block, got);
  return !ferror(file);
}

text_file read_text_file(const char* name, std::string& text) {
  FILE* file = open_nonblocking(name);
  if (file == nullptr) return text_file::cannot_open;
  const bool read = read_whole(file, text);
  fclose(file);
  return read ? text_file::read : text_file::cannot_read;
}

}  // namespace velk
