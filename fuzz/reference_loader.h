// An independent reading of a text study, byte by byte and with none of the block
// scanner's fast paths: what loading the same files must give, bit for bit and message
// for message. The fuzz targets compare the real load with it.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace velk::fuzz {

struct ref_row {
  long line;                        // physical line number, 1-based
  std::vector<std::string> tokens;  // maximal runs of non-white-space bytes
};

inline bool ref_space(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// The rows of a text: its lines (ended by a line feed or the end of the text) that hold
// a token.
inline std::vector<ref_row> ref_rows(const std::string& text) {
  std::vector<ref_row> rows;
  ref_row current{1, {}};
  std::string token;
  for (size_t i = 0; i <= text.size(); ++i) {
    const bool end = i == text.size();
    const unsigned char c = end ? '\n' : static_cast<unsigned char>(text[i]);
    if (!ref_space(c)) {
      token.push_back(static_cast<char>(c));
      continue;
    }
    if (!token.empty()) current.tokens.push_back(std::move(token));
    token.clear();
    if (c == '\n') {
      if (!current.tokens.empty()) rows.push_back(std::move(current));
      current = {current.line + 1, {}};
    }
  }
  return rows;
}

inline constexpr int kRefNotInteger = -1;
inline constexpr int kRefOther = 3;

// 0, 1 or 2 by value, kRefOther for any other integer, kRefNotInteger for a token that
// is not an optional sign followed by decimal digits.
inline int ref_class(const std::string& token) {
  size_t i = 0;
  const bool negative = !token.empty() && token[0] == '-';
  if (!token.empty() && (token[0] == '+' || token[0] == '-')) i = 1;
  if (i == token.size()) return kRefNotInteger;
  for (size_t j = i; j < token.size(); ++j)
    if (token[j] < '0' || token[j] > '9') return kRefNotInteger;
  while (i + 1 < token.size() && token[i] == '0') ++i;  // leading zeros
  if (token.size() - i > 1) return kRefOther;
  const int v = token[i] - '0';
  if (v == 0) return 0;
  return negative || v > 2 ? kRefOther : v;
}

inline std::string ref_format(const char* fmt, const std::string& name, long a, long b = 0, long c = 0) {
  char buffer[512];
  snprintf(buffer, sizeof buffer, fmt, name.c_str(), a, b, c);
  return buffer;
}

// The message for a token that is not an integer: at most 200 bytes of it, control
// bytes shown as '?', and "..." when cut.
inline std::string ref_bad_token(const std::string& name, long line, const std::string& token) {
  std::string shown;
  for (size_t i = 0; i < token.size() && i < 200; ++i) {
    const unsigned char c = static_cast<unsigned char>(token[i]);
    shown.push_back(c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c));
  }
  if (token.size() > 200) shown += "...";
  return "File " + name + ", line " + std::to_string(line) + ": \"" + shown + "\" is not an integer.\n";
}

// The hint after a token that is not an integer, in 1-based column `column`.
inline std::string ref_column_hint(long column) {
  std::string where = "column 1, the status";
  if (column > 1) {
    const long snp = column - 1;
    const char* suffix = "th";
    if (snp % 100 < 11 || snp % 100 > 13)
      suffix = snp % 10 == 1 ? "st" : snp % 10 == 2 ? "nd" : snp % 10 == 3 ? "rd" : "th";
    where = "column " + std::to_string(column) + ", the file's " + std::to_string(snp) + suffix + " SNP";
  }
  return "Hint: it stands in " + where +
         "; text genotype files hold integers only: the status (0 a control, any other integer a case), then 0, 1 "
         "or 2 per SNP, a missing genotype written as any other integer (-1 or 3, say).\n";
}

// The hint for a file whose first row looks like a header: two or more tokens and no
// integer among its first eight; empty for any other (and for the list file, listed
// among the genotype files).
inline std::string ref_header_hint(const std::string& name, const ref_row& first) {
  const size_t judged = first.tokens.size() < 8 ? first.tokens.size() : 8;
  if (judged < 2 || name == "VELKinputfiles.txt") return "";
  for (size_t k = 0; k < judged; ++k)
    if (ref_class(first.tokens[k]) != kRefNotInteger) return "";
  const std::vector<std::string> raw = {"FID", "IID", "PAT", "MAT", "SEX", "PHENOTYPE"};
  if (judged >= 6 && std::vector<std::string>(first.tokens.begin(), first.tokens.begin() + 6) == raw)
    return "Hint: " + name +
           " is a PLINK .raw file (its header starts FID IID PAT MAT SEX PHENOTYPE), which velk does not read and "
           "which cannot be made back into a fileset: list the fileset it was made from (for plink --bfile STEM "
           "--recode A, list STEM.bed), or make one with plink --make-bed from the data it came from, e.g. "
           "plink1.9 --file STEM --make-bed --out STEM from a .ped and .map.\n";
  return "Hint: the first line of " + name +
         " holds names, not integers, as a header does; text genotype files have no header: delete that line.\n";
}

struct ref_file {
  std::string name;  // as listed
  bool regular;      // false: a directory, a FIFO, a device
  std::string text;
};

struct ref_study {
  bool loaded = false;
  bool sized = false;  // the sizing pass went through
  std::string err;     // the one message of a refused study, and its hint line
  long n = 0;
  long p = 0;
  long case_ct = 0;
  long ctrl_ct = 0;
  std::vector<unsigned char> is_case;  // per individual (row of the first file)
  std::vector<signed char> genotype;   // [snp * n + row]: 0, 1, 2, or -1 for missing
};

// Loads the files in list order: the sizing pass file by file, the counting pass over
// the first file, then the loading pass file by file; the first failure ends it.
inline ref_study ref_load(const std::vector<ref_file>& files) {
  ref_study s;
  std::vector<std::vector<ref_row>> rows(files.size());
  std::vector<long> columns(files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    if (!files[i].regular) {
      s.err = "Can't read the input file " + files[i].name + "\n";
      return s;
    }
    rows[i] = ref_rows(files[i].text);
    if (rows[i].empty()) {
      s.err = "File " + files[i].name + " holds no individual.\n";
      return s;
    }
    if (rows[i][0].tokens.size() < 2) {
      s.err = "File " + files[i].name + " has no SNP column.\n";
      return s;
    }
    columns[i] = static_cast<long>(rows[i][0].tokens.size()) - 1;
    s.p += columns[i];
  }
  s.sized = true;
  s.n = static_cast<long>(rows[0].size());
  // A line's checks in their order: every token, then the value count, then the status.
  // A bad token's hint names its column, or a header on the file's first row.
  auto line_error = [&](size_t file, const ref_row& row) -> std::string {
    for (size_t k = 0; k < row.tokens.size(); ++k) {
      if (ref_class(row.tokens[k]) != kRefNotInteger) continue;
      const std::string header = &row == &rows[file][0] ? ref_header_hint(files[file].name, row) : "";
      return ref_bad_token(files[file].name, row.line, row.tokens[k]) +
             (header.empty() ? ref_column_hint(static_cast<long>(k) + 1) : header);
    }
    const long values = static_cast<long>(row.tokens.size());
    if (values != columns[file] + 1)
      return ref_format("File %s, line %ld: found %ld values, expected %ld.\n", files[file].name, row.line, values,
                        columns[file] + 1);
    return "";
  };
  for (const ref_row& row : rows[0]) {
    s.err = line_error(0, row);
    if (!s.err.empty()) return s;
    s.is_case.push_back(ref_class(row.tokens[0]) != 0);
  }
  for (unsigned char c : s.is_case) ++(c ? s.case_ct : s.ctrl_ct);
  s.genotype.assign(static_cast<size_t>(s.p * s.n), -1);
  long offset = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    long r = 0;
    for (const ref_row& row : rows[i]) {
      s.err = line_error(i, row);
      if (!s.err.empty()) return s;
      if (r < s.n) {
        if ((ref_class(row.tokens[0]) != 0) != (s.is_case[r] != 0)) {
          s.err = ref_format("File %s, line %ld: the status differs from the first file.\n", files[i].name, row.line);
          return s;
        }
        for (long b = 1; b <= columns[i]; ++b) {
          const int v = ref_class(row.tokens[b]);
          if (v <= 2) s.genotype[static_cast<size_t>((offset + b - 1) * s.n + r)] = static_cast<signed char>(v);
        }
      }
      ++r;
    }
    if (r != s.n) {
      s.err = ref_format("File %s holds %ld rows, the first file %ld.\n", files[i].name, r, s.n);
      return s;
    }
    offset += columns[i];
  }
  s.loaded = true;
  return s;
}

}  // namespace velk::fuzz
