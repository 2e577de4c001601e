// Fuzz target: the phenotype file VELKphenotypes.txt and the matching of VCF sample
// names to its lines, compared with an independent reading.
//
// Input: parts cut at "@@@@\n": the phenotype file's text, then (when there is a second
// part) the sample names of a VCF file, one per line.
#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "data/phenotype_file.h"
#include "data/vcf_samples.h"
#include "harness.h"

namespace {

using namespace velk::fuzz;

const char* const kName = "VELKphenotypes.txt";
const char* const kListed = "x.vcf";

struct ref_entry {
  std::string fid, iid;
  int klass;  // 1 case, 0 control, 2 none
  long line;
};

struct ref_table {
  bool ok = false;
  std::string err;
  bool with_fid = false;
  std::vector<ref_entry> entries;
};

std::string ref_sample(bool with_fid, const ref_entry& e) {
  return with_fid ? "FID " + ref_shown(e.fid) + " IID " + ref_shown(e.iid) : "IID " + ref_shown(e.iid);
}

std::string prefix(long line) { return std::string("File ") + kName + ", line " + std::to_string(line) + ": "; }

ref_table ref_parse(const std::string& text) {
  ref_table t;
  long line = 0;
  size_t form = 0;
  long form_line = 0;
  bool first = true;
  size_t at = 0;
  while (at < text.size()) {
    ++line;
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::vector<std::string> fields;
    std::string field;
    for (size_t i = at; i <= end; ++i) {
      const char c = i < end ? text[i] : ' ';
      if (c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f') {
        if (!field.empty()) fields.push_back(field);
        field.clear();
      } else {
        field.push_back(c);
      }
    }
    at = end + 1;
    if (fields.empty()) continue;
    const bool header = first && (fields[0] == "FID" || fields[0] == "#FID" || fields[0] == "IID");
    // A first line of two or three fields that ends in no integer: a header of other names.
    if (first && !header && (fields.size() == 2 || fields.size() == 3)) {
      std::string status = fields.back();
      if (!status.empty() && (status[0] == '-' || status[0] == '+')) status.erase(0, 1);
      if (status.empty() || status.find_first_not_of("0123456789") != std::string::npos) {
        t.err = prefix(line) + "a header line starts with FID, #FID or IID, not " + ref_shown(fields[0]) +
                "; a sample line is IID STATUS or FID IID STATUS, STATUS 2 (case), 1 (control), 0 or -9 (no class).\n";
        return t;
      }
    }
    first = false;
    if (header) continue;
    if (fields.size() != 2 && fields.size() != 3) {
      t.err = prefix(line) + "found " + std::to_string(fields.size()) +
              " fields, expected 2 (IID STATUS) or 3 (FID IID STATUS).\n";
      return t;
    }
    if (form == 0) {
      form = fields.size();
      form_line = line;
      t.with_fid = form == 3;
    } else if (fields.size() != form) {
      t.err = prefix(line) + "found " + std::to_string(fields.size()) + " fields, line " + std::to_string(form_line) +
              " " + std::to_string(form) + ".\n";
      return t;
    }
    ref_entry e{form == 3 ? fields[0] : "", fields[form - 2], 0, line};
    const std::string& status = fields[form - 1];
    if (status == "2") e.klass = 1;
    else if (status == "1") e.klass = 0;
    else if (status == "0" || status == "-9") e.klass = 2;
    else {
      t.err = prefix(line) + "status " + ref_shown(status) + " is none of 2 (case), 1 (control), 0 and -9 (no class).\n";
      return t;
    }
    for (const ref_entry& o : t.entries) {
      if (o.fid == e.fid && o.iid == e.iid) {
        t.err = prefix(line) + ref_sample(t.with_fid, e) + " is listed twice (first on line " + std::to_string(o.line) +
                ").\n";
        return t;
      }
    }
    t.entries.push_back(e);
  }
  if (t.entries.empty()) {
    t.err = std::string("File ") + kName + " lists no sample.\n";
    return t;
  }
  t.ok = true;
  return t;
}

// Per sample, the entry it matches or -1; the message of a refused matching.
std::string ref_match(const ref_table& t, const std::vector<std::string>& samples, std::vector<long>& entry_of) {
  entry_of.assign(samples.size(), -1);
  std::vector<long> taken(t.entries.size(), -1);
  for (size_t s = 0; s < samples.size(); ++s) {
    std::vector<long> matches;
    for (size_t e = 0; e < t.entries.size(); ++e)
      if (t.entries[e].iid == samples[s] || (t.with_fid && t.entries[e].fid + "_" + t.entries[e].iid == samples[s]))
        matches.push_back(static_cast<long>(e));
    if (matches.empty()) continue;
    if (matches.size() > 1)
      return std::string("File ") + kListed + ": sample " + ref_shown(samples[s]) + " matches line " +
             std::to_string(t.entries[matches[0]].line) + " and line " + std::to_string(t.entries[matches[1]].line) +
             " of " + kName + ".\n";
    if (taken[matches[0]] >= 0)
      return std::string("File ") + kListed + ": samples " + ref_shown(samples[taken[matches[0]]]) + " and " +
             ref_shown(samples[s]) + " both match line " + std::to_string(t.entries[matches[0]].line) + " of " + kName +
             ".\n";
    taken[matches[0]] = static_cast<long>(s);
    entry_of[s] = matches[0];
  }
  return "";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> parts = split_parts(data, size);
  const ref_table want = ref_parse(parts[0]);
  velk::phenotype_table got;
  const velk::status read = velk::parse_phenotypes(parts[0], kName, got);
  const bool parsed = read.ok();
  const std::string& err = read.message;
  FUZZ_CHECK(parsed == want.ok, err + " / expected: " + want.err);
  FUZZ_CHECK(err == want.err, err + " / expected: " + want.err);
  if (!parsed) {
    check_one_message(err);
    return 0;
  }
  FUZZ_CHECK(got.with_fid == want.with_fid && got.entries.size() == want.entries.size(), "entries");
  for (size_t e = 0; e < got.entries.size(); ++e) {
    const velk::phenotype_entry& g = got.entries[e];
    const ref_entry& w = want.entries[e];
    const int klass = g.klass == velk::kCase ? 1 : g.klass == velk::kControl ? 0 : 2;
    FUZZ_CHECK(g.fid == w.fid && g.iid == w.iid && klass == w.klass && g.line == w.line, "entry " + std::to_string(e));
  }
  if (parts.size() < 2) return 0;
  std::vector<std::string> samples;
  for (size_t at = 0; at <= parts[1].size();) {
    size_t end = parts[1].find('\n', at);
    if (end == std::string::npos) end = parts[1].size();
    samples.push_back(parts[1].substr(at, end - at));
    at = end + 1;
  }
  std::vector<long> want_entries, got_entries;
  const std::string want_err = ref_match(want, samples, want_entries);
  const velk::status match = velk::match_to_table(kListed, samples, got, got_entries);
  const bool matched = match.ok();
  const std::string& match_err = match.message;
  FUZZ_CHECK(matched == want_err.empty() && match_err == want_err, match_err + " / expected: " + want_err);
  if (matched) FUZZ_CHECK(got_entries == want_entries, "matched entries");
  return 0;
}
