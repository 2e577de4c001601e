// What a file was when a run read it: present or not, its size and modification time,
// and for small files a hash of their bytes. A file edited since, or created or removed,
// no longer matches. (Large files are not read again for it: a genotype file of
// gigabytes is told by its size and its modification time to the nanosecond.)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velk {

struct file_fingerprint {
  std::string name;
  bool present = false;
  uint64_t size = 0;
  int64_t modified_ns = 0;
  uint64_t hash = 0;  // of the bytes, for files up to kHashedFileBytes; else 0

  bool operator==(const file_fingerprint&) const = default;
};

inline constexpr uint64_t kHashedFileBytes = uint64_t{16} << 20;

file_fingerprint fingerprint_file(const std::string& name);

// FNV-1a, 64 bits, continued from `hash`.
uint64_t hash_bytes(const void* data, size_t bytes, uint64_t hash = 0xcbf29ce484222325ULL);

}  // namespace velk
