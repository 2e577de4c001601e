#include "run/parameter_advice.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "base/console.h"
#include "base/text_file.h"
#include "stats/major_cell_table.h"

namespace velk {

namespace {

constexpr size_t kShownCharacters = 40;

bool is_line_end_or_blank(char c) { return is_blank(c) || c == '\r' || c == '\n'; }

// A piece of a line for a message: at most kShownCharacters, a tab as a blank and
// anything else but printable ASCII as "?", so that a binary file cannot garble the
// terminal.
std::string shown(const char* text, size_t length) {
  std::string out;
  for (size_t i = 0; i < length && i < kShownCharacters; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    out += c == '\t' ? ' ' : c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
  }
  if (length > kShownCharacters) out += "...";
  return out;
}

// The length of a line's text without the blanks and line ends at its end.
size_t trimmed_length(const char* text) {
  size_t length = strlen(text);
  while (length > 0 && is_line_end_or_blank(text[length - 1])) --length;
  return length;
}

std::string key_list() {
  std::string keys;
  for (const parameter_key& key : kParameterKeys) keys += std::string(keys.empty() ? "" : ", ") + key.name;
  return keys;
}

// Edits (a character inserted, deleted, changed, or two neighbours swapped) between two
// texts compared without case, counted up to 3: a key that far off is no typo.
int key_edits(std::string_view a, std::string_view b) {
  constexpr int kFar = 3;
  if (a.size() > b.size() + kFar || b.size() > a.size() + kFar) return kFar;
  std::vector<std::vector<int>> d(a.size() + 1, std::vector<int>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = static_cast<int>(i);
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = static_cast<int>(j);
  const auto same = [](char x, char y) {
    return toupper(static_cast<unsigned char>(x)) == toupper(static_cast<unsigned char>(y));
  };
  for (size_t i = 1; i <= a.size(); ++i)
    for (size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (same(a[i - 1], b[j - 1]) ? 0 : 1)});
      if (i > 1 && j > 1 && same(a[i - 1], b[j - 2]) && same(a[i - 2], b[j - 1]))
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return std::min(d[a.size()][b.size()], kFar);
}

// The letters and digits of a text in upper case: "[ALPHA-RF]" has those of [ALPHA_RF].
std::string key_letters(std::string_view text) {
  std::string letters;
  for (char c : text)
    if (isalnum(static_cast<unsigned char>(c))) letters += static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return letters;
}

// The key a mistyped one most likely meant: the same letters without punctuation, or at
// most two edits away (the nearest; the first of the list on a tie); null for none.
const parameter_key* likely_key(std::string_view token) {
  const parameter_key* meant = nullptr;
  int fewest = 3;
  for (const parameter_key& k : kParameterKeys) {
    const int edits = key_letters(token) == key_letters(k.name) ? 0 : key_edits(token, k.name);
    if (edits < fewest) fewest = edits, meant = &k;
  }
  return meant;
}

double pairs_of_study(int snp_ct) { return static_cast<double>(snp_ct) * static_cast<double>(snp_ct - 1) / 2; }

std::string raw_bound_text(double raw) { return raw < 0 ? "none" : printf_string("%g", raw); }

}  // namespace

std::vector<std::string> parameter_file_warnings(const char* path, const search_parameters& params) {
  std::vector<std::string> warnings;
  bool alpha_given = false;
  read_parameter_lines(path, [&](long number, const char* line) {
    const parameter_key* key = nullptr;
    for (const parameter_key& k : kParameterKeys)
      if (strncmp(line, k.name, kKeyLength) == 0) key = &k;
    if (key == nullptr) {
      // A key after blanks, or in other case, is what its writer meant, and is ignored.
      const char* start = line;
      while (is_blank(*start)) ++start;
      const parameter_key* meant = nullptr;
      for (const parameter_key& k : kParameterKeys)
        if (strncasecmp(start, k.name, kKeyLength) == 0) meant = &k;
      if (meant != nullptr)
        warnings.push_back(printf_string("%s, line %ld: \"%s\" is no key velk reads; did you mean %s? A key is read in upper case, from the "
             "first column; the line is ignored.", path, number,
             shown(line, static_cast<size_t>(start - line) + strcspn(start, " \t\r\n")).c_str(), meant->name));
      else if (const size_t length = strcspn(line, " \t\r\n");
               line[0] == '[' && (meant = likely_key(std::string_view(line, length))) != nullptr)
        warnings.push_back(printf_string("%s, line %ld: \"%s\" is no key velk reads; did you mean %s? The line is ignored.", path, number,
             shown(line, length).c_str(), meant->name));
      else if (line[0] == '[')
        warnings.push_back(printf_string("%s, line %ld: \"%s\" is no key velk reads (%s, each from the first column); the line is ignored.",
             path, number, shown(line, strcspn(line, " \t\r\n")).c_str(), key_list().c_str()));
      return;
    }
    if (strcmp(key->name, "[ALPHA_RF]") == 0) alpha_given = true;
    const char* end = nullptr;
    std::string read;
    if (key->count)
      read = strncmp(key->name, "[PERM", 5) == 0 ? std::to_string(parameter_long(line, &end))
                                                : std::to_string(parameter_int(line, &end));
    else
      read = printf_string("%g", parameter_real(line, &end));
    const char* rest = end;
    while (is_line_end_or_blank(*rest)) ++rest;
    if (*rest == '\0') return;
    const char* value = line + kKeyLength;
    while (is_blank(*value)) ++value;
    warnings.push_back(printf_string("%s, line %ld: %s \"%s\" is read as %s; \"%s\" is ignored.", path, number, key->name,
         shown(value, trimmed_length(value)).c_str(), read.c_str(), shown(rest, trimmed_length(rest)).c_str()));
  });
  // The checks of the values only for a run that will search; init refuses the others.
  if (params.order < 1 || params.order > 4) return warnings;
  const double alpha = params.tail_level;
  if (!alpha_given)
    warnings.push_back(printf_string("%s sets no [ALPHA_RF]: the tail level of the major cells is then 0, at which next to no cell can be "
         "major; add a line \"[ALPHA_RF] 0.05\" (a level between 0 and 1).", path));
  else if (!(alpha > 0 && alpha < 1))
    warnings.push_back(printf_string("[ALPHA_RF] is %g: %s; give a tail level between 0 and 1, e.g. 0.05.", alpha,
         alpha >= 1 ? "at 1 or more next to every cell is case-major, so no set can stand out"
                    : "at 0 or below next to no cell can be major"));
  // An exhaustive search has no level lists.
  if (params.order > 2 && params.level_factor < 1 && !is_exhaustive(params))
    warnings.push_back(printf_string(
        "[MULFACTR] is %d with [DISEASEN] %d: the level lists, of TOP_K x [MULFACTR] sets, hold nothing, so "
        "neither will the result; give [MULFACTR] 1 or more, e.g. 10.",
        params.level_factor, params.order));
  return warnings;
}

void warn_if_no_set(const search_model& model, const search_input& in) {
  const int snp_ct = in.snp_ct();
  const double max_corrected = model.bounds.corrected;
  const double max_raw = model.bounds.raw;
  if (model.result_list == nullptr || model.result_list->count > 0) return;
  const int order = model.params.order;
  const char* const kNone = "the result holds no set";
  if (model.top_k == 0) {
    warn("%s: TOP_K is 0; ask for the number of sets to report, e.g. velk 10.", kNone);
    return;
  }
  if (order > 2 && model.params.level_factor < 1 && !is_exhaustive(model.params)) {
    warn("%s: [MULFACTR] is %d, so the level lists hold nothing; give [MULFACTR] 1 or more, e.g. 10.", kNone,
         model.params.level_factor);
    return;
  }
  if (!(model.params.tail_level > 0 && model.params.tail_level < 1)) {
    warn("%s: the tail level [ALPHA_RF] is %g; give one between 0 and 1, e.g. 0.05.", kNone, model.params.tail_level);
    return;
  }
  if (in.rules != nullptr) {
    if (in.allowed_sets == 0)
      warn("%s: [SETSRULE] and [MINDISTB] allow no set of %d SNPs in this study.", kNone, order);
    else
      warn("%s: none of the %.0f sets of %d SNPs that [SETSRULE] and [MINDISTB] allow passed the search's tests and "
           "the p-value bounds; loosen [MAX_PVAL] (the raw p-value times %.0f) or set [MAXGWPVL].",
           kNone, in.allowed_sets, order, in.allowed_sets);
    return;
  }
  if (order <= 2) {
    // The final-mode searches admit only what reaches the larger of the two bounds.
    const double corrected = 2 * max_corrected / (static_cast<double>(snp_ct) * static_cast<double>(snp_ct - 1));
    if (max_raw >= 1 && order == 2) {
      warn("%s: no pair scored above both of its SNPs alone.", kNone);
      return;
    }
    const char* const candidates = order == 1 ? "SNP" : "pair";
    if (max_raw < corrected)
      warn("%s: no %s reached the bound on the corrected p-value, [MAX_PVAL] %g divided by the %.0f pairs of %d "
           "SNPs (a raw p-value of %g); loosen [MAX_PVAL] (at most %.0f) or set [MAXGWPVL], a bound on the raw "
           "p-value.", kNone, candidates, max_corrected, pairs_of_study(snp_ct), snp_ct, corrected, pairs_of_study(snp_ct));
    else
      warn("%s: no %s reached the bound on the raw p-value, [MAXGWPVL] %g; loosen it (at most 1), or [MAX_PVAL] "
           "(now %g, divided by the %.0f pairs of %d SNPs).", kNone, candidates, max_raw, max_corrected,
           pairs_of_study(snp_ct), snp_ct);
    return;
  }
  const top_k_list& level = level_list(model, order);
  if (level.count == 0 && is_exhaustive(model.params)) {
    warn("%s: no set of %d SNPs, of all of them, scored above each of its SNPs alone.", kNone, order);
    return;
  }
  if (level.count == 0) {
    // The sets of the order below that were extended; more of them can only help when
    // their list was full.
    const top_k_list& parents = level_list(model, order - 1);
    if (has_full_root(parents))
      warn(
          "%s: no set of %d SNPs beat both its set of %d and its added SNP alone; raise [MULFACTR] (now %d) to "
          "extend more than the %d sets of %d kept.",
          kNone, order, order - 1, model.params.level_factor, parents.count, order - 1);
    else if (parents.count == 0)
      warn("%s: no set of %d SNPs was kept to extend; a lower order ([DISEASEN] %d) may find sets.", kNone,
           order - 1, order - 1);
    else
      warn("%s: no set of %d SNPs beat both its set of %d and its added SNP alone, with every set of %d that "
           "qualified extended; a lower order ([DISEASEN] %d) may find sets.", kNone, order, order - 1, order - 1,
           order - 1);
    return;
  }
  double best = 0;
  for (int i = 0; i < level.count; ++i)
    if (level.nodes[i].chisq > best) best = level.nodes[i].chisq;
  const double sets = locus_set_count(snp_ct, order);
  const double best_raw = p_value_chisq(2, best);
  warn("%s: no set of %d SNPs passed the p-value bounds (%d kept); the best has a raw p-value of %g, %g "
       "corrected for the %.0f sets of %d SNPs. Raise [MAX_PVAL] (now %g) above %g or set [MAXGWPVL] (now %s) "
       "above %g.", kNone, order, level.count, best_raw, best_raw * sets, sets, order, max_corrected,
       best_raw * sets, raw_bound_text(max_raw).c_str(), best_raw);
}

std::string numerical_error_hint(const std::string& library_message, const p_value_bounds& bounds, int snp_ct,
                                 double allowed_sets) {
  const double max_corrected = bounds.corrected;
  const double max_raw = bounds.raw;
  // Only the corrected bound of orders 1 and 2 asks the library for an inverse; the
  // other domain errors come from degenerate studies, not from a bound.
  if (library_message.find("InvChiSquareDistribution") == std::string::npos) return "";
  if (allowed_sets >= 0 && max_raw <= 1)
    return printf_string("[MAX_PVAL] is %g; a focused search divides it by the %.0f sets its rules allow, so it must "
                         "lie above 0 and at most %.0f.", max_corrected, allowed_sets, allowed_sets);
  if (snp_ct < 2)
    return printf_string("orders 1 and 2 correct [MAX_PVAL] for the number of pairs of SNPs, and a study of %d SNP "
                         "has none; list at least 2 SNPs.", snp_ct);
  if (!(max_raw <= 1))
    return printf_string("[MAXGWPVL] is %g; a bound on the raw p-value lies between 0 and 1.", max_raw);
  return printf_string("[MAX_PVAL] is %g; orders 1 and 2 divide it by the %.0f pairs of %d SNPs, p(p-1)/2, so it "
                       "must lie above 0 and at most %.0f.", max_corrected, pairs_of_study(snp_ct), snp_ct, pairs_of_study(snp_ct));
}

}  // namespace velk
