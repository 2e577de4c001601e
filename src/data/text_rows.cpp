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

namespace {

// "1st", "2nd", "3rd", "4th", ..., "11th", ..., "21st".
std::string ordinal(long n) {
  const long tens = n % 100, units = n % 10;
  const char* suffix = tens >= 11 && tens <= 13 ? "th"
                       : units == 1             ? "st"
                       : units == 2             ? "nd"
                       : units == 3             ? "rd"
                                                : "th";
  return std::to_string(n) + suffix;
}

}  // namespace

status bad_token_failure(const char* name, long line, long column, const char* text, size_t kept, size_t length) {
  // The message is compared byte for byte by the scripts of earlier studies; the hint
  // is advice.
  const std::string where = column == 1
                                ? "column 1, the status"
                                : "column " + std::to_string(column) + ", the file's " + ordinal(column - 1) + " SNP";
  return with_hint(failure(status_code::input_error, "File %s, line %ld: \"%s\" is not an integer.\n", name, line,
                           token_for_message(text, kept, length).c_str()),
                   "it stands in " + where +
                       "; text genotype files hold integers only: the status (0 a control, any other integer a case), "
                       "then 0, 1 or 2 per SNP, a missing genotype written as any other integer (-1 or 3, say).");
}

status unreadable_failure(const char* name) {
  return failure(status_code::input_error, "Can't read the input file %s\n", name);
}

}  // namespace velk
