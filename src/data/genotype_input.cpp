#include "data/genotype_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <ctime>

#include "base/console.h"
#include "base/text_file.h"
#include "data/classes.h"
#include "data/genotype_store.h"
#include "data/listed_name.h"
#include "data/phenotype_file.h"
#include "data/text_header.h"
#include "data/text_rows.h"
#include "data/vcf_samples.h"

namespace velk {

namespace {

// The value count check of every row of the counting and loading passes; false, with
// `failed` set to the refusal, for a row with too many or too few values.
bool value_count_ok(const char* name, long line, long values, long expected, status& failed) {
  if (values == expected) return true;
  failed = failure(status_code::input_error, "File %s, line %ld: found %ld values, expected %ld.\n", name, line, values,
                   expected);
  return false;
}

// Sizing pass over one file: its rows (when asked to count them all) and the value
// count of its first row.
struct size_sink {
  bool count_all;
  long rows = 0;
  long first_row_values = 0;
  bool token(long, int) { return true; }
  bool end_row(long, long values) {
    if (rows++ == 0) first_row_values = values;
    return count_all;
  }
  bool simple_row(long line, const unsigned char*, long values) { return end_row(line, values); }
};

// Counting pass over the first file: the class of every row.
struct count_sink {
  const char* name;
  long expected_values;
  std::vector<unsigned char>& classes;
  long rows = 0;
  status failed = ok_status();
  unsigned char row_class = kControl;
  bool token(long index, int value) {
    if (index == 0) row_class = value == 0 ? kControl : kCase;
    return true;
  }
  bool end_row(long line, long values) {
    if (!value_count_ok(name, line, values, expected_values, failed)) return false;
    classes[rows++] = row_class;
    return true;
  }
  bool simple_row(long line, const unsigned char* text, long values) {
    row_class = text[0] == '0' ? kControl : kCase;
    return end_row(line, values);
  }
};

// Loading pass over one file: sets the bits of its SNPs. A row sets bits only when it
// is one of the first file's rows and has that row's class, so that no bit can land
// beyond the class counts; a row that fails is refused once the line has been read. The
// row of an individual the first file leaves out (a missing phenotype) is skipped,
// whatever its status.
struct load_sink {
  const char* name;
  long expected_values;
  long snp_offset;
  const std::vector<unsigned char>& classes;  // per row of the first file
  const genotype_store& store;
  long rows = 0;
  long case_index = -1;
  long ctrl_index = -1;
  bool row_usable = false;
  bool row_status_differs = false;
  status failed = ok_status();
  long individual = 0;
  bool individual_is_case = false;

  long row_ct() const { return static_cast<long>(classes.size()); }

  bool token(long index, int value) {
    if (index == 0) {
      const unsigned char row_class = value == 0 ? kControl : kCase;
      const bool left_out = rows < row_ct() && classes[rows] == kNoClass;
      row_status_differs = rows < row_ct() && !left_out && row_class != classes[rows];
      row_usable = rows < row_ct() && !left_out && !row_status_differs;
      if (row_usable) {
        individual_is_case = row_class == kCase;
        individual = individual_is_case ? ++case_index : ++ctrl_index;
      }
    } else if (row_usable && index < expected_values && value >= 0 && value <= 2) {
      const genotype_slot s = slot(store, snp_offset + index - 1, value);
      set_individual(individual_is_case ? s.cases : s.ctrls, individual);
    }
    return true;
  }
  bool end_row(long line, long values) {
    if (!value_count_ok(name, line, values, expected_values, failed)) return false;
    if (row_status_differs) {
      failed =
          failure(status_code::input_error, "File %s, line %ld: the status differs from the first file.\n", name, line);
      return false;
    }
    ++rows;
    return true;
  }
  // A row of single digits: the status is its first digit, genotype k its (k+1)-th.
  // Such rows are gathered in batches and their bits set SNP by SNP: a row touches
  // every SNP's slots, far apart in the store, while a batch of rows touches the few
  // words of one SNP at a time.
  static constexpr int kBatchRows = 64;
  std::vector<unsigned char> batch = {};  // kBatchRows rows of (expected_values - 1) digits
  long batch_individual[kBatchRows] = {};
  bool batch_is_case[kBatchRows] = {};
  int batch_rows = 0;

  bool simple_row(long line, const unsigned char* text, long values) {
    token(0, text[0] == '0' ? 0 : 1);
    if (row_usable && values == expected_values) {
      const long snps = expected_values - 1;
      if (batch.empty()) batch.resize(static_cast<size_t>(kBatchRows) * static_cast<size_t>(snps));
      unsigned char* digits = batch.data() + static_cast<size_t>(batch_rows) * static_cast<size_t>(snps);
      for (long k = 0; k < snps; ++k) digits[k] = text[2 * k + 2];
      batch_individual[batch_rows] = individual;
      batch_is_case[batch_rows] = individual_is_case;
      if (++batch_rows == kBatchRows) flush();
    }
    return end_row(line, values);
  }

  // Sets the bits of the batched rows.
  void flush() {
    if (batch_rows == 0) return;  // batch may be unallocated: no pointer arithmetic on it
    const long snps = expected_values - 1;
    const size_t stride = store.shape.slot_words();
    size_t word[kBatchRows];
    uint64_t bit[kBatchRows];
    for (int r = 0; r < batch_rows; ++r) {
      word[r] = static_cast<size_t>(batch_individual[r] / kWordBits) + (batch_is_case[r] ? 0 : store.shape.case_word_ct);
      bit[r] = uint64_t{1} << (batch_individual[r] % kWordBits);
    }
    for (long k = 0; k < snps; ++k) {
      // The SNP's words: genotype g's word w at (g * stride + w) * kLanes.
      uint64_t* const snp_words = slot(store, snp_offset + k, 0).cases.first;
      const unsigned char* digit = batch.data() + k;
      for (int r = 0; r < batch_rows; ++r, digit += snps) {
        const unsigned g = static_cast<unsigned>(*digit - '0');
        if (g <= 2) snp_words[(g * stride + word[r]) * kLanes] |= bit[r];
      }
    }
    batch_rows = 0;
  }
};

// Runs one scan; the failure of the scan or of the sink, with the hint for a fileset's
// .bim or .fam listed in place of its .bed, or else for a header line, in place of the
// hint a bad token has of its column.
template <class Sink>
status scan_file(const std::string& name, bool check_tokens, Sink& sink, const status& sink_failed) {
  FILE* file = nullptr;
  if (status opened = open_data_file(name, file); !opened.ok()) return opened;
  if (!is_regular(file)) {
    fclose(file);
    return unreadable_failure(name.c_str());
  }
  status scanned = scan_rows(file, name.c_str(), check_tokens, sink);
  const bool read_error = ferror(file) != 0;
  fclose(file);
  if (read_error || scanned.code == status_code::fatal) return scanned;
  if (scanned.ok()) scanned = sink_failed;
  if (scanned.ok()) return scanned;
  std::string hint = listed_companion_hint(name);
  // The list file listed among the genotype files holds names too, but deleting its
  // first line would not help.
  if (hint.empty() && name != kListFileName) hint = header_hint(name);
  return hint.empty() ? scanned : with_hint(std::move(scanned), std::move(hint));
}

}  // namespace

std::vector<std::string> list_names(const std::string& text) {
  std::vector<std::string> names;
  // Editors on some systems start a UTF-8 file with a byte-order mark; it is no part of
  // the first name.
  size_t i = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
  while (i < text.size()) {
    while (i < text.size() && isspace(static_cast<unsigned char>(text[i]))) ++i;
    const size_t start = i;
    while (i < text.size() && !isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i > start) names.emplace_back(text, start, i - start);
  }
  return names;
}

std::vector<std::string> study_files(const char* list_name) {
  std::vector<std::string> files = {list_name};
  FILE* list = open_nonblocking(list_name);
  std::string text;
  if (list == nullptr) return files;
  const bool read = read_whole(list, text);
  fclose(list);
  if (!read) return files;
  for (const std::string& listed : list_names(text)) {
    const std::string name = resolve_listed_name(listed);  // the files loaded for it
    files.push_back(name);
    FILE* file = open_nonblocking(name.c_str());
    if (file == nullptr) continue;
    fclose(file);
    if (!starts_as_bed(name)) continue;
    files.push_back(companion_name(name, ".bim"));
    files.push_back(companion_name(name, ".fam"));
  }
  // The classes of a study with VCF or BCF files, read when there is one.
  files.push_back(kPhenotypeFileName);
  return files;
}

status open_data_file(const std::string& name, FILE*& file) {
  file = open_nonblocking(name.c_str());
  if (file == nullptr) return failure(status_code::input_error, "Can't open the input file %s\n", name.c_str());
  return ok_status();
}

status size_text_file(const std::string& name, bool count_rows, long& rows, long& snp_columns) {
  size_sink sink{count_rows};
  if (status scanned = scan_file(name, false, sink, ok_status()); !scanned.ok()) return scanned;
  if (sink.rows == 0) return failure(status_code::input_error, "File %s holds no individual.\n", name.c_str());
  if (sink.first_row_values < 2) return failure(status_code::input_error, "File %s has no SNP column.\n", name.c_str());
  rows = sink.rows;
  snp_columns = sink.first_row_values - 1;
  return ok_status();
}

namespace {

status too_many_snps() {
  return with_hint(
      failure(status_code::fatal, "The study has more SNPs than velk can index (%ld at most)!\n", kMostSnps),
      std::string("list fewer or smaller genotype files in ") + kListFileName + ".");
}

}  // namespace

status study_snp_count(const std::vector<int>& snp_cts, int& snp_ct) {
  long snps = 0;
  for (int c : snp_cts) {
    snps += c;
    if (snps > kMostSnps) return too_many_snps();
  }
  snp_ct = static_cast<int>(snps);
  return ok_status();
}

status size_study_files(const std::vector<std::string>& names, memory_budget& budget, int& sample_ct,
                        std::vector<int>& snp_cts, std::vector<std::optional<plink_fileset>>& filesets,
                        std::vector<std::optional<vcf_file>>& vcfs, load_notes& notes) {
  const size_t k = names.size();
  snp_cts.assign(k, 0);
  filesets.assign(k, std::nullopt);
  vcfs.clear();  // not copyable: its calls own their claims
  vcfs.resize(k);
  long rows = 0;
  for (size_t i = 0; i < k; ++i) {
    // A listed file that cannot be opened ends the load with its own message alone,
    // before anything else is said of it: scripts read that message as it stands.
    FILE* file = nullptr;
    if (status opened = open_data_file(names[i], file); !opened.ok()) {
      notes.unopened_file = true;
      return opened;
    }
    fclose(file);
    long file_rows = 0;
    long snp_columns = 0;
    if (starts_as_bed(names[i])) {
      plink_fileset& set = filesets[i].emplace();
      if (status read = read_fileset(names[i], set); !read.ok()) return read;
      file_rows = static_cast<long>(set.classes.size());
      snp_columns = set.snps;
    } else if (starts_as_vcf(names[i])) {
      if (status read = read_vcf(names[i], budget, vcfs[i].emplace()); !read.ok()) return read;
      notes.say(vcf_counts_line(*vcfs[i]));
      snp_columns = vcfs[i]->snps;  // its individuals are known once its samples are matched
    } else if (status sized = size_text_file(names[i], i == 0, file_rows, snp_columns); !sized.ok()) {
      return sized;
    }
    if (i == 0) rows = file_rows;
    // Counts beyond int cannot be held by the store's int counts; so many individuals
    // would not fit in memory either.
    if (snp_columns > kMostSnps) return too_many_snps();
    if (rows > INT_MAX) return out_of_memory();
    snp_cts[i] = static_cast<int>(snp_columns);
  }
  if (status matched = match_vcf_samples(vcfs, notes); !matched.ok()) return matched;
  if (vcfs[0]) rows = static_cast<long>(vcfs[0]->classes.size());
  sample_ct = static_cast<int>(rows);
  return ok_status();
}

status load_study(const char* list_name, memory_budget& budget, study& out, load_notes& notes) {
  FILE* list = open_nonblocking(list_name);
  if (list == nullptr) {
    const int error = errno;
    return with_hint(failure(status_code::input_error, "Can't open input file %s\n", list_name),
                     list_folder_hint(list_name, error));
  }
  notes.say("Input Data ............\n");
  std::string list_text;
  const bool list_read = read_whole(list, list_text);
  fclose(list);
  if (!list_read) return unreadable_failure(list_name);
  std::vector<std::string> names = list_names(list_text);
  if (names.empty()) return failure(status_code::input_error, "The list file %s names no genotype file.\n", list_name);
  for (std::string& name : names) name = resolve_listed_name(name);

  int sample_ct = 0;
  std::vector<int> snp_cts;
  std::vector<std::optional<plink_fileset>> filesets;
  std::vector<std::optional<vcf_file>> vcfs;
  if (status sized = size_study_files(names, budget, sample_ct, snp_cts, filesets, vcfs, notes); !sized.ok())
    return sized;
  int snp_ct = 0;
  if (status counted = study_snp_count(snp_cts, snp_ct); !counted.ok()) return counted;

  // Counting pass: the class of every row of the first file (a fileset's .fam has
  // given them already, kNoClass for those it leaves out; a VCF's matching has left out
  // its samples without a class). `classes` are the study's individuals'.
  std::vector<unsigned char> row_classes(sample_ct);
  if (filesets[0]) {
    row_classes = filesets[0]->classes;
    if (const long left_out = left_out_count(*filesets[0]); left_out > 0)
      notes.say(printf_string("\t Individuals left out (phenotype 0 or -9 in %s): %ld of %zu.\n",
                              filesets[0]->fam.c_str(), left_out, row_classes.size()));
  } else if (vcfs[0]) {
    row_classes = vcfs[0]->classes;
  } else {
    count_sink sink{names[0].c_str(), 1L + snp_cts[0], row_classes};
    if (status scanned = scan_file(names[0], true, sink, sink.failed); !scanned.ok()) return scanned;
  }
  std::vector<unsigned char> classes;
  for (unsigned char c : row_classes)
    if (c != kNoClass) classes.push_back(c);
  sample_ct = static_cast<int>(classes.size());
  int case_ct = 0, ctrl_ct = 0;
  for (unsigned char c : classes) (c == kCase ? case_ct : ctrl_ct) += 1;
  notes.say(printf_string("\t Number of SNPs is %d\n", snp_ct));
  notes.say(printf_string("\t Number of individuals: %d (#case = %d; #control = %d).\n", sample_ct, case_ct, ctrl_ct));

  if (status made = new_store(make_shape(snp_ct, case_ct, ctrl_ct), budget, out.store); !made.ok()) return made;
  const genotype_store& store = out.store;
  const time_t load_start = time(nullptr);
  long offset = 0;
  for (size_t i = 0; i < names.size(); ++i) {
    if (filesets[i]) {
      if (status loaded = load_fileset(*filesets[i], offset, row_classes, store); !loaded.ok()) return loaded;
    } else if (vcfs[i]) {
      if (status loaded = load_vcf(*vcfs[i], offset, classes, store); !loaded.ok()) return loaded;
    } else {
      load_sink sink{names[i].c_str(), 1L + snp_cts[i], offset, row_classes, store};
      if (status scanned = scan_file(names[i], true, sink, sink.failed); !scanned.ok()) return scanned;
      sink.flush();
      if (sink.rows != sink.row_ct())
        return failure(status_code::input_error, "File %s holds %ld rows, the first file %ld.\n", names[i].c_str(),
                       sink.rows, sink.row_ct());
    }
    offset += snp_cts[i];
  }
  const time_t load_end = time(nullptr);
  notes.say(printf_string("End of data input (spending %d seconds).\n", static_cast<int>(load_end - load_start)));
  study_individuals& individuals = out.individuals;
  individuals.classes = classes;
  if (filesets[0]) fam_ids(*filesets[0], individuals);
  if (vcfs[0]) {
    individuals.left_out = std::move(vcfs[0]->left_out);
    // A VCF sample's name is its IID, or FID_IID as PLINK writes it.
    for (int32_t sample : vcfs[0]->sample_of) individuals.sample.push_back(vcfs[0]->samples[sample]);
  }
  return ok_status();
}

status require_both_classes(const study& loaded) {
  const store_shape& shape = loaded.shape();
  if (shape.case_ct > 0 && shape.ctrl_ct > 0) return ok_status();
  const char* missing = shape.ctrl_ct == 0 ? "control" : "case";
  // The wording of these two messages is compared by scripts; the hints are advice.
  const bool no_control = shape.ctrl_ct == 0;
  if (!loaded.individuals.fid.empty())
    return with_hint(failure(status_code::input_error,
                             "The study has no %s: a .fam's phenotype 1 marks a control, 2 a case, 0 and -9 none.\n",
                             missing),
                     no_control ? "a study needs individuals of phenotype 1 (control) beside those of 2 (case)."
                                : "a .fam coded 0 (control) and 1 (case) reads as controls, its 0s as missing "
                                  "phenotypes; recode it to 1 and 2.");
  return with_hint(failure(status_code::input_error,
                           "The study has no %s: status 0 marks a control, any other integer a case.\n", missing),
                   no_control ? "a study coded 1 (control) and 2 (case), as PLINK codes phenotypes, reads as all "
                                "cases; recode its first column to 0 and 1."
                              : "a study needs cases, of a status other than 0, beside its controls.");
}

}  // namespace velk
