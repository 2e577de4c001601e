#include "run/focused_search.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <map>

#include "base/console.h"
#include "base/text_file.h"
#include "data/sets_file.h"
#include "results/result_names.h"
#include "search/search_model.h"

namespace velk {

namespace {

// 1999000 as "1,999,000".
std::string grouped(double count) {
  const std::string digits = printf_string("%.0f", count);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

const char* sets_word(int order) {
  static const char* const kWords[] = {"", "SNPs", "pairs", "triples", "quadruples"};
  return kWords[order];
}

status read_sets(const study_snp_names& names, int snp_ct, set_rules& rules) {
  std::string text;
  const text_file read = read_text_file(kSetsFileName, text);
  if (read == text_file::cannot_open)
    return with_hint(failure(status_code::input_error, "Can't open %s: [SETSRULE] %d searches the sets it lists.\n",
                             kSetsFileName, rules.rule),
                     "write the sets in PLINK's .set format (a name, its SNPs one a line, END), or set [SETSRULE] 0.");
  if (read == text_file::cannot_read) return failure(status_code::input_error, "Can't read %s\n", kSetsFileName);
  std::map<std::string, long, std::less<>> index;
  for (long s = 0; s < names.snps; ++s) index.emplace(names.name(s), s);
  std::vector<snp_set> sets;
  const auto index_of = [&index](std::string_view name) {
    const auto found = index.find(name);
    return found == index.end() ? -1L : found->second;
  };
  if (status parsed = parse_sets_file(text, kSetsFileName, index_of, sets); !parsed.ok()) return parsed;
  rules.listed.assign(static_cast<size_t>(snp_ct), 0);
  rules.sets_of.assign(static_cast<size_t>(snp_ct), {});
  for (size_t s = 0; s < sets.size(); ++s)
    for (int snp : sets[s].snps) {
      rules.listed[static_cast<size_t>(snp)] = 1;
      rules.sets_of[static_cast<size_t>(snp)].push_back(static_cast<int>(s));
    }
  return ok_status();
}

status read_positions(const study_snp_names& names, int snp_ct, set_rules& rules) {
  rules.chromosome.assign(static_cast<size_t>(snp_ct), -1);
  rules.position.assign(static_cast<size_t>(snp_ct), 0);
  std::map<std::string, int> chromosomes;  // codes compared as written
  for (const study_snp_names::listed_file& file : names.files) {
    if (file.kind == genotype_file_kind::text)
      return with_hint(failure(status_code::input_error,
                               "[MINDISTB] needs the positions of the SNPs, and %s, a text file, gives none.\n",
                               file.name.c_str()),
                       "list the study as PLINK filesets or VCF files, whose .bim or POS give positions, or set "
                       "[MINDISTB] 0.");
    for (long k = 0; k < file.snps; ++k) {
      const bim_place& at = file.places[static_cast<size_t>(k)];
      const size_t s = static_cast<size_t>(file.first + k);
      rules.chromosome[s] = chromosomes.emplace(at.chromosome, static_cast<int>(chromosomes.size())).first->second;
      rules.position[s] = strtoll(at.position.c_str(), nullptr, 10);
    }
  }
  return ok_status();
}

}  // namespace

status build_set_rules(const search_parameters& params, const char* list_name, int snp_ct, set_rules& rules,
                       double& allowed, std::string& console_line) {
  rules = {};
  rules.rule = params.sets_rule;
  rules.min_distance = params.min_distance;
  rules.order = params.order;
  struct stat info;
  if (rules.rule == 0 && lstat(kSetsFileName, &info) == 0)
    warn("%s is not used: [SETSRULE] is 0 (set 1 or 2 to search its sets).", kSetsFileName);
  if (!rules_active(rules)) return ok_status();
  study_snp_names names;
  if (status read = read_snp_names(list_name, names, rules.min_distance > 0); !read.ok()) return read;
  if (rules.rule != 0) {
    if (status read = read_sets(names, snp_ct, rules); !read.ok()) return read;
  } else {
    rules.listed.assign(static_cast<size_t>(snp_ct), 1);
    rules.sets_of.assign(static_cast<size_t>(snp_ct), {});
  }
  if (rules.min_distance > 0) {
    if (status read = read_positions(names, snp_ct, rules); !read.ok()) return read;
  }
  const auto start = std::chrono::steady_clock::now();
  allowed = allowed_set_count(rules, snp_ct);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::string by;
  if (rules.rule != 0) by = printf_string("%s ([SETSRULE] %d)", kSetsFileName, rules.rule);
  if (rules.min_distance > 0)
    by += printf_string("%s[MINDISTB] %lld", by.empty() ? "" : " and ", rules.min_distance);
  console_line = printf_string("Sets allowed by %s: %s of %s %s", by.c_str(), grouped(allowed).c_str(),
                               grouped(locus_set_count(snp_ct, params.order)).c_str(), sets_word(params.order));
  console_line += seconds >= 1 ? printf_string(" (counted in %.0f seconds).\n", seconds) : ".\n";
  return ok_status();
}

void share_set_rules(const team& t, set_rules& rules, double& allowed) {
  if (t.size == 1) return;
  int32_t head[3] = {rules.rule, rules.order, 0};
  share(t, head);
  share(t, rules.min_distance);
  share(t, allowed);
  rules.rule = head[0];
  rules.order = head[1];
  if (!rules_active(rules)) return;
  // The per-SNP vectors, and the file's sets of each SNP as counts then members.
  uint64_t snps = rules.listed.size();
  share(t, snps);
  std::vector<int32_t> counts(snps), members;
  for (size_t s = 0; s < rules.sets_of.size(); ++s) {
    counts[s] = static_cast<int32_t>(rules.sets_of[s].size());
    members.insert(members.end(), rules.sets_of[s].begin(), rules.sets_of[s].end());
  }
  uint64_t member_ct = members.size();
  share(t, member_ct);
  rules.listed.resize(snps);
  rules.chromosome.resize(rules.min_distance > 0 ? snps : 0);
  rules.position.resize(rules.chromosome.size());
  members.resize(member_ct);
  share_bytes(t, rules.listed.data(), snps);
  share_bytes(t, counts.data(), snps * sizeof(int32_t));
  share_bytes(t, members.data(), member_ct * sizeof(int32_t));
  share_bytes(t, rules.chromosome.data(), rules.chromosome.size() * sizeof(int));
  share_bytes(t, rules.position.data(), rules.position.size() * sizeof(long long));
  rules.sets_of.assign(snps, {});
  for (size_t s = 0, at = 0; s < snps; ++s) {
    rules.sets_of[s].assign(members.begin() + static_cast<long>(at), members.begin() + static_cast<long>(at + counts[s]));
    at += static_cast<size_t>(counts[s]);
  }
}

}  // namespace velk
