#include "data/text_rows.h"

#include <emmintrin.h>

#include <cstdlib>
#include <cstring>


namespace velk {

size_t split_fields(std::string_view text, size_t at, std::string_view* fields, int keep, int& count) {
  count = 0;
  while (at < text.size() && text[at] != '\n') {
    if (kCharClass.of[static_cast<unsigned char>(text[at])] == kBlank) {
      ++at;
      continue;
    }
    const size_t start = at;
    while (at < text.size() && text[at] != '\n' && kCharClass.of[static_cast<unsigned char>(text[at])] != kBlank) ++at;
    if (count < keep) fields[count] = text.substr(start, at - start);
    ++count;
  }
  return at;
}

char* new_scan_buffer() {
  return static_cast<char*>(malloc(kScanBlock));
}

bool is_simple_row(const unsigned char* begin, const unsigned char* end, long& values) {
  if (end > begin && end[-1] == '\r') --end;
  const long length = end - begin;
  if (length <= 0 || length % 2 == 0) return false;
  // 16 bytes at a time (SSE2 is part of every x86-64): even offsets must be digits,
  // odd offsets a blank or a tab.
  const __m128i zero_char = _mm_set1_epi8('0');
  const __m128i nine_span = _mm_set1_epi8(static_cast<char>(9 - 128));
  const __m128i bias = _mm_set1_epi8(static_cast<char>(-128));
  const __m128i blank = _mm_set1_epi8(' ');
  const __m128i tab = _mm_set1_epi8('\t');
  long k = 0;
  for (; k + 16 <= length; k += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(begin + k));
    // (v - '0') as an unsigned byte is at most 9 exactly for the digits.
    const __m128i shifted = _mm_add_epi8(_mm_sub_epi8(v, zero_char), bias);
    const int digits = ~_mm_movemask_epi8(_mm_cmpgt_epi8(shifted, nine_span)) & 0xFFFF;
    const int separators = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, blank), _mm_cmpeq_epi8(v, tab)));
    if ((digits & 0x5555) != 0x5555 || (separators & 0xAAAA) != 0xAAAA) return false;
  }
  for (; k < length; ++k) {
    const unsigned char c = begin[k];
    if (k % 2 == 0 ? (c < '0' || c > '9') : (c != ' ' && c != '\t')) return false;
  }
  values = (length + 1) / 2;
  return true;
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

status bad_token_failure(const char* name, long line, const char* text, size_t kept, size_t length) {
  return failure(status_code::input_error, "File %s, line %ld: \"%s\" is not an integer.\n", name, line,
                 token_for_message(text, kept, length).c_str());
}

status unreadable_failure(const char* name) {
  return failure(status_code::input_error, "Can't read the input file %s\n", name);
}

}  // namespace velk
