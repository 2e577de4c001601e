// The genotype calls of one VCF or BCF record, packed two bits per sample: the number
// of ALT alleles of a diploid GT call (0, 1 or 2), or kCallMissing for a missing or
// partly missing call (./., 0/., .) and for a call of another ploidy. Sample s is bits
// 2 (s % 4) and 2 (s % 4) + 1 of byte s / 4.
//
// Two ways in: htslib's GT array (bcf_get_genotypes), which every record can take, and
// a reading of the text of a VCF line that takes only the forms nearly every file is
// made of, several times faster than htslib's own parse of the line (bench/run, on the
// 2-core development machine, December 2026); any other line
// goes the first way. Both give the same calls (tests/data/vcf_file_test.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

namespace velk {

inline constexpr unsigned kCallMissing = 3;

// Bytes of a record's calls over `samples` samples.
inline size_t call_bytes(long samples) { return static_cast<size_t>((samples + 3) / 4); }

// The call of sample `s` in a record's packed calls.
inline unsigned call_of(const uint8_t* packed, long s) { return packed[s / 4] >> (2 * (s % 4)) & 3u; }

// Packs the GT array of a record of `alleles` alleles (REF and at most one ALT), as
// bcf_get_genotypes gives it: `ploidy` values per sample, padded with
// bcf_int32_vector_end. Returns -1 when every call is packed; else the first sample
// whose diploid call names an allele the record does not have, that allele in
// `bad_allele`.
long pack_gt_array(const int32_t* gt, int ploidy, long samples, int alleles, uint8_t* packed, int& bad_allele);

// Packs the sample columns of a VCF line whose FORMAT starts with GT: [begin, end) is
// the text after the FORMAT column's tab, `end` the end of the line (readable: the
// line ends in a NUL). Takes a GT of the forms A/B and A|B and a single allele, each
// allele 0, '.' or (with an ALT allele) 1, followed by ':' or the end of the column,
// and exactly `samples` columns. Returns false, with `packed` partly written, for
// anything else: the record is then read through htslib.
bool pack_simple_calls(const char* begin, const char* end, long samples, int alleles, uint8_t* packed);

}  // namespace velk
