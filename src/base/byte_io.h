// Plain values written to and read back from runs of bytes, in the machine's own
// layout: for what one run hands another (a rank, a later run of the same program on
// the same cluster), never for files meant to travel between machines.
#pragma once

#include <cstring>
#include <type_traits>

namespace velk {

// Appends the bytes of `value` to `out` (a std::string or a vector of bytes).
template <class Bytes, class T>
void put_value(Bytes& out, T value) {
  static_assert(std::is_trivially_copyable_v<T>);
  const size_t at = out.size();
  out.resize(at + sizeof value);
  memcpy(out.data() + at, &value, sizeof value);
}

// Reads a value at `at` and moves past it; false when fewer bytes than it are left.
template <class T>
bool take_value(const unsigned char*& at, const unsigned char* end, T& value) {
  static_assert(std::is_trivially_copyable_v<T>);
  if (end - at < static_cast<long>(sizeof value)) return false;
  memcpy(&value, at, sizeof value);
  at += sizeof value;
  return true;
}

}  // namespace velk
