#include "data/vcf_calls.h"

#include <emmintrin.h>
#include <xmmintrin.h>
#include <htslib/vcf.h>

#include <cstring>

namespace velk {

namespace {

// Collects the calls of four samples into one byte.
struct call_packer {
  uint8_t* out;
  unsigned byte = 0;
  long s = 0;
  void put(unsigned call) {
    byte |= call << (2 * (s % 4));
    if (++s % 4 == 0) {
      out[s / 4 - 1] = static_cast<uint8_t>(byte);
      byte = 0;
    }
  }
  void finish() {
    if (s % 4 != 0) out[s / 4] = static_cast<uint8_t>(byte);
  }
};

// An allele of a GT value: its index, or -1 when missing (bcf_gt_missing, or a value
// such as bcf_int32_missing that holds no allele at all).
int allele_of(int32_t value) { return value >> 1 > 0 ? (value >> 1) - 1 : -1; }

// Columns of exactly three characters, the shape of files written with GT alone (as
// plink1.9 writes them): four bytes "A/B\t" (or "A|B\t") per sample, 16 bytes, four
// samples and one byte of calls at a time, checked and summed without a branch per
// sample (SSE2 is part of every x86-64). This is most of the time of reading such a
// file: the per-column reading costs about three times as much.
bool pack_uniform_calls(const char* begin, const char* end, long samples, int alleles, uint8_t* packed) {
  if (end - begin != 4 * samples - 1) return false;
  const __m128i zero = _mm_set1_epi8('0');
  const __m128i one = _mm_set1_epi8(alleles > 1 ? '1' : '0');  // no ALT allele: only 0
  const __m128i dot = _mm_set1_epi8('.');
  const __m128i allele_bytes = _mm_set1_epi32(0x00FF00FF);  // A and B of each sample
  const __m128i separator_bytes = _mm_set1_epi32(0x0000FF00);
  const __m128i tab_bytes = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  const __m128i separators = _mm_set1_epi32(0x00002F00);  // '/' in the separator's place
  const __m128i bars = _mm_set1_epi32(0x00007C00);        // '|'
  const __m128i tabs = _mm_set1_epi32(0x09000000);
  const __m128i low_byte = _mm_set1_epi32(0xFF);
  // Whole groups of four whose 16 bytes lie before the last column, which has no tab.
  const long groups = samples > 0 ? (samples - 1) / 4 : 0;
  int bad = 0;
  for (long k = 0; k < groups; ++k) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(begin + 16 * k));
    const __m128i digit = _mm_or_si128(_mm_cmpeq_epi8(v, zero), _mm_cmpeq_epi8(v, one));
    const __m128i is_dot = _mm_cmpeq_epi8(v, dot);
    const __m128i allele_ok = _mm_and_si128(_mm_or_si128(digit, is_dot), allele_bytes);
    const __m128i separator_ok = _mm_or_si128(_mm_cmpeq_epi32(_mm_and_si128(v, separator_bytes), separators),
                                              _mm_cmpeq_epi32(_mm_and_si128(v, separator_bytes), bars));
    const __m128i tab_ok = _mm_cmpeq_epi32(_mm_and_si128(v, tab_bytes), tabs);
    const __m128i ok = _mm_or_si128(allele_ok, _mm_or_si128(_mm_and_si128(separator_ok, separator_bytes),
                                                            _mm_and_si128(tab_ok, tab_bytes)));
    bad |= _mm_movemask_epi8(ok) ^ 0xFFFF;
    // Per sample: A + B for two digits, kCallMissing when either is a dot.
    const __m128i values = _mm_and_si128(_mm_sub_epi8(v, zero), _mm_and_si128(digit, allele_bytes));
    const __m128i sum = _mm_add_epi32(_mm_and_si128(values, low_byte), _mm_srli_epi32(values, 16));
    const __m128i missing = _mm_cmpeq_epi32(_mm_cmpeq_epi32(_mm_and_si128(is_dot, allele_bytes), _mm_setzero_si128()),
                                            _mm_setzero_si128());
    const __m128i calls = _mm_or_si128(_mm_and_si128(sum, low_byte), _mm_and_si128(missing, _mm_set1_epi32(3)));
    // The four calls as bytes 0 to 3 of one word, then side by side, two bits each.
    const uint32_t x = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(_mm_packs_epi32(calls, calls), calls)));
    packed[k] = static_cast<uint8_t>(x | x >> 6 | x >> 12 | x >> 18);
  }
  if (bad != 0) return false;
  // The last one to four samples, one by one.
  call_packer out{packed + groups, 0, 0};
  const char top = alleles > 1 ? '1' : '0';
  for (long s = 4 * groups; s < samples; ++s) {
    const char* c = begin + 4 * s;
    const bool allele_ok = (c[0] == '.' || (c[0] >= '0' && c[0] <= top)) && (c[2] == '.' || (c[2] >= '0' && c[2] <= top));
    if (!allele_ok || (c[1] != '/' && c[1] != '|') || (s + 1 < samples && c[3] != '\t')) return false;
    out.put(c[0] == '.' || c[2] == '.' ? kCallMissing : static_cast<unsigned>(c[0] - '0' + c[2] - '0'));
  }
  out.finish();
  return true;
}

}  // namespace

namespace {

// The diploid arrays of nearly every record, four samples (eight values) and one byte
// of calls at a time in SSE2: a haploid call ends in bcf_int32_vector_end and a missing
// allele is 0 or bcf_int32_missing, all of which give no allele (allele_of). False
// when an allele is beyond the record's; the general loop then finds the sample.
bool pack_diploid(const int32_t* gt, long samples, int alleles, uint8_t* packed) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i one = _mm_set1_epi32(1);
  const __m128i last_allele = _mm_set1_epi32(alleles - 1);
  const __m128i three = _mm_set1_epi32(3);
  __m128i bad = zero;
  const long groups = samples / 4;
  for (long k = 0; k < groups; ++k) {
    const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(gt + 8 * k));
    const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(gt + 8 * k + 4));
    // The first and the second allele of each of the four samples, then their indices.
    const __m128i first = _mm_castps_si128(
        _mm_shuffle_ps(_mm_castsi128_ps(v0), _mm_castsi128_ps(v1), _MM_SHUFFLE(2, 0, 2, 0)));
    const __m128i second = _mm_castps_si128(
        _mm_shuffle_ps(_mm_castsi128_ps(v0), _mm_castsi128_ps(v1), _MM_SHUFFLE(3, 1, 3, 1)));
    const __m128i a = _mm_sub_epi32(_mm_srai_epi32(first, 1), one);
    const __m128i b = _mm_sub_epi32(_mm_srai_epi32(second, 1), one);
    const __m128i missing = _mm_or_si128(_mm_cmplt_epi32(a, zero), _mm_cmplt_epi32(b, zero));
    bad = _mm_or_si128(bad, _mm_andnot_si128(missing, _mm_or_si128(_mm_cmpgt_epi32(a, last_allele),
                                                                   _mm_cmpgt_epi32(b, last_allele))));
    // A non-zero allele is an ALT allele: compare gives -1 for each.
    const __m128i alt = _mm_sub_epi32(zero, _mm_add_epi32(_mm_cmpgt_epi32(a, zero), _mm_cmpgt_epi32(b, zero)));
    const __m128i calls = _mm_or_si128(_mm_andnot_si128(missing, alt), _mm_and_si128(missing, three));
    const uint32_t x = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(_mm_packs_epi32(calls, calls), calls)));
    packed[k] = static_cast<uint8_t>(x | x >> 6 | x >> 12 | x >> 18);
  }
  if (_mm_movemask_epi8(bad) != 0) return false;
  unsigned byte = 0;
  for (long s = 4 * groups; s < samples; ++s) {
    const int a = allele_of(gt[2 * s]);
    const int b = allele_of(gt[2 * s + 1]);
    if (a < 0 || b < 0) {
      byte |= kCallMissing << (2 * (s % 4));
      continue;
    }
    if (a >= alleles || b >= alleles) return false;
    byte |= static_cast<unsigned>((a > 0) + (b > 0)) << (2 * (s % 4));
  }
  if (samples % 4 != 0) packed[samples / 4] = static_cast<uint8_t>(byte);
  return true;
}

}  // namespace

long pack_gt_array(const int32_t* gt, int ploidy, long samples, int alleles, uint8_t* packed, int& bad_allele) {
  if (ploidy == 2 && pack_diploid(gt, samples, alleles, packed)) return -1;
  call_packer out{packed};
  for (long s = 0; s < samples; ++s) {
    const int32_t* g = gt + s * ploidy;
    const bool diploid = ploidy >= 2 && g[0] != bcf_int32_vector_end && g[1] != bcf_int32_vector_end &&
                         (ploidy == 2 || g[2] == bcf_int32_vector_end);
    unsigned call = kCallMissing;
    if (diploid) {
      const int a = allele_of(g[0]);
      const int b = allele_of(g[1]);
      if (a >= 0 && b >= 0) {
        if (a >= alleles || b >= alleles) {
          bad_allele = a >= alleles ? a : b;
          return s;
        }
        call = (a > 0) + (b > 0);
      }
    }
    out.put(call);
  }
  out.finish();
  return -1;
}

bool pack_simple_calls(const char* begin, const char* end, long samples, int alleles, uint8_t* packed) {
  if (pack_uniform_calls(begin, end, samples, alleles, packed)) return true;
  // The allele characters taken: '.', '0', and '1' when the record has an ALT allele.
  const char top = alleles > 1 ? '1' : '0';
  auto allele_ok = [top](char c) { return c == '.' || (c >= '0' && c <= top); };
  auto ends_gt = [](char c) { return c == '\t' || c == ':'; };
  call_packer out{packed};
  const char* q = begin;
  for (long s = 0; s < samples; ++s) {
    if (q >= end || !allele_ok(q[0])) return false;
    unsigned call;
    // q < end: q[1] is in the line or its final NUL, q[2] and q[3] only when the
    // characters before them are.
    if (q + 1 == end || ends_gt(q[1])) {
      call = kCallMissing;  // one allele: haploid, or '.'
      q += 1;
    } else if ((q[1] == '/' || q[1] == '|') && q + 2 < end && allele_ok(q[2]) && (q + 3 == end || ends_gt(q[3]))) {
      call = q[0] == '.' || q[2] == '.' ? kCallMissing : static_cast<unsigned>(q[0] - '0' + q[2] - '0');
      q += 3;
    } else {
      return false;
    }
    out.put(call);
    if (q < end && *q == ':') {  // the other fields of the column are not read
      const void* tab = memchr(q, '\t', static_cast<size_t>(end - q));
      q = tab == nullptr ? end : static_cast<const char*>(tab);
    }
    // Between columns a tab; after the last one the end of the line.
    if (s + 1 < samples) {
      if (q == end) return false;
      ++q;
    } else if (q != end) {
      return false;
    }
  }
  out.finish();
  return true;
}

}  // namespace velk
