#include "data/text_header.h"

#include <cstdio>
#include <string>

#include "base/text_file.h"
#include "data/text_rows.h"

namespace velk {

namespace {

// The fields judged: enough to tell a header from a row of identifiers and integers
// (a .ped, a .fam, a .raw's rows), and a .raw's six names.
constexpr int kJudgedFields = 8;

// The first fields of a file's first row (its first line with a field: blank lines are
// no rows), up to kJudgedFields: whether each is an integer (an optional sign, then
// digits), and the text of the first six, kept up to a length that tells them from
// the .raw's names. Read byte by byte: a field may be of any length.
struct first_fields {
  int count = 0;
  int integers = 0;
  std::string text[6];
};

first_fields read_first_fields(FILE* file) {
  first_fields got;
  bool in_field = false, sign_only = false, digits_only = false;
  auto end_field = [&] {
    in_field = false;
    got.integers += digits_only && !sign_only;
    ++got.count;
  };
  for (int c; got.count < kJudgedFields && (c = getc(file)) != EOF;) {
    const unsigned char kind = kCharClass.of[static_cast<unsigned char>(c)];
    if (kind == kBlank || kind == kLineFeed) {
      if (in_field) end_field();
      if (kind == kLineFeed && got.count > 0) break;
      continue;
    }
    if (!in_field) {
      in_field = true;
      sign_only = kind == kSign;
      digits_only = kind == kSign || kind == kDigit;
    } else {
      sign_only = false;
      digits_only = digits_only && kind == kDigit;
    }
    if (got.count < 6 && got.text[got.count].size() <= 9) got.text[got.count].push_back(static_cast<char>(c));
  }
  if (in_field) end_field();
  return got;
}

}  // namespace

std::string header_hint(const std::string& name) {
  FILE* file = open_nonblocking(name.c_str());
  if (file == nullptr) return "";
  const first_fields fields = read_first_fields(file);
  fclose(file);
  if (fields.count < 2 || fields.integers > 0) return "";
  const char* const raw_header[6] = {"FID", "IID", "PAT", "MAT", "SEX", "PHENOTYPE"};
  bool raw = fields.count >= 6;
  for (int k = 0; k < 6 && raw; ++k) raw = fields.text[k] == raw_header[k];
  if (raw)
    return name +
           " is a PLINK .raw file (its header starts FID IID PAT MAT SEX PHENOTYPE), which velk does not read and "
           "which cannot be made back into a fileset: list the fileset it was made from (for plink --bfile STEM "
           "--recode A, list STEM.bed), or make one with plink --make-bed from the data it came from, e.g. "
           "plink1.9 --file STEM --make-bed --out STEM from a .ped and .map.";
  return "the first line of " + name +
         " holds names, not integers, as a header does; text genotype files have no header: delete that line.";
}

}  // namespace velk
