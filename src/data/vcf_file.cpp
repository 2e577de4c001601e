#include "data/vcf_file.h"

#include <htslib/bgzf.h>
#include <htslib/hfile.h>
#include <htslib/hts.h>
#include <htslib/kstring.h>
#include <htslib/vcf.h>
#include <omp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/text_file.h"
#include "data/genotype_input.h"
#include "data/genotype_store.h"
#include "data/plink_fileset.h"
#include "data/text_rows.h"
#include "data/vcf_calls.h"

#if defined(__SANITIZE_ADDRESS__)
#define VELK_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELK_LEAK_CHECKED 1
#endif
#endif
#ifdef VELK_LEAK_CHECKED
// htslib 1.16 leaks a block of 32 bytes in a decompression thread when it meets a damaged
// bgzip block; the run ends right after. Not ours to free, and it would end every
// sanitizer run of such a file in a leak report (before standard output is flushed).
// The suppression is not listed at exit either: that would add to standard error.
extern "C" const char* __lsan_default_suppressions() { return "leak:libhts.so\n"; }
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }
#endif

namespace velk {

namespace {

constexpr size_t kBlockBytes = size_t{4} << 20;  // of packed calls per block
constexpr long kParallelBytes = 1L << 20;        // threads pay off from about this much
constexpr int kFixedColumns = 8;                 // CHROM to INFO
constexpr int kLineSeparator = 2;                // KS_SEP_LINE: a line feed, less a carriage return
constexpr size_t kShownBytes = 80;               // of a sample name in a message


std::string shown(const std::string& text) {
  return token_for_message(text.data(), std::min(text.size(), kShownBytes), text.size());
}

// htslib writes its own messages to standard error; every problem here is refused
// once, in the program's words, instead.
void silence_htslib() { hts_set_log_level(HTS_LOG_OFF); }

// A listed file opened as htslib's stream, without blocking. Null when it cannot be
// opened (`unopened`, when given, then holds the loader's failure for that), is not a
// regular file or cannot be handed over.
hFILE* open_stream(const std::string& listed, status* unopened = nullptr) {
  FILE* file = nullptr;
  if (unopened != nullptr)
    *unopened = open_data_file(listed, file);
  else
    file = open_nonblocking(listed.c_str());
  if (file == nullptr) return nullptr;
  hFILE* stream = nullptr;
  if (is_regular(file)) {
    const int fd = dup(fileno(file));
    if (fd >= 0) {
      stream = hdopen(fd, "r");
      if (stream == nullptr) close(fd);
    }
  }
  fclose(file);
  return stream;
}

bool is_variant_format(const htsFormat& format) { return format.format == vcf || format.format == bcf; }

// Text genotype files are never compressed: a compressed file is read as a VCF or BCF
// file, and refused as one when it is none (or is cut short before htslib could tell).
bool is_compressed(const htsFormat& format) { return format.compression == gzip || format.compression == bgzf; }

// An open VCF or BCF file, its header and the buffers of its records.
struct vcf_reader {
  std::string listed;
  htsFile* file = nullptr;
  bcf_hdr_t* header = nullptr;
  bcf1_t* record = bcf_init();
  bool text = true;  // VCF text, else BCF
  long samples = 0;
  kstring_t line = {0, 0, nullptr};      // a VCF text line as read
  kstring_t parsed = {0, 0, nullptr};    // the part of it htslib parses
  int32_t* gt = nullptr;
  int gt_size = 0;
  status failed;  // why a record step failed

  ~vcf_reader() {
    free(gt);
    free(parsed.s);
    free(line.s);
    bcf_destroy(record);
    if (header != nullptr) bcf_hdr_destroy(header);
    if (file != nullptr) hts_close(file);
  }
};

status refuse(const char* fmt, const std::string& listed) {
  return failure(status_code::input_error, fmt, listed.c_str());
}

// Opens the file and reads its header. `calls`: the samples are read too; otherwise
// htslib is told to pass over their columns.
status open_reader(const std::string& listed, vcf_reader& r, bool calls) {
  silence_htslib();
  r.listed = listed;
  status unopened;
  hFILE* stream = open_stream(listed, &unopened);
  if (stream == nullptr) {
    // Both lines when the file went away since it was recognised, as they have always
    // been written: the loader's for a file that cannot be opened, then this reader's.
    status refused = refuse("Can't read the input file %s\n", listed);
    refused.message.insert(0, unopened.message);
    return refused;
  }
  r.file = hts_hopen(stream, listed.c_str(), "r");
  if (r.file == nullptr) {
    hclose_abruptly(stream);
    return refuse("Can't read the input file %s\n", listed);
  }
  const htsFormat& format = *hts_get_format(r.file);
  // A bgzip file ends with an empty block; without it the file was cut short (htslib
  // would only warn, and read what is there as if it were all).
  if (format.compression == bgzf && bgzf_check_EOF(r.file->fp.bgzf) != 1)
    return refuse("File %s is cut short: its BGZF end-of-file block is missing.\n", listed);
  if (!is_variant_format(format)) {
    if (is_compressed(format))
      return refuse("File %s is compressed, but holds no VCF or BCF file that can be read.\n", listed);
    // Looked at again: the file may have changed since it was recognised.
    return refuse("File %s is no longer a VCF or BCF file.\n", listed);
  }
  r.text = format.format == vcf;
  // Decompression on the other cores while this thread parses.
  const int threads = omp_get_max_threads();
  if (threads > 1 && format.compression == bgzf) hts_set_threads(r.file, threads);
  r.header = bcf_hdr_read(r.file);
  if (r.header == nullptr)
    return refuse(r.text ? "File %s: can't read its VCF header.\n" : "File %s: can't read its BCF header.\n", listed);
  r.samples = bcf_hdr_nsamples(r.header);
  if (!calls && r.samples > 0 && bcf_hdr_set_samples(r.header, nullptr, 0) != 0)
    return refuse("Can't read the input file %s\n", listed);
  return ok_status();
}

enum class step { kept, skipped, end, failed };

// The step of a record that cannot be used, its failure kept in the reader.
step refused_record(vcf_reader& r, status why) {
  r.failed = std::move(why);
  return step::failed;
}

step cut_short(vcf_reader& r, long record) {
  return refused_record(
      r, failure(status_code::input_error, "File %s, record %ld: can't be read; the file is cut short or corrupt.\n",
                 r.listed.c_str(), record));
}

step no_gt(vcf_reader& r, long record) {
  return refused_record(
      r, failure(status_code::input_error, "File %s, record %ld: no GT field.\n", r.listed.c_str(), record));
}

// Packs the GT array htslib has made of the record.
step pack_gt(vcf_reader& r, long record, uint8_t* packed) {
  const int values = bcf_get_genotypes(r.header, r.record, &r.gt, &r.gt_size);
  if (values == -1 || values == -3) return no_gt(r, record);  // not in the header, not in the record
  if (values <= 0 || values % r.samples != 0)
    return refused_record(r, failure(status_code::input_error, "File %s, record %ld: can't read its GT field.\n",
                                     r.listed.c_str(), record));
  int allele = 0;
  const long bad = pack_gt_array(r.gt, static_cast<int>(values / r.samples), r.samples, r.record->n_allele, packed,
                                 allele);
  if (bad >= 0)
    return refused_record(r,
                          failure(status_code::input_error,
                                  "File %s, record %ld: sample %s calls allele %d, which the record does not have.\n",
                                  r.listed.c_str(), record, shown(r.header->samples[bad]).c_str(), allele));
  return step::kept;
}

// The htslib way for a VCF line's calls: the line rebuilt with GT as its only FORMAT
// field (the other fields are never read, whichever way a line takes), parsed by
// htslib. `format` points at the FORMAT column, `gt_index` is GT's place in it.
step pack_text_calls(vcf_reader& r, long record, const char* format, int gt_index, uint8_t* packed) {
  const char* const end = r.line.s + r.line.l;
  const char* q = static_cast<const char*>(memchr(format, '\t', static_cast<size_t>(end - format)));
  r.parsed.l = 0;
  kputsn(r.line.s, static_cast<size_t>(format - r.line.s), &r.parsed);  // the fixed columns and a tab
  kputs("GT", &r.parsed);
  long columns = 0;
  while (q != nullptr && q < end) {
    const char* column = q + 1;
    const char* column_end = static_cast<const char*>(memchr(column, '\t', static_cast<size_t>(end - column)));
    if (column_end == nullptr) column_end = end;
    // Field gt_index of the column; a column that stops short of it has no call.
    const char* field = column;
    for (int f = 0; f < gt_index && field != nullptr; ++f) {
      field = static_cast<const char*>(memchr(field, ':', static_cast<size_t>(column_end - field)));
      if (field != nullptr) ++field;
    }
    kputc('\t', &r.parsed);
    if (field == nullptr) {
      kputc('.', &r.parsed);
    } else {
      const char* field_end = static_cast<const char*>(memchr(field, ':', static_cast<size_t>(column_end - field)));
      kputsn(field, static_cast<size_t>((field_end == nullptr ? column_end : field_end) - field), &r.parsed);
    }
    ++columns;
    q = column_end;
  }
  if (columns != r.samples)
    return refused_record(r, failure(status_code::input_error,
                                     "File %s, record %ld: found %ld sample columns, the header names %ld samples.\n",
                                     r.listed.c_str(), record, columns, r.samples));
  if (vcf_parse(&r.parsed, r.header, r.record) != 0)
    return refused_record(r, failure(status_code::input_error, "File %s, record %ld: can't read its GT field.\n",
                                     r.listed.c_str(), record));
  return pack_gt(r, record, packed);
}

// The index of GT among the FORMAT column's fields, or -1.
int gt_index_of(const char* format, const char* end) {
  const char* format_end = static_cast<const char*>(memchr(format, '\t', static_cast<size_t>(end - format)));
  if (format_end == nullptr) format_end = end;
  int index = 0;
  for (const char* field = format; field <= format_end; ++index) {
    const char* field_end = static_cast<const char*>(memchr(field, ':', static_cast<size_t>(format_end - field)));
    if (field_end == nullptr) field_end = format_end;
    if (field_end - field == 2 && field[0] == 'G' && field[1] == 'T') return index;
    field = field_end + 1;
  }
  return -1;
}

// Reads the next record of a VCF text file. htslib parses its fixed columns (CHROM to
// INFO) alone; with `calls`, the calls of a kept record are packed there.
step next_text_record(vcf_reader& r, long record, packed_calls* calls, bool fast) {
  const int got = hts_getline(r.file, kLineSeparator, &r.line);
  if (got == -1) return step::end;
  if (got < -1) return cut_short(r, record);
  const char* const begin = r.line.s;
  const char* const end = begin + r.line.l;
  // The fixed columns end at the eighth tab, or at the end of a line without FORMAT.
  const char* fixed_end = begin;
  int columns = 1;
  for (; columns <= kFixedColumns; ++columns) {
    const void* tab = memchr(fixed_end, '\t', static_cast<size_t>(end - fixed_end));
    if (tab == nullptr) break;
    fixed_end = static_cast<const char*>(tab) + (columns < kFixedColumns ? 1 : 0);
  }
  if (columns < kFixedColumns) {
    // htslib would take such a line for a record of an unnamed contig.
    if (r.line.l == 0)
      return refused_record(
          r, failure(status_code::input_error, "File %s, record %ld: an empty line.\n", r.listed.c_str(), record));
    return refused_record(
        r, failure(status_code::input_error,
                   "File %s, record %ld: found %d columns; a VCF record has at least %d, separated by tabs.\n",
                   r.listed.c_str(), record, columns, kFixedColumns));
  }
  if (columns == kFixedColumns) fixed_end = end;
  r.parsed.l = 0;
  kputsn(begin, static_cast<size_t>(fixed_end - begin), &r.parsed);
  if (vcf_parse(&r.parsed, r.header, r.record) != 0)
    return refused_record(r, failure(status_code::input_error, "File %s, record %ld: not a valid VCF record.\n",
                                     r.listed.c_str(), record));
  if (r.record->n_allele > 2) return step::skipped;
  if (calls == nullptr) return step::kept;
  if (fixed_end == end) return no_gt(r, record);
  const char* const format = fixed_end + 1;
  const int gt_index = gt_index_of(format, end);
  if (gt_index < 0) return no_gt(r, record);
  uint8_t* const packed = calls->add_record();
  if (packed == nullptr) return refused_record(r, out_of_memory());
  if (fast && gt_index == 0) {
    const char* samples = static_cast<const char*>(memchr(format, '\t', static_cast<size_t>(end - format)));
    if (samples != nullptr && pack_simple_calls(samples + 1, end, r.samples, r.record->n_allele, packed))
      return step::kept;
  }
  return pack_text_calls(r, record, format, gt_index, packed);
}

step next_bcf_record(vcf_reader& r, long record, packed_calls* calls) {
  const int got = bcf_read(r.file, r.header, r.record);
  if (got == -1) return step::end;
  if (got < -1) return cut_short(r, record);
  if (r.record->n_allele > 2) return step::skipped;
  if (calls == nullptr) return step::kept;
  uint8_t* const packed = calls->add_record();
  if (packed == nullptr) return refused_record(r, out_of_memory());
  return pack_gt(r, record, packed);
}

// Reads every record; calls kept(record) for each kept one.
template <class Kept>
status read_records(vcf_reader& r, packed_calls* calls, bool fast, long& records, long& skipped, Kept kept) {
  records = skipped = 0;
  for (;;) {
    const long record = records + 1;
    const step s = r.text ? next_text_record(r, record, calls, fast) : next_bcf_record(r, record, calls);
    if (s == step::end) return ok_status();
    if (s == step::failed) return std::move(r.failed);
    ++records;
    if (s == step::skipped)
      ++skipped;
    else
      kept(record);
  }
}

}  // namespace

bool starts_as_vcf(const std::string& listed) {
  silence_htslib();
  hFILE* stream = open_stream(listed);
  if (stream == nullptr) return false;
  htsFormat format;
  const bool variant = hts_detect_format(stream, &format) == 0 && (is_variant_format(format) || is_compressed(format));
  hclose_abruptly(stream);
  return variant;
}

packed_calls::packed_calls(long samples, memory_budget* budget) : budget_(budget), bytes_(call_bytes(samples)) {
  block_records_ = bytes_ == 0 ? 1 : std::max(1L, static_cast<long>(kBlockBytes / bytes_));
}

packed_calls::packed_calls(packed_calls&& other) noexcept { *this = std::move(other); }

packed_calls& packed_calls::operator=(packed_calls&& other) noexcept {
  if (this != &other) {
    release();
    budget_ = other.budget_;
    bytes_ = other.bytes_;
    block_records_ = other.block_records_;
    records_ = other.records_;
    blocks_ = std::move(other.blocks_);
    claim_ = std::move(other.claim_);
    other.records_ = 0;
    other.blocks_.clear();
  }
  return *this;
}

uint8_t* packed_calls::add_record() {
  const long in_block = records_ % block_records_;
  if (in_block == 0) {
    const size_t bytes = static_cast<size_t>(block_records_) * bytes_;
    if (budget_ == nullptr || !claim_.add(*budget_, bytes)) return nullptr;
    blocks_.emplace_back(new uint8_t[bytes]);
  }
  ++records_;
  return blocks_.back().get() + static_cast<size_t>(in_block) * bytes_;
}

void packed_calls::release() {
  blocks_.clear();
  blocks_.shrink_to_fit();
  claim_.drop();
  records_ = 0;
}

status read_vcf(const std::string& listed, memory_budget& budget, vcf_file& file, bool fast) {
  vcf_reader r;
  if (status opened = open_reader(listed, r, true); !opened.ok()) return opened;
  file.listed = listed;
  file.kind = r.text ? "VCF" : "BCF";
  if (r.samples == 0) return refuse("File %s names no sample.\n", listed);
  file.samples.assign(r.header->samples, r.header->samples + r.samples);
  file.calls = packed_calls(r.samples, &budget);
  if (status read = read_records(r, &file.calls, fast, file.records, file.skipped, [](long) {}); !read.ok())
    return read;
  file.snps = file.calls.records();
  if (file.records == 0) return refuse("File %s holds no record.\n", listed);
  if (file.snps == 0) return refuse("File %s holds no SNP: every record has more than one ALT allele.\n", listed);
  return ok_status();
}

std::string vcf_counts_line(const vcf_file& file) {
  return std::string("\t ") + file.kind + " file " + file.listed + ": " + std::to_string(file.records) +
         " records read, " + std::to_string(file.skipped) + " skipped (more than one ALT allele).\n";
}

status load_vcf(vcf_file& file, long snp_offset, const std::vector<unsigned char>& classes,
                const genotype_store& store) {
  if (file.classes.size() != classes.size())
    return failure(status_code::input_error,
                   "File %s holds %zu samples with a class, the first file %zu individuals.\n", file.listed.c_str(),
                   file.classes.size(), classes.size());
  if (const long d = first_class_difference(classes, file.classes); d >= 0)
    return failure(status_code::input_error, "File %s, sample %s: the class differs from the first file.\n",
                   file.listed.c_str(),
                   shown(file.samples[static_cast<size_t>(file.sample_of[static_cast<size_t>(d)])]).c_str());
  // Where each individual's call goes: its index among the cases or among the
  // controls, the class in the low bit. Listed bit by bit across the words (bit 0 of
  // every word, then bit 1, ...): consecutive bits then land in different words, while
  // in individual order each would wait for the write of the one before, to the same
  // word (that chain was most of the placing time).
  struct placement {
    int32_t sample;
    int64_t target;
  };
  std::vector<placement> order;
  order.reserve(classes.size());
  std::vector<int32_t> by_class[2];
  for (size_t d = 0; d < classes.size(); ++d) by_class[classes[d] == kCase].push_back(file.sample_of[d]);
  for (int is_case = 0; is_case < 2; ++is_case) {
    const std::vector<int32_t>& members = by_class[is_case];
    const size_t words = (members.size() + kWordBits - 1) / kWordBits;
    for (size_t bit = 0; bit < kWordBits; ++bit)
      for (size_t w = 0; w < words; ++w)
        if (const size_t i = w * kWordBits + bit; i < members.size())
          order.push_back({members[i], static_cast<int64_t>(i) * 2 + is_case});
  }
  // The SNPs of one block of the store at a time (up to kLanes, side by side in its
  // words): their writes do not wait for each other, and no two threads write into
  // the same block.
  const long first_block = snp_offset / kLanes;
  const long blocks = (snp_offset + file.snps - 1) / kLanes - first_block + 1;
  const bool parallel = file.snps * static_cast<long>(call_bytes(static_cast<long>(file.samples.size()))) >= kParallelBytes;
#pragma omp parallel for schedule(static) if (parallel)
  for (long b = 0; b < blocks; ++b) {
    const long first = std::max(snp_offset, (first_block + b) * kLanes);
    const long count = std::min(snp_offset + file.snps, (first_block + b + 1) * kLanes) - first;
    const uint8_t* calls[kLanes];
    class_bits bits[kLanes][3][2];  // [SNP][genotype][is case]
    for (int r = 0; r < kLanes; ++r) {
      const long s = first + std::min<long>(r, count - 1);  // a short block repeats its last SNP
      calls[r] = file.calls.record(s - snp_offset);
      for (int g = 0; g < 3; ++g) {
        bits[r][g][0] = slot(store, s, g).ctrls;
        bits[r][g][1] = slot(store, s, g).cases;
      }
    }
    for (const placement& to : order) {
      const int is_case = static_cast<int>(to.target & 1);
      const long index = static_cast<long>(to.target >> 1);
      for (int r = 0; r < kLanes; ++r) {
        const unsigned g = call_of(calls[r], to.sample);
        if (g != kCallMissing) set_individual(bits[r][g][is_case], index);
      }
    }
  }
  file.calls.release();
  return ok_status();
}

status read_vcf_snps(const std::string& listed, std::vector<vcf_snp>& snps) {
  vcf_reader r;
  if (status opened = open_reader(listed, r, false); !opened.ok()) return opened;
  snps.clear();
  long records, skipped;
  return read_records(r, nullptr, true, records, skipped, [&](long) {
    bcf_unpack(r.record, BCF_UN_STR);
    vcf_snp snp;
    snp.chrom = bcf_seqname_safe(r.header, r.record);
    snp.pos = static_cast<long long>(r.record->pos) + 1;
    const char* id = r.record->d.id;
    snp.name = id != nullptr && strcmp(id, ".") != 0 ? std::string(id) : snp.chrom + ":" + std::to_string(snp.pos);
    snp.alt = r.record->n_allele > 1 ? r.record->d.allele[1] : ".";
    snps.push_back(std::move(snp));
  });
}

}  // namespace velk
