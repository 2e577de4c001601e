#include "data/plink_fileset.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "base/text_file.h"
#include "data/genotype_input.h"
#include "data/genotype_store.h"
#include "data/text_rows.h"

namespace velk {

namespace {

constexpr unsigned char kMagic0 = 0x6C;
constexpr unsigned char kMagic1 = 0x1B;
constexpr unsigned char kSnpMajor = 0x01;
constexpr unsigned char kSampleMajor = 0x00;
constexpr long kHeaderBytes = 3;
constexpr int kFields = 6;  // of a .bim line and of a .fam line
constexpr long kBlockBytes = 1L << 18;     // of .bed read at a time
constexpr long kParallelBytes = 1L << 20;  // threads pay off from about this much
constexpr uint64_t kLowBits = 0x5555555555555555ULL;  // the low bit of every 2-bit code

// Reads a companion file whole.
status read_companion(const std::string& name, const std::string& listed, const char* kind, std::string& text) {
  const text_file read = read_text_file(name.c_str(), text);
  if (read == text_file::cannot_open)
    return failure(status_code::input_error, "File %s: can't open its %s file %s\n", listed.c_str(), kind,
                   name.c_str());
  if (read == text_file::cannot_read)
    return failure(status_code::input_error, "File %s: can't read its %s file %s\n", listed.c_str(), kind,
                   name.c_str());
  return ok_status();
}

// Reads `bytes` bytes at `offset`; false when the file ends early or a read fails.
bool read_at(int fd, unsigned char* to, long bytes, long offset) {
  while (bytes > 0) {
    const ssize_t got = pread(fd, to, static_cast<size_t>(bytes), offset);
    if (got <= 0) {
      if (got < 0 && errno == EINTR) continue;
      return false;
    }
    to += got;
    bytes -= got;
    offset += got;
  }
  return true;
}


// The fields of one line: the first kFields + 1 kept, all counted.
size_t split_line(const std::string& text, size_t at, std::string_view* fields, int& count) {
  return split_fields(text, at, fields, kFields + 1, count);
}

// Calls row(line, start, fields) for every line of six fields; a line without any
// field is skipped, one of another count is refused; the first failure of a row ends it.
template <class Row>
status for_each_row(const std::string& text, const std::string& name, Row row) {
  std::string_view fields[kFields + 1];
  long line = 1;
  for (size_t at = 0; at < text.size(); ++line) {
    const size_t start = at;
    int count;
    at = split_line(text, at, fields, count) + 1;
    if (count == 0) continue;
    if (count != kFields)
      return failure(status_code::input_error, "File %s, line %ld: found %d fields, expected %d.\n", name.c_str(), line,
                     count, kFields);
    if (status taken = row(line, start, fields); !taken.ok()) return taken;
  }
  return ok_status();
}

std::string shown(std::string_view field) {
  return token_for_message(field.data(), std::min(field.size(), kTokenPreview), field.size());
}

// "line L (FID f, IID i)" of the individual whose .fam line starts at `start`.
std::string fam_individual(const std::string& text, size_t start) {
  const long line = 1 + std::count(text.begin(), text.begin() + static_cast<long>(start), '\n');
  std::string_view fields[kFields + 1];
  int count;
  split_line(text, start, fields, count);
  return "line " + std::to_string(line) + " (FID " + shown(fields[0]) + ", IID " + shown(fields[1]) + ")";
}

status parse_bim(const std::string& text, const std::string& bim, long& snps, std::vector<std::string>* ids,
                 std::vector<bim_place>* places = nullptr) {
  snps = 0;
  return for_each_row(text, bim, [&](long, size_t, const std::string_view* fields) {
    if (ids != nullptr) ids->emplace_back(fields[1]);
    if (places != nullptr) places->push_back({std::string(fields[0]), std::string(fields[3]), std::string(fields[4])});
    ++snps;
    return ok_status();
  });
}

status parse_fam(plink_fileset& set) {
  return for_each_row(set.fam_text, set.fam, [&](long line, size_t start, const std::string_view* fields) {
    const std::string_view phenotype = fields[5];
    // 0 and -9 are PLINK's missing phenotype: such individuals are left out, as PLINK
    // leaves them out of a case/control analysis.
    const bool missing = phenotype == "0" || phenotype == "-9";
    if (phenotype != "1" && phenotype != "2" && !missing)
      return failure(status_code::input_error,
                     "File %s, line %ld (FID %s, IID %s): phenotype %s is neither 1 (control) nor 2 (case).\n",
                     set.fam.c_str(), line, shown(fields[0]).c_str(), shown(fields[1]).c_str(),
                     shown(phenotype).c_str());
    set.classes.push_back(missing ? kNoClass : phenotype == "2" ? kCase : kControl);
    set.fam_rows.push_back(start);
    return ok_status();
  });
}

// Checks the .bed's header from its start: the magic bytes and the SNP-major mode.
status check_mode(FILE* bed, const std::string& listed) {
  unsigned char header[kHeaderBytes];
  const size_t got = fread(header, 1, kHeaderBytes, bed);
  if (got >= 2 && (header[0] != kMagic0 || header[1] != kMagic1)) {
    return failure(status_code::input_error, "File %s is no longer a PLINK .bed file.\n", listed.c_str());
  }
  if (got < kHeaderBytes) {
    return failure(status_code::input_error, "File %s ends within the header of a PLINK .bed file.\n", listed.c_str());
  }
  if (header[2] == kSampleMajor) {
    return failure(status_code::input_error,
                   "File %s is a sample-major PLINK .bed; only SNP-major ones are read "
                   "(plink1.9 --make-bed writes them).\n",
                   listed.c_str());
  }
  if (header[2] != kSnpMajor) {
    return failure(status_code::input_error, "File %s has the unknown PLINK .bed mode byte 0x%02X.\n", listed.c_str(),
                   header[2]);
  }
  return ok_status();
}

// The .bed holds exactly one run of ceil(individuals / 4) bytes per SNP of the .bim.
status check_size(FILE* bed, const plink_fileset& set) {
  struct stat info;
  if (fstat(fileno(bed), &info) != 0) {
    return failure(status_code::input_error, "Can't read the input file %s\n", set.bed.c_str());
  }
  const long individuals = static_cast<long>(set.classes.size());
  const long long expected = kHeaderBytes + static_cast<long long>(set.snps) * ((individuals + 3) / 4);
  if (static_cast<long long>(info.st_size) != expected) {
    return failure(
        status_code::input_error,
        "File %s holds %lld bytes; %s and %s call for %lld (3 + %ld SNPs x %ld bytes for %ld individuals).\n",
        set.bed.c_str(), static_cast<long long>(info.st_size), set.bim.c_str(), set.fam.c_str(), expected, set.snps,
        (individuals + 3) / 4, individuals);
  }
  return ok_status();
}

// kExtract8.of[m][v]: the bits of v at the set bits of m, packed from bit 0. Built
// when the program starts (well under a millisecond), not at compile time, where its
// half a million steps exceed some compilers' limits.
struct byte_extractions {
  uint8_t of[256][256];
};
byte_extractions make_byte_extractions() {
  byte_extractions t{};
  for (int m = 0; m < 256; ++m) {
    for (int v = 0; v < 256; ++v) {
      int out = 0;
      int at = 0;
      for (int b = 0; b < 8; ++b) {
        if (!(m >> b & 1)) continue;
        out |= (v >> b & 1) << at++;
      }
      t.of[m][v] = static_cast<uint8_t>(out);
    }
  }
  return t;
}
const byte_extractions kExtract8 = make_byte_extractions();

// The low bits of 32 2-bit codes side by side: bit 2 m moves to bit m.
inline __attribute__((always_inline)) uint64_t compress_lanes(uint64_t x) {
  x &= kLowBits;
  x = (x | x >> 1) & 0x3333333333333333ULL;
  x = (x | x >> 2) & 0x0F0F0F0F0F0F0F0FULL;
  x = (x | x >> 4) & 0x00FF00FF00FF00FFULL;
  x = (x | x >> 8) & 0x0000FFFF0000FFFFULL;
  return (x | x >> 16) & 0xFFFFFFFFULL;
}

// The two ways of extracting a class's bits from the low (or high) bits of a chunk's
// codes, `prepared` once per chunk for all of its extractions.
struct table_way {
  static uint64_t prepare(uint64_t lane_bits) { return compress_lanes(lane_bits); }
  static uint64_t extract(uint64_t prepared, const bed_decoder::class_part& part) {
    uint64_t out = 0;
    for (int b = 0; b < 4; ++b)
      out |= static_cast<uint64_t>(kExtract8.of[part.members >> 8 * b & 0xFF][prepared >> 8 * b & 0xFF])
             << part.before[b];
    return out;
  }
};

struct pext_way {
  static uint64_t prepare(uint64_t lane_bits) { return lane_bits & kLowBits; }
  // PEXT through assembly: the instruction then needs no target attribute, so one
  // decoding template serves both ways; it only runs once the CPU has been asked.
  static uint64_t extract(uint64_t prepared, const bed_decoder::class_part& part) {
    uint64_t out;
    asm("pextq %2, %1, %0" : "=r"(out) : "r"(prepared), "rm"(part.lanes));
    return out;
  }
};

}  // namespace

bool starts_as_bed(const std::string& listed) {
  FILE* file = open_nonblocking(listed.c_str());
  if (file == nullptr) return false;
  unsigned char magic[2];
  const bool bed =
      is_regular(file) && fread(magic, 1, 2, file) == 2 && magic[0] == kMagic0 && magic[1] == kMagic1;
  fclose(file);
  return bed;
}

std::string companion_name(const std::string& listed, const char* extension) {
  const bool suffix = listed.size() > 4 && listed.ends_with(".bed");
  return listed.substr(0, listed.size() - (suffix ? 4 : 0)) + extension;
}

status read_bim_ids(const std::string& bim, const std::string& listed, std::vector<std::string>& ids,
                    std::vector<bim_place>* places) {
  std::string text;
  long snps;
  if (status read = read_companion(bim, listed, ".bim", text); !read.ok()) return read;
  return parse_bim(text, bim, snps, &ids, places);
}

namespace {

// The sizing pass's checks of a fileset whose .bed is open.
status read_opened_fileset(FILE* bed, const std::string& listed, plink_fileset& set) {
  if (status mode = check_mode(bed, listed); !mode.ok()) return mode;
  std::string bim_text;
  if (status read = read_companion(set.bim, listed, ".bim", bim_text); !read.ok()) return read;
  if (status parsed = parse_bim(bim_text, set.bim, set.snps, nullptr); !parsed.ok()) return parsed;
  if (status read = read_companion(set.fam, listed, ".fam", set.fam_text); !read.ok()) return read;
  if (status parsed = parse_fam(set); !parsed.ok()) return parsed;
  if (set.snps == 0) return failure(status_code::input_error, "File %s lists no SNP.\n", set.bim.c_str());
  if (set.classes.empty()) return failure(status_code::input_error, "File %s lists no individual.\n", set.fam.c_str());
  return check_size(bed, set);
}

}  // namespace

status read_fileset(const std::string& listed, plink_fileset& set) {
  set.bed = listed;
  set.bim = companion_name(listed, ".bim");
  set.fam = companion_name(listed, ".fam");
  FILE* bed = nullptr;
  if (status opened = open_data_file(listed, bed); !opened.ok()) return opened;
  status read = read_opened_fileset(bed, listed, set);
  fclose(bed);
  return read;
}

void fam_ids(const plink_fileset& set, study_individuals& individuals) {
  std::string_view fields[kFields + 1];
  for (size_t r = 0; r < set.fam_rows.size(); ++r) {
    int count;
    split_line(set.fam_text, set.fam_rows[r], fields, count);
    if (set.classes[r] == kNoClass) {
      individuals.left_out.push_back({std::string(fields[0]), std::string(fields[1]),
                                      "missing phenotype " + std::string(fields[5]) + " in " + set.fam});
      continue;
    }
    individuals.fid.emplace_back(fields[0]);
    individuals.iid.emplace_back(fields[1]);
  }
}

long left_out_count(const plink_fileset& set) {
  return std::count(set.classes.begin(), set.classes.end(), kNoClass);
}

status load_fileset(const plink_fileset& set, long snp_offset, const std::vector<unsigned char>& classes,
                    const genotype_store& store) {
  if (set.classes.size() != classes.size()) {
    return failure(status_code::input_error, "File %s holds %zu individuals, the first file %zu.\n", set.fam.c_str(),
                   set.classes.size(), classes.size());
  }
  if (const long d = first_class_difference(classes, set.classes); d >= 0) {
    return failure(status_code::input_error, "File %s, %s: the phenotype differs from the first file.\n",
                   set.fam.c_str(), fam_individual(set.fam_text, set.fam_rows[static_cast<size_t>(d)]).c_str());
  }
  // Opened and checked again: the sizing pass's look may be out of date.
  FILE* bed = nullptr;
  if (status opened = open_data_file(set.bed, bed); !opened.ok()) return opened;
  status usable = check_mode(bed, set.bed);
  if (usable.ok()) usable = check_size(bed, set);
  if (usable.ok()) {
    const bed_decoder decoder(classes, static_cast<size_t>(store.shape.case_word_ct),
                              static_cast<size_t>(store.shape.ctrl_word_ct));
    const long snp_bytes = static_cast<long>(decoder.snp_bytes());
    // Blocks of whole SNPs, dealt to the threads as they come free; each thread reads
    // its own blocks at their offsets. SNPs own disjoint words of the store. One
    // parallel region for the whole file: a thread that the system holds back then
    // delays only its last block, not a barrier after every block.
    // Whole blocks of the store per thread, so that no two threads share its cache lines.
    const long block_snps = std::max(1L, kBlockBytes / snp_bytes / kLanes) * kLanes;
    const long blocks = (set.snps + block_snps - 1) / block_snps;
    const int fd = fileno(bed);
    bool failed = false;
#pragma omp parallel if (blocks > 1 && set.snps * snp_bytes >= kParallelBytes) reduction(|| : failed)
    {
      std::vector<unsigned char> block(static_cast<size_t>(block_snps * snp_bytes));
      // A SNP is decoded into dense words first, then spread into its lane of the store.
      std::vector<uint64_t> snp_words(3 * store.shape.slot_words());
#pragma omp for schedule(dynamic, 1)
      for (long b = 0; b < blocks; ++b) {
        const long first = b * block_snps;
        const long count = std::min(block_snps, set.snps - first);
        if (failed || !read_at(fd, block.data(), count * snp_bytes, kHeaderBytes + first * snp_bytes)) {
          failed = true;
          continue;
        }
        for (long j = 0; j < count; ++j) {
          decoder.decode(block.data() + j * snp_bytes, snp_words.data());
          copy_snp_in(store, snp_offset + first + j, snp_words.data());
        }
      }
    }
    if (failed) usable = unreadable_failure(set.bed.c_str());
  }
  fclose(bed);
  return usable;
}

bed_decoder::bed_decoder(const std::vector<unsigned char>& classes, size_t case_words, size_t ctrl_words, bool fast)
    : snp_bytes_((classes.size() + 3) / 4), case_words_(case_words), ctrl_words_(ctrl_words) {
  chunks_.resize((classes.size() + 31) / 32);
  for (size_t c = 0; c < chunks_.size(); ++c) {
    class_part* part[2] = {&chunks_[c].ctrls, &chunks_[c].cases};
    for (size_t m = 0; m < 32 && 32 * c + m < classes.size(); ++m) {
      if (classes[32 * c + m] == kNoClass) continue;  // left out: in no class's bits
      class_part& q = *part[classes[32 * c + m] == kCase ? 1 : 0];
      q.lanes |= uint64_t{1} << (2 * m);
      q.members |= uint32_t{1} << m;
    }
    for (class_part* q : part) {
      q->count = static_cast<unsigned>(__builtin_popcount(q->members));
      for (int b = 1; b < 4; ++b)
        q->before[b] = static_cast<uint8_t>(__builtin_popcount(q->members & ((1u << 8 * b) - 1)));
      q->all = q->count == 0 ? 0 : ~uint64_t{0} >> (kWordBits - q->count);
    }
  }
  // AMD's family 17h (Zen 1 and 2) runs PEXT in microcode, slower than the table.
  pext_ = fast && __builtin_cpu_supports("bmi2") && !__builtin_cpu_is("amdfam17h");
}

namespace {

// The three genotype words of one class being filled, 64 members at a time: each
// word is stored once, whole, instead of ORed into memory chunk by chunk.
struct class_words {
  uint64_t* next;  // the class's word in genotype 0's bitset; genotypes 1 and 2 follow at stride
  uint64_t g0 = 0, g1 = 0, g2 = 0;
  unsigned fill = 0;
};

template <class Way>
inline __attribute__((always_inline)) void put_class(const bed_decoder::class_part& part, uint64_t lo, uint64_t hi,
                                                     class_words& w, size_t stride) {
  if (part.lanes == 0) return;
  const uint64_t l = Way::extract(lo, part);
  const uint64_t h = Way::extract(hi, part);
  // The 2-bit code counts A1 alleles backwards: 0 is two, 2 is one, 3 none, 1 missing.
  const uint64_t g0 = l & h;
  const uint64_t g1 = h & ~l;
  const uint64_t g2 = ~(l | h) & part.all;
  const unsigned fill = w.fill;
  w.g0 |= g0 << fill;
  w.g1 |= g1 << fill;
  w.g2 |= g2 << fill;
  w.fill = fill + part.count;
  if (w.fill >= kWordBits) {
    w.next[0] = w.g0;
    w.next[stride] = w.g1;
    w.next[2 * stride] = w.g2;
    ++w.next;
    w.fill -= kWordBits;
    // The bits that did not fit; none when the chunk's members filled the word exactly.
    const unsigned back = kWordBits - fill;
    w.g0 = back < kWordBits ? g0 >> back : 0;
    w.g1 = back < kWordBits ? g1 >> back : 0;
    w.g2 = back < kWordBits ? g2 >> back : 0;
  }
}

inline void finish_class(const class_words& w, size_t stride) {
  if (w.fill == 0) return;
  w.next[0] = w.g0;
  w.next[stride] = w.g1;
  w.next[2 * stride] = w.g2;
}

template <class Way>
inline __attribute__((always_inline)) void decode_chunk(uint64_t x, const bed_decoder::chunk& k, class_words& cases,
                                                        class_words& ctrls, size_t stride) {
  const uint64_t lo = Way::prepare(x);
  const uint64_t hi = Way::prepare(x >> 1);
  put_class<Way>(k.cases, lo, hi, cases, stride);
  put_class<Way>(k.ctrls, lo, hi, ctrls, stride);
}

template <class Way>
inline __attribute__((always_inline)) void decode_chunks(const unsigned char* bytes, size_t snp_bytes,
                                                         const std::vector<bed_decoder::chunk>& chunks,
                                                         uint64_t* snp_words, size_t case_words, size_t ctrl_words) {
  const size_t stride = case_words + ctrl_words;
  class_words cases{snp_words};
  class_words ctrls{snp_words + case_words};
  // Individual 32 c + m is bits 2 m and 2 m + 1 of chunk c (x86 is little-endian).
  const size_t whole = snp_bytes / 8;
  for (size_t c = 0; c < whole; ++c) {
    uint64_t x;
    memcpy(&x, bytes + 8 * c, 8);
    decode_chunk<Way>(x, chunks[c], cases, ctrls, stride);
  }
  if (whole < chunks.size()) {
    uint64_t x = 0;
    memcpy(&x, bytes + 8 * whole, snp_bytes - 8 * whole);
    decode_chunk<Way>(x, chunks[whole], cases, ctrls, stride);
  }
  finish_class(cases, stride);
  finish_class(ctrls, stride);
}

}  // namespace

void bed_decoder::decode(const unsigned char* bytes, uint64_t* snp_words) const {
  if (pext_)
    decode_chunks<pext_way>(bytes, snp_bytes_, chunks_, snp_words, case_words_, ctrl_words_);
  else
    decode_chunks<table_way>(bytes, snp_bytes_, chunks_, snp_words, case_words_, ctrl_words_);
}

}  // namespace velk
