// Line-by-line scanning of whitespace-separated integer tables, read in large blocks.
//
// Every line that holds a non-white-space character is one row; blank lines (also a
// lone carriage return) are not rows but still count as physical lines. Values are
// classified by value, never through a fixed-width conversion, so a digit string of
// any length is an integer and "01", "+2", "-0" read as 1, 2 and 0.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "base/status.h"

namespace velk {

// Class of one token: 0, 1 or 2 for those values, kOtherInteger for every other
// integer, kNotInteger for a token that is not an optional sign followed by digits.
inline constexpr int kOtherInteger = 3;
inline constexpr int kNotInteger = -1;

// Bytes of a bad token kept for its message; longer tokens are shown cut short.
inline constexpr size_t kTokenPreview = 200;

// Character classes of the scanner. White space is what isspace() sees in the C
// locale; the line feed alone ends a row.
enum : unsigned char { kOther = 0, kDigit = 1, kSign = 2, kBlank = 3, kLineFeed = 4 };
struct char_classes {
  unsigned char of[256];
};
constexpr char_classes make_char_classes() {
  char_classes t{};
  for (int c = '0'; c <= '9'; ++c) t.of[c] = kDigit;
  t.of[static_cast<unsigned char>('+')] = t.of[static_cast<unsigned char>('-')] = kSign;
  for (unsigned char c : {' ', '\t', '\v', '\f', '\r'}) t.of[c] = kBlank;
  t.of[static_cast<unsigned char>('\n')] = kLineFeed;
  return t;
}
inline constexpr char_classes kCharClass = make_char_classes();

// The fields of the line that starts at `at`: runs of characters other than blanks and
// tabs (a carriage return is a blank). Keeps the first `keep` fields in `fields`, counts
// them all in `count`, and returns where the line ends (its line feed, or the end).
size_t split_fields(std::string_view text, size_t at, std::string_view* fields, int keep, int& count);

// The text of a token as it appears in messages.
std::string token_for_message(const char* text, size_t kept, size_t length);

// Reads `file` to its end (or until the sink stops), calling for each token
//   bool sink.token(long index_in_row, int value_class)
// and at the end of each row
//   bool sink.end_row(long line_number, long value_count)
// Either returning false stops the scan, which is then a success: the sink keeps its
// own reason. With `check_tokens`, a token that is not an integer ends the scan with
// the failure "File NAME, line L: "TOKEN" is not an integer." and a hint naming its
// column; without it, such a token reaches the sink as kNotInteger. A file that cannot
// be read ends it with "Can't read the input file NAME" (ferror(file) then tells it
// from a bad token).
template <class Sink>
status scan_rows(FILE* file, const char* name, bool check_tokens, Sink& sink);

inline constexpr size_t kScanBlock = 1 << 20;  // bytes read at a time

// A block for one scan, or null when memory is short. Release with free().
char* new_scan_buffer();

// The failure of a token that is not an integer, in 1-based column `column` of line
// `line`; its hint says what the column holds and what the file may hold.
status bad_token_failure(const char* name, long line, long column, const char* text, size_t kept, size_t length);

// "Can't read the input file NAME", the failure of every listed file that cannot be read.
status unreadable_failure(const char* name);

// Whether [begin, end) is a row of single-digit values separated by single blanks or
// tabs, optionally ending in a carriage return: the shape of nearly every genotype
// line, which can be checked 16 bytes at a time instead of byte by byte. Sets `values`.
bool is_simple_row(const unsigned char* begin, const unsigned char* end, long& values);

// Offers a simple row to a sink: through its simple_row(line, text, values) when it has
// one (value k is the digit text[2 k]), else value by value.
template <class Sink>
bool offer_simple_row(Sink& sink, long line, const unsigned char* text, long values) {
  if constexpr (requires { sink.simple_row(line, text, values); }) {
    return sink.simple_row(line, text, values);
  } else {
    for (long k = 0; k < values; ++k) {
      const int digit = text[2 * k] - '0';
      if (!sink.token(k, digit <= 2 ? digit : kOtherInteger)) return false;
    }
    return sink.end_row(line, values);
  }
}

template <class Sink>
status scan_rows(FILE* file, const char* name, bool check_tokens, Sink& sink) {
  struct owned {
    char* p;
    ~owned() { free(p); }
  } const block{new_scan_buffer()};
  char* const buffer = block.p;
  if (buffer == nullptr) return out_of_memory();
  long line = 1;            // physical line number, 1-based
  long in_row = 0;          // tokens seen on the current line
  bool line_start = true;   // nothing of the current line has been read yet
  bool in_token = false;
  bool token_bad = false;
  bool token_negative = false;
  long token_digits = 0;
  int token_value = 0;  // saturates at kOtherInteger
  size_t token_length = 0;
  char preview[kTokenPreview];
  status bad_token;

  auto finish_token = [&]() -> bool {
    in_token = false;
    int value;
    if (token_bad || token_digits == 0) {
      if (check_tokens) {
        bad_token = bad_token_failure(name, line, in_row + 1, preview,
                                      token_length < kTokenPreview ? token_length : kTokenPreview, token_length);
        return false;
      }
      value = kNotInteger;
    } else {
      value = (token_negative && token_value != 0) ? kOtherInteger : token_value;
    }
    return sink.token(in_row++, value);
  };
  auto stopped = [&] { return bad_token; };

  for (;;) {
    const size_t got = fread(buffer, 1, kScanBlock, file);
    if (got == 0) {
      if (ferror(file)) return unreadable_failure(name);
      break;
    }
    const unsigned char* q = reinterpret_cast<const unsigned char*>(buffer);
    const unsigned char* const end = q + got;
    while (q < end) {
      if (line_start) {
        // Try the whole line at once; once per line, so long lines stay linear.
        line_start = false;
        const void* lf = memchr(q, '\n', static_cast<size_t>(end - q));
        long values = 0;
        if (lf != nullptr && is_simple_row(q, static_cast<const unsigned char*>(lf), values)) {
          if (!offer_simple_row(sink, line, q, values)) return stopped();
          ++line;
          line_start = true;
          q = static_cast<const unsigned char*>(lf) + 1;
          continue;
        }
      }
      const unsigned char c = *q++;
      switch (kCharClass.of[c]) {
        case kBlank:
          if (in_token && !finish_token()) return stopped();
          break;
        case kLineFeed:
          if (in_token && !finish_token()) return stopped();
          if (in_row > 0) {
            const long values = in_row;
            in_row = 0;
            if (!sink.end_row(line, values)) return stopped();
          }
          ++line;
          line_start = true;
          break;
        case kDigit:
          if (!in_token) {
            in_token = true;
            token_bad = token_negative = false;
            token_digits = 0;
            token_value = 0;
            token_length = 0;
          }
          token_value = token_value >= kOtherInteger ? kOtherInteger : token_value * 10 + (c - '0');
          if (token_value > kOtherInteger) token_value = kOtherInteger;
          ++token_digits;
          if (token_length < kTokenPreview) preview[token_length] = static_cast<char>(c);
          ++token_length;
          break;
        default:  // a sign or any other character
          if (!in_token) {
            in_token = true;
            token_negative = (c == '-');
            token_digits = 0;
            token_value = 0;
            token_length = 0;
            token_bad = kCharClass.of[c] != kSign;
          } else {
            token_bad = true;
          }
          if (token_length < kTokenPreview) preview[token_length] = static_cast<char>(c);
          ++token_length;
          break;
      }
    }
  }
  if (in_token && !finish_token()) return stopped();
  if (in_row > 0 && !sink.end_row(line, in_row)) return stopped();
  return ok_status();
}

}  // namespace velk
