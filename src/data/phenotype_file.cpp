#include "data/phenotype_file.h"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <unordered_map>

#include "base/text_file.h"
#include "data/genotype_input.h"
#include "data/text_rows.h"

namespace velk {

namespace {

constexpr int kMostFields = 3;
constexpr size_t kShownBytes = 80;  // of a field quoted in a message


std::string shown(std::string_view field) {
  return token_for_message(field.data(), std::min(field.size(), kShownBytes), field.size());
}

// The fields of the line starting at `at`: the first kMostFields + 1 kept, all counted.
size_t split_line(std::string_view text, size_t at, std::string_view* fields, int& count) {
  return split_fields(text, at, fields, kMostFields + 1, count);
}

bool is_header(std::string_view first_field) {
  return first_field == "FID" || first_field == "#FID" || first_field == "IID";
}

// Whether a field is an integer, optionally signed: a status, right or wrong. A first
// line of two or three fields whose last is none is taken for a header of other names.
bool is_integer(std::string_view field) {
  if (!field.empty() && (field[0] == '-' || field[0] == '+')) field.remove_prefix(1);
  return !field.empty() && field.find_first_not_of("0123456789") == std::string_view::npos;
}

// The class of a status field, as a .fam codes it; false for any other text.
bool class_of(std::string_view status, unsigned char& klass) {
  if (status == "2") klass = kCase;
  else if (status == "1") klass = kControl;
  else if (status == "0" || status == "-9") klass = kNoClass;
  else return false;
  return true;
}

}  // namespace

std::string shown_sample(const phenotype_table& table, const phenotype_entry& entry) {
  return table.with_fid ? "FID " + shown(entry.fid) + " IID " + shown(entry.iid) : "IID " + shown(entry.iid);
}

status parse_phenotypes(const std::string& text, const char* name, phenotype_table& table) {
  table = {};
  std::string_view fields[kMostFields + 1];
  int form = 0;     // fields of the first sample line
  long form_line = 0;
  bool first = true;
  // A sample's key: its IID, or its FID and IID joined by a tab, which no field holds.
  std::unordered_map<std::string, long> seen;
  long line = 1;
  for (size_t at = 0; at < text.size(); ++line) {
    int count;
    at = split_line(text, at, fields, count) + 1;
    if (count == 0) continue;
    const bool header = first && is_header(fields[0]);
    if (first && !header && (count == 2 || count == 3) && !is_integer(fields[count - 1])) {
      return failure(
          status_code::input_error,
          "File %s, line %ld: a header line starts with FID, #FID or IID, not %s; a sample line is IID STATUS or "
          "FID IID STATUS, STATUS 2 (case), 1 (control), 0 or -9 (no class).\n",
          name, line, shown(fields[0]).c_str());
    }
    first = false;
    if (header) continue;
    if (count != 2 && count != 3) {
      return failure(status_code::input_error,
                     "File %s, line %ld: found %d fields, expected 2 (IID STATUS) or 3 (FID IID STATUS).\n", name, line,
                     count);
    }
    if (form == 0) {
      form = count;
      form_line = line;
      table.with_fid = count == 3;
    } else if (count != form) {
      return failure(status_code::input_error, "File %s, line %ld: found %d fields, line %ld %d.\n", name, line, count,
                     form_line, form);
    }
    phenotype_entry entry;
    entry.line = line;
    if (count == 3) entry.fid = fields[0];
    entry.iid = fields[count - 2];
    const std::string_view status = fields[count - 1];
    entry.status = status;
    if (!class_of(status, entry.klass)) {
      return failure(status_code::input_error,
                     "File %s, line %ld: status %s is none of 2 (case), 1 (control), 0 and -9 (no class).\n", name,
                     line, shown(status).c_str());
    }
    const auto [where, added] = seen.emplace(count == 3 ? entry.fid + '\t' + entry.iid : entry.iid, line);
    if (!added) {
      return failure(status_code::input_error, "File %s, line %ld: %s is listed twice (first on line %ld).\n", name,
                     line, shown_sample(table, entry).c_str(), where->second);
    }
    table.entries.push_back(std::move(entry));
  }
  if (table.entries.empty()) return failure(status_code::input_error, "File %s lists no sample.\n", name);
  return ok_status();
}

status read_phenotypes(const char* name, phenotype_table& table) {
  std::string text;
  const text_file read = read_text_file(name, text);
  if (read == text_file::cannot_open) {
    return failure(status_code::input_error,
                   "Can't open the phenotype file %s; a study with VCF or BCF files takes the classes of its samples "
                   "from it.\n",
                   name);
  }
  if (read == text_file::cannot_read) {
    return failure(status_code::input_error, "Can't read the input file %s\n", name);
  }
  return parse_phenotypes(text, name, table);
}

}  // namespace velk
