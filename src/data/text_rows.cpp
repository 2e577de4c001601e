#include "data/text_rows.h"

#include <cstdlib>

#include "driver/fail.h"

namespace velk {

char* new_scan_buffer() {
  char* buffer = static_cast<char*>(malloc(kScanBlock));
  if (buffer == nullptr) fail_out_of_memory();
  return buffer;
}

std::string token_for_message(const char* text, size_t kept, size_t length) {
  std::string shown;
  shown.reserve(kept + 3);
  for (size_t i = 0; i < kept; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    // Control bytes (a NUL from a binary file, say) would garble the terminal.
    shown.push_back((c < 0x20 || c == 0x7F) ? '?' : static_cast<char>(c));
  }
  if (length > kept) shown += "...";
  return shown;
}

void report_bad_token(const char* name, long line, const char* text, size_t kept, size_t length) {
  report("File %s, line %ld: \"%s\" is not an integer.\n", name, line,
         token_for_message(text, kept, length).c_str());
}

}  // namespace velk
