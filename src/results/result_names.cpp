#include "results/result_names.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "base/text_file.h"
#include "data/genotype_input.h"
#include "data/listed_name.h"
#include "data/plink_fileset.h"
#include "data/text_rows.h"
#include "data/vcf_file.h"
#include "results/result_rows.h"
#include "results/result_writer.h"

namespace velk {

namespace {

// The names of the statistic columns, as the result file has them.
constexpr std::string_view kStatisticNames = "chi_SQ\tP_value\t#Major_cells";

// One column per SNP (and its place), so that a spreadsheet or R's read.table(header
// = TRUE) lines the names up with the values; the family-wise p-values last, so that
// scripts that read the columns before them by position read them as before.
std::string named_header(size_t loci, bool with_places, bool family_wise) {
  std::string header;
  for (size_t i = 1; i <= loci; ++i) {
    const std::string k = std::to_string(i);
    header += "SNP" + k + "\t";
    if (with_places) header += "CHR" + k + "\tPOS" + k + "\t";
  }
  return header.append(kStatisticNames).append(family_wise ? "\tFW_P_value\tFW_P_tail\n" : "\n");
}

// The file whose SNPs hold the index: the last one that starts at or before it.
const study_snp_names::listed_file& file_of(const std::vector<study_snp_names::listed_file>& files, long index) {
  const auto after = std::upper_bound(files.begin(), files.end(), index,
                                      [](long i, const study_snp_names::listed_file& f) { return i < f.first; });
  return *(after - 1);
}

}  // namespace

std::string study_snp_names::name(long index) const {
  const listed_file& file = file_of(files, index);
  const long column = index - file.first;
  return file.ids.empty() ? file.name + ":" + std::to_string(column + 1) : file.ids[column];
}

std::string study_snp_names::place(long index) const {
  const listed_file& file = file_of(files, index);
  // R reads NA as a missing value.
  if (file.places.empty()) return "NA\tNA";
  const bim_place& at = file.places[index - file.first];
  return at.chromosome + "\t" + at.position;
}

std::string study_snp_names::position(long index) const {
  const listed_file& file = file_of(files, index);
  if (file.places.empty()) return "";
  const bim_place& at = file.places[index - file.first];
  return at.chromosome + ":" + at.position;
}

std::string study_snp_names::counted_allele(long index) const {
  const listed_file& file = file_of(files, index);
  return file.places.empty() ? "" : file.places[index - file.first].allele;
}

const bim_place* study_snp_names::place_of(long index) const {
  const listed_file& file = file_of(files, index);
  return file.places.empty() ? nullptr : &file.places[index - file.first];
}

status read_result_file(std::string& text) {
  switch (read_text_file(kResultFileName, text)) {
    case text_file::read:
      return ok_status();
    case text_file::cannot_open:
      return failure(status_code::input_error, "Can't open the result file %s; run velk in this folder first.\n",
                     kResultFileName);
    case text_file::cannot_read:
      break;
  }
  return failure(status_code::input_error, "Can't read the result file %s\n", kResultFileName);
}

status read_snp_names(const char* list_name, study_snp_names& names, bool with_places) {
  std::string list_text;
  const text_file list = read_text_file(list_name, list_text);
  if (list == text_file::cannot_open) return failure(status_code::input_error, "Can't open input file %s\n", list_name);
  if (list == text_file::cannot_read) return unreadable_failure(list_name);
  const std::vector<std::string> listed = list_names(list_text);
  if (listed.empty())
    return failure(status_code::input_error, "The list file %s names no genotype file.\n", list_name);
  names = {};
  for (const std::string& listed_name : listed) {
    // The same file velk loaded for the name (a fileset listed by its stem).
    const std::string name = resolve_listed_name(listed_name);
    study_snp_names::listed_file file{name, names.snps, 0, genotype_file_kind::text, {}, {}};
    FILE* opened = nullptr;  // the loader's message for a file that is not there
    if (status open = open_data_file(name, opened); !open.ok()) return open;
    fclose(opened);
    if (starts_as_bed(name)) {
      file.kind = genotype_file_kind::fileset;
      if (status read = read_bim_ids(companion_name(name, ".bim"), name, file.ids,
                                     with_places ? &file.places : nullptr);
          !read.ok())
        return read;
      file.snps = static_cast<long>(file.ids.size());
    } else if (starts_as_vcf(name)) {
      // A VCF or BCF SNP by its ID, or CHROM:POS where the ID is ".".
      file.kind = genotype_file_kind::vcf;
      std::vector<vcf_snp> snps;
      if (status read = read_vcf_snps(name, snps); !read.ok()) return read;
      for (vcf_snp& snp : snps) {
        file.ids.push_back(std::move(snp.name));
        if (with_places) file.places.push_back({std::move(snp.chrom), std::to_string(snp.pos), std::move(snp.alt)});
      }
      file.snps = static_cast<long>(file.ids.size());
    } else {
      long rows;
      if (status sized = size_text_file(name, false, rows, file.snps); !sized.ok()) return sized;
    }
    names.snps += file.snps;
    // A file without SNPs would share its first index with the next one.
    if (file.snps > 0) names.files.push_back(std::move(file));
  }
  return ok_status();
}

std::string name_rows(const std::vector<result_row>& rows, const study_snp_names& names, bool with_places,
                      const std::vector<family_wise_value>* family_wise) {
  // The columns follow the first row; a result without rows names the statistic
  // columns only.
  std::string out = named_header(rows.empty() ? 0 : rows[0].loci.size(), with_places, family_wise != nullptr);
  for (size_t r = 0; r < rows.size(); ++r) {
    const result_row& row = rows[r];
    for (int64_t index : row.loci) {
      out += names.name(index);
      out.push_back('\t');
      if (with_places) out += names.place(index) + "\t";
    }
    out += row.chisq_text + "\t" + row.p_value_text + "\t" + row.nmajor_text;
    if (family_wise != nullptr) out += "\t" + (*family_wise)[r].text + "\t" + (*family_wise)[r].tail_text;
    out += "\n";
  }
  return out;
}

}  // namespace velk
