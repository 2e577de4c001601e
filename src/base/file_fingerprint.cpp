#include "base/file_fingerprint.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velk {

uint64_t hash_bytes(const void* data, size_t bytes, uint64_t hash) {
  const auto* at = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < bytes; ++i) {
    hash ^= at[i];
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

file_fingerprint fingerprint_file(const std::string& name) {
  file_fingerprint f;
  f.name = name;
  struct stat info;
  if (stat(name.c_str(), &info) != 0) return f;
  f.present = true;
  f.size = static_cast<uint64_t>(info.st_size);
  f.modified_ns = static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  if (!S_ISREG(info.st_mode) || f.size > kHashedFileBytes) return f;
  const int fd = open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return f;
  unsigned char block[1 << 16];
  uint64_t hash = 0xcbf29ce484222325ULL;
  ssize_t got;
  while ((got = read(fd, block, sizeof block)) > 0) hash = hash_bytes(block, static_cast<size_t>(got), hash);
  close(fd);
  f.hash = hash;
  return f;
}

}  // namespace velk
