#include "results/html_report.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <map>

#include "base/console.h"

namespace velk {

namespace {

// Appends printf-formatted text.
__attribute__((format(printf, 2, 3))) void add(std::string& out, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  out += vformat(fmt, args);
  va_end(args);
}

// Text for HTML content and attribute values: SNP identifiers and file names come from
// the study's files and may hold any byte but white space.
std::string esc(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

// The diverging colour scale of a cell's share of cases: white at the study's share,
// blue towards no case, orange towards only cases. Blue against orange stays apart
// for every common colour-vision deficiency, and the frames (not the colours) mark the
// major cells.
struct rgb {
  double r, g, b;
};
constexpr rgb kNoCase = {33, 102, 172};      // #2166ac
constexpr rgb kStudyShare = {247, 247, 247};  // #f7f7f7
constexpr rgb kOnlyCases = {230, 97, 1};      // #e66101

// How far a cell's share of cases lies from the study's, towards 0 (negative) or 1
// (positive), in [-1, 1].
double share_offset(const cell_count& c, double study_share) {
  const double share = static_cast<double>(c.cases) / static_cast<double>(c.cases + c.ctrls);
  if (share >= study_share) return study_share < 1.0 ? (share - study_share) / (1.0 - study_share) : 0.0;
  return -(study_share - share) / study_share;
}

std::string colour(double offset) {
  const rgb& end = offset < 0 ? kNoCase : kOnlyCases;
  const double t = offset < 0 ? -offset : offset;
  char hex[8];
  snprintf(hex, sizeof hex, "#%02x%02x%02x", static_cast<int>(kStudyShare.r + (end.r - kStudyShare.r) * t + 0.5),
           static_cast<int>(kStudyShare.g + (end.g - kStudyShare.g) * t + 0.5),
           static_cast<int>(kStudyShare.b + (end.b - kStudyShare.b) * t + 0.5));
  return hex;
}

constexpr const char* kStyle = R"(
body{font:14px/1.4 system-ui,sans-serif;color:#222;margin:1.2em 1.5em}
h1{font-size:1.35em;margin:0 0 .6em}
h2{font-size:1.1em;margin:0 0 .4em}
.top{display:flex;flex-wrap:wrap;gap:1.2em 2.5em;align-items:flex-start;margin-bottom:1.4em}
table{border-collapse:collapse}
th,td{padding:.2em .45em;text-align:left;vertical-align:top;border-bottom:1px solid #ddd}
th{background:#f2f2f2}
.num{text-align:right;font-variant-numeric:tabular-nums}
td.num{white-space:nowrap}
.hubs{max-height:22em;overflow:auto}
.bar{display:inline-block;height:.75em;background:#e66101}
.axes{font-size:12px;color:#555;max-width:34em}
.note{color:#555;margin:.3em 0 .6em}
.weak{color:#a33;font-size:12px;white-space:normal}
td.snps{overflow-wrap:anywhere;min-width:10em}
svg text{font:11px system-ui,sans-serif;fill:#333}
svg text.n{font:10px ui-monospace,monospace;text-anchor:middle}
svg text.n.light{fill:#fff}
svg text.h{font-weight:600}
rect.o{stroke:#c8c8c8;stroke-width:1}
rect.cm{stroke:#000;stroke-width:3}
rect.tm{stroke:#000;stroke-width:3;stroke-dasharray:5 3}
path.span{stroke:#888;stroke-width:1}
rect.miss{fill:#e0e0e0;stroke:#c8c8c8;stroke-width:1}
.sub{color:#555;margin:-.4em 0 1em}
@media print{.hubs{max-height:none;overflow:visible}}
)";

// The geometry of a set's picture, in pixels.
constexpr int kCell = 38;    // a cell's side
constexpr int kPitch = 40;   // from one cell to the next
constexpr int kGap = 16;     // between two grids
constexpr int kDigits = 14;  // the genotype digits above and left of a grid
constexpr int kName = 14;    // the name of the SNP whose genotype picks the grid
constexpr int kOuter = 18;   // that SNP's genotype, above or left of each grid
constexpr int kMissingWidth = 64;
constexpr int kGridSide = 3 * kPitch - (kPitch - kCell);

// A name short enough to stand over the grids: its end, where identifiers differ,
// cut at the start of a UTF-8 character.
std::string fitted_name(const std::string& name, size_t kept) {
  if (name.size() <= kept) return name;
  size_t from = name.size() - kept;
  while (from < name.size() && (static_cast<unsigned char>(name[from]) & 0xC0) == 0x80) ++from;
  return "\u2026" + name.substr(from);
}

int digits(int value) { return value < 10 ? 1 : 1 + digits(value / 10); }

// The two counts of a cell or of the missing individuals, where they fit.
void add_counts(std::string& out, double centre_x, int top, const cell_count& c, bool light) {
  if (std::max(digits(c.cases), digits(c.ctrls)) > 5) return;  // the TSV and the tooltip have them
  const char* cls = light ? "n light" : "n";
  add(out, "<text class=\"%s\" x=\"%g\" y=\"%d\">%d</text><text class=\"%s\" x=\"%g\" y=\"%d\">%d</text>", cls,
      centre_x, top + 16, c.cases, cls, centre_x, top + 30, c.ctrls);
}

const char* class_label(cell_class c) {
  return c == cell_class::case_major ? "case-major" : c == cell_class::control_major ? "control-major" : "neither";
}

// A small cell's share of cases says little (1 case and no control is "only cases"):
// its shade grows with its size, to full strength at this many individuals.
constexpr int kFullShadeSize = 20;

// One cell: shaded by its share of cases and its size, framed when major, its counts
// inside.
void add_cell(std::string& out, int x, int y, const cell_count& c, cell_class kind, const std::string& genotypes,
              double study_share) {
  const int size = c.cases + c.ctrls;
  const bool empty = size == 0;
  const double offset =
      empty ? 0.0 : share_offset(c, study_share) * std::min(1.0, static_cast<double>(size) / kFullShadeSize);
  const std::string fill = empty ? "#ffffff" : colour(offset);
  // A frame's stroke lies inside the cell, so that neighbouring frames never touch.
  const double inset = kind == cell_class::other ? 0.5 : 1.5;
  add(out, "<rect class=\"%s\" x=\"%g\" y=\"%g\" width=\"%g\" height=\"%g\" fill=\"%s\">",
      kind == cell_class::case_major ? "cm" : kind == cell_class::control_major ? "tm" : "o", x + inset, y + inset,
      kCell - 2 * inset, kCell - 2 * inset, fill.c_str());
  add(out, "<title>%s: %d cases, %d controls, %s</title></rect>", genotypes.c_str(), c.cases, c.ctrls,
      class_label(kind));
  add_counts(out, x + kCell / 2.0, y, c, (offset < 0 ? -offset : offset) > 0.6);
}

// The picture of a set: a row of 3 cells for one SNP, a 3 x 3 grid for two, three
// grids (one per genotype of the first SNP) for three, and a 3 x 3 grid of grids
// (rows: the first SNP, columns: the second) for four; within a grid the rows are the
// genotypes of the last SNP but one and the columns those of the last SNP. The
// missing individuals stand in a grey box to the right.
void add_picture(std::string& out, const report_set& set, double study_share) {
  const set_cells& s = *set.cells;
  const int k = s.order;
  const int outer_rows = k == 4 ? 3 : 1;
  const int outer_cols = k >= 3 ? 3 : 1;
  const int inner_rows = k >= 2 ? 3 : 1;
  const int grid_w = kGridSide;
  const int grid_h = inner_rows == 3 ? kGridSide : kCell;
  const int left = (k == 4 ? kName + kOuter : 0) + (k >= 2 ? kDigits : 0);
  const int top = (k >= 3 ? kName + kOuter : 0) + kDigits;
  const int grids_w = outer_cols * grid_w + (outer_cols - 1) * kGap;
  const int grids_h = outer_rows * grid_h + (outer_rows - 1) * kGap;
  const int missing_x = left + grids_w + kGap;
  const int width = missing_x + kMissingWidth + 2;
  const int height = top + grids_h + 2;
  std::string label;
  for (const std::string& name : set.snps) label += (label.empty() ? "" : ", ") + name;
  add(out, "<svg class=\"cells\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" role=\"img\" aria-label=\"", width,
      height, width, height);
  out += "Genotype cells of " + esc(label) + "\">";

  // The genotype digits of each grid's columns and rows.
  for (int oc = 0; oc < outer_cols; ++oc)
    for (int col = 0; col < 3; ++col)
      add(out, "<text x=\"%d\" y=\"%d\" text-anchor=\"middle\">%d</text>",
          left + oc * (grid_w + kGap) + col * kPitch + kCell / 2, top - 4, col);
  if (k >= 2)
    for (int orow = 0; orow < outer_rows; ++orow)
      for (int row = 0; row < 3; ++row)
        add(out, "<text x=\"%d\" y=\"%d\" text-anchor=\"end\">%d</text>", left - 4,
            top + orow * (grid_h + kGap) + row * kPitch + kCell / 2 + 4, row);
  // Three or four SNPs: the SNP that picks a column of grids named over them, its
  // genotype over each; for four, the SNP that picks a row of grids likewise at the left.
  if (k >= 3) {
    add(out, "<text class=\"h\" x=\"%d\" y=\"%d\" text-anchor=\"middle\">", left + grids_w / 2, kName - 3);
    out += esc(fitted_name(set.snps[k == 3 ? 0 : 1], 56)) + "</text>";
    for (int oc = 0; oc < outer_cols; ++oc) {
      const int x0 = left + oc * (grid_w + kGap);
      add(out, "<text class=\"h\" x=\"%d\" y=\"%d\" text-anchor=\"middle\">%d</text>", x0 + grid_w / 2,
          kName + 12, oc);
      add(out, "<path class=\"span\" d=\"M%d %dh%d\"/>", x0, kName + kOuter - 2, grid_w);
    }
  }
  if (k == 4) {
    const int cy = top + grids_h / 2;
    add(out, "<text class=\"h\" x=\"%d\" y=\"%d\" text-anchor=\"middle\" transform=\"rotate(-90 %d %d)\">",
        kName - 3, cy, kName - 3, cy);
    out += esc(fitted_name(set.snps[0], 56)) + "</text>";
    for (int orow = 0; orow < outer_rows; ++orow) {
      const int y0 = top + orow * (grid_h + kGap);
      add(out, "<text class=\"h\" x=\"%d\" y=\"%d\" text-anchor=\"middle\">%d</text>", kName + 7,
          y0 + grid_h / 2 + 4, orow);
      add(out, "<path class=\"span\" d=\"M%d %dv%d\"/>", kName + kOuter - 2, y0, grid_h);
    }
  }

  // The cells.
  for (int c = 0; c < static_cast<int>(s.cells.size()); ++c) {
    int g[kLargestSet] = {0, 0, 0, 0};
    std::string genotypes;
    for (int i = 0; i < k; ++i) {
      g[i] = cell_genotype(c, i, k);
      genotypes += (i ? "," : "") + std::to_string(g[i]);
    }
    const int inner_row = k >= 2 ? g[k - 2] : 0;
    const int inner_col = g[k - 1];
    const int outer_row = k == 4 ? g[0] : 0;
    const int outer_col = k == 3 ? g[0] : k == 4 ? g[1] : 0;
    const int x = left + outer_col * (grid_w + kGap) + inner_col * kPitch;
    const int y = top + outer_row * (grid_h + kGap) + inner_row * kPitch;
    add_cell(out, x, y, s.cells[c], s.kinds[c], genotypes, study_share);
  }

  // The missing individuals, beside the cells.
  add(out, "<text x=\"%d\" y=\"%d\">missing</text>", missing_x, top - 4);
  add(out,
      "<rect class=\"miss\" x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\">"
      "<title>a missing genotype: %d cases, %d controls</title></rect>",
      missing_x, top, kMissingWidth, kCell, s.missing.cases, s.missing.ctrls);
  add_counts(out, missing_x + kMissingWidth / 2.0, top, s.missing, false);
  out += "</svg>";

  // Which SNP runs along which axis.
  static const char* const kAxes[kLargestSet][kLargestSet] = {
      {"columns"}, {"rows", "columns"}, {"grids", "rows", "columns"}, {"grid rows", "grid columns", "rows", "columns"}};
  out += "<div class=\"axes\">";
  for (int i = 0; i < k; ++i) out += std::string(i ? "; " : "") + kAxes[k - 1][i] + ": " + esc(set.snps[i]);
  out += "</div>";
}

std::string joined(const std::vector<std::string>& parts, const char* separator) {
  std::string out;
  for (const std::string& part : parts) out += (out.empty() ? "" : separator) + part;
  return out;
}

// "195&ndash;200", or "200" when every model holds as many.
std::string individuals_range(long least, long most) {
  return least == most ? std::to_string(most) : std::to_string(least) + "&ndash;" + std::to_string(most);
}

// A p-value or odds ratio as VELKinteractions.tsv writes it.
std::string number(double value) {
  if (std::isnan(value)) return "NA";
  char text[32];
  snprintf(text, sizeof text, "%g", value);
  return text;
}

// The anchor of a SNP's row in the table of SNPs, which the sets link to.
std::string snp_anchor(int64_t index) { return "snp-" + std::to_string(index); }

void add_study(std::string& out, const report_study& study, size_t sets) {
  out += "<section><h2>Study</h2><table>";
  add(out, "<tr><th>Individuals</th><td class=\"num\">%d</td></tr>", study.individuals);
  add(out, "<tr><th>Cases</th><td class=\"num\">%d</td></tr>", study.cases);
  add(out, "<tr><th>Controls</th><td class=\"num\">%d</td></tr>", study.controls);
  add(out, "<tr><th>SNPs</th><td class=\"num\">%ld</td></tr>", study.snps);
  out += "<tr><th>Files</th><td>";
  for (const report_study::listed_file& f : study.files) {
    out += esc(f.name);
    add(out, " (%s, SNPs %ld&ndash;%ld)<br>", f.kind, f.first, f.first + f.snps - 1);
  }
  out += "</td></tr>";
  add(out, "<tr><th>[DISEASEN]</th><td class=\"num\">%d</td></tr>", study.order);
  if (!study.level_factor_given)
    out += "<tr><th>[MULFACTR]</th><td class=\"num\">not set</td></tr>";
  else if (!study.level_lists)
    add(out, "<tr><th>[MULFACTR]</th><td class=\"num\">%d (not used by this search)</td></tr>", study.level_factor);
  else
    add(out, "<tr><th>[MULFACTR]</th><td class=\"num\">%d</td></tr>", study.level_factor);
  add(out, "<tr><th>[MAX_PVAL]</th><td class=\"num\">%g</td></tr>", study.corrected_p_bound);
  if (study.raw_p_bound < 0)
    out += "<tr><th>[MAXGWPVL]</th><td class=\"num\">none</td></tr>";
  else
    add(out, "<tr><th>[MAXGWPVL]</th><td class=\"num\">%g</td></tr>", study.raw_p_bound);
  add(out, "<tr><th>[ALPHA_RF]</th><td class=\"num\">%g</td></tr>", study.tail_level);
  // A focused search's rules, which decide what its corrected p-values count.
  if (study.sets_rule != 0)
    add(out, "<tr><th>[SETSRULE]</th><td class=\"num\">%d (%s, VELKsets.txt)</td></tr>", study.sets_rule,
        study.sets_rule == 1 ? "sets with a listed SNP" : "sets across the listed sets");
  if (study.min_distance > 0)
    add(out, "<tr><th>[MINDISTB]</th><td class=\"num\">%lld bp</td></tr>", study.min_distance);
  if (study.allowed_sets >= 0)
    add(out, "<tr><th>Sets the rules allow</th><td class=\"num\">%.0f</td></tr>", study.allowed_sets);
  add(out, "<tr><th>Sets in %s</th><td class=\"num\">%zu</td></tr>", esc(study.result_name).c_str(), sets);
  // What the tests' models hold: the covariates, and how many individuals.
  const report_models& models = study.models;
  if (models.covariates.empty())
    out += "<tr><th>Covariates</th><td>none (no VELKcovariates.txt)</td></tr>";
  else
    out += "<tr><th>Covariates</th><td>" + esc(joined(models.covariates, ", ")) + "</td></tr>";
  if (sets > 0)
    out += "<tr><th>Individuals in the models</th><td class=\"num\">" +
           individuals_range(models.set_least, models.set_most) + " per set<br>" +
           individuals_range(models.snp_least, models.snp_most) + " per SNP alone</td></tr>";
  if (study.permutation_ct > 0) {
    add(out, "<tr><th>Permutations B ([PERMUTES])</th><td class=\"num\">%lld</td></tr>", study.permutation_ct);
    add(out, "<tr><th>[PERMSEED]</th><td class=\"num\">%lld</td></tr>", study.permutation_seed);
    add(out, "<tr><th>Strata permuted within</th><td class=\"num\">%d</td></tr>", study.strata);
    add(out, "<tr><th>Smallest family-wise p-value, 1/(B+1)</th><td class=\"num\">%g</td></tr>",
        1.0 / (static_cast<double>(study.permutation_ct) + 1.0));
  }
  out += "</table></section>";
}

// Every SNP of the sets with the number of sets it is in, most first: a SNP whose own
// effect carries many sets stands at the top, and its statistic alone and main effect
// say how strong that effect is. With its position and counted allele, which a
// conversion may have swapped (a fileset's A1, a VCF's ALT); a text file's genotypes
// count what the file counts.
void add_hubs(std::string& out, const std::vector<report_set>& sets, const std::vector<reported_snp>& snps,
              const report_models& models) {
  struct hub {
    long sets = 0;
    const report_set* set = nullptr;  // one set it is in, and where
    size_t at = 0;
  };
  std::map<int64_t, hub> count;
  for (const report_set& set : sets)
    for (size_t i = 0; i < set.row->loci.size(); ++i) {
      hub& entry = count[set.row->loci[i]];
      ++entry.sets;
      entry.set = &set;
      entry.at = i;
    }
  std::vector<std::pair<int64_t, hub>> order(count.begin(), count.end());
  std::stable_sort(order.begin(), order.end(),
                   [](const auto& a, const auto& b) { return a.second.sets > b.second.sets; });
  out += "<section><h2>SNPs in the sets</h2><p class=\"note\">Each alone (VELKsnps.tsv): chi_SQ of its three "
         "cells, which a set of it must beat, and the main-effect p-value of its allele count";
  if (!models.covariates.empty()) out += " beside " + esc(joined(models.covariates, ", "));
  out += ".</p><div class=\"hubs\"><table><tr><th>SNP</th><th>position</th>"
         "<th title=\"A1 of a fileset, ALT of a VCF\">counted allele</th><th class=\"num\">index</th>"
         "<th class=\"num\">chi_SQ alone</th><th class=\"num\">P_value alone</th>"
         "<th class=\"num\">main-effect P</th><th class=\"num\">sets</th><th></th></tr>";
  const long most = order.empty() ? 1 : order[0].second.sets;
  for (const auto& [index, entry] : order) {
    const std::string& position = entry.set->positions[entry.at];
    const std::string& allele = entry.set->alleles[entry.at];
    out += "<tr id=\"" + snp_anchor(index) + "\"><td>" + esc(entry.set->snps[entry.at]) + "</td><td>" +
           (position.empty() ? "none" : esc(position)) + "</td><td>" +
           (allele.empty() ? "the file's genotype" : esc(allele)) + "</td>";
    add(out, "<td class=\"num\">%ld</td>", static_cast<long>(index));
    if (const reported_snp* alone = find_snp(snps, index))
      add(out, "<td class=\"num\">%f</td><td class=\"num\">%g</td><td class=\"num\">%s</td>", alone->chisq,
          alone->p_value, number(alone->main_effect.test.p).c_str());
    else
      out += "<td></td><td></td><td></td>";
    add(out,
        "<td class=\"num\">%ld</td><td><span class=\"bar\" style=\"width:%ldpx\"></span></td></tr>",
        entry.sets, std::max(1L, 120 * entry.sets / most));
  }
  out += "</table></div></section>";
}

// One legend for every picture: the colour scale, the frames and the counts.
void add_legend(std::string& out, double study_share) {
  out += "<section><h2>Legend</h2><svg class=\"legend\" width=\"340\" height=\"168\" viewBox=\"0 0 340 168\" "
         "role=\"img\" aria-label=\"Legend\"><defs><linearGradient id=\"share\">";
  add(out, "<stop offset=\"0\" stop-color=\"%s\"/><stop offset=\"%g\" stop-color=\"%s\"/>"
           "<stop offset=\"1\" stop-color=\"%s\"/>",
      colour(-1).c_str(), study_share, colour(0).c_str(), colour(1).c_str());
  out += "</linearGradient></defs><text x=\"0\" y=\"12\">share of cases in a cell</text>"
         "<rect x=\"0\" y=\"18\" width=\"240\" height=\"14\" fill=\"url(#share)\" stroke=\"#c8c8c8\"/>";
  add(out, "<text x=\"0\" y=\"46\">0</text><text x=\"%g\" y=\"46\" text-anchor=\"middle\">%.3g (study)</text>"
           "<text x=\"240\" y=\"46\" text-anchor=\"end\">1</text>",
      240 * study_share, study_share);
  const struct {
    const char* cls;
    const char* label;
    double inset;
  } frames[] = {{"cm", "case-major", 1.5}, {"tm", "control-major", 1.5}, {"o", "neither", 0.5}};
  for (int i = 0; i < 3; ++i) {
    const int x = i * 124;
    add(out, "<rect class=\"%s\" x=\"%g\" y=\"%g\" width=\"%g\" height=\"%g\" fill=\"%s\"/>", frames[i].cls,
        x + frames[i].inset, 58 + frames[i].inset, kCell - 2 * frames[i].inset, kCell - 2 * frames[i].inset,
        colour(0).c_str());
    add(out, "<text x=\"%d\" y=\"%d\">%s</text>", x + kCell + 4, 81, frames[i].label);
  }
  add_counts(out, kCell / 2.0, 104, cell_count{12, 3}, false);
  out += "<rect class=\"o\" x=\"0.5\" y=\"104.5\" width=\"37\" height=\"37\" fill=\"none\"/>"
         "<text x=\"44\" y=\"120\">cases</text><text x=\"44\" y=\"134\">controls</text>"
         "<text x=\"110\" y=\"120\">genotypes 0, 1, 2: copies of</text>"
         "<text x=\"110\" y=\"134\">the counted allele</text>";
  add(out, "<text x=\"0\" y=\"162\">fewer than %d individuals: paler, by cell size</text></svg></section>",
      kFullShadeSize);
}

// A set's two interaction p-values and its product term's odds ratio; a set whose
// additive test finds nothing beyond the SNPs' own effects is marked.
// The odds ratio only for pairs: a larger set has none.
void add_interaction(std::string& out, const interaction_result& t, bool odds_ratio) {
  out += "<td class=\"num\">" + number(t.additive.p);
  if (t.additive.p > kMainEffectsLevel) out += "<br><span class=\"weak\">main effects may explain it</span>";
  out += "</td><td class=\"num\">" + number(t.genotypic.p);
  if (odds_ratio) {
    out += "</td><td class=\"num\">" + number(t.odds_ratio);
    if (!std::isnan(t.odds_ratio))
      out += "<br>(" + number(t.odds_ratio_low) + "&ndash;" + number(t.odds_ratio_high) + ")";
  }
  const std::string note = interaction_note(t);
  if (!note.empty()) out += "<br><span class=\"weak\">" + note + "</span>";
  out += "</td>";
}

// A distance in base pairs as a reader takes it in: "800 bp", "12.3 kb", "2.5 Mb".
std::string distance_text(long long bp) {
  char text[32];
  if (bp < 1000) snprintf(text, sizeof text, "%lld bp", bp);
  else if (bp < 1000000) snprintf(text, sizeof text, "%.3g kb", static_cast<double>(bp) / 1e3);
  else snprintf(text, sizeof text, "%.3g Mb", static_cast<double>(bp) / 1e6);
  return text;
}

// A set's largest r² and least distance, marked when they reach the LD marks; every
// pair's numbers in the tooltip.
void add_ld(std::string& out, const report_set& set) {
  const set_ld& ld = *set.ld;
  std::string pairs;
  for (const snp_pair_ld& p : ld.pairs) {
    char r2[32];
    snprintf(r2, sizeof r2, "%.3g", p.r2);
    pairs += (pairs.empty() ? "" : "; ") + set.snps[p.first] + ", " + set.snps[p.second] + ": r\u00b2 " +
             (std::isnan(p.r2) ? "NA" : r2) + (p.distance >= 0 ? ", " + distance_text(p.distance) : "");
  }
  char r2[32];
  snprintf(r2, sizeof r2, "%.3g", ld.max_r2);
  out += "<td class=\"num\" title=\"" + esc(pairs) + "\">";
  if (ld.in_ld) out += "<span class=\"weak\">in LD</span><br>";
  out += std::string("r\u00b2 ") + (std::isnan(ld.max_r2) ? "NA" : r2) + "<br>";
  if (ld.min_distance >= 0) out += distance_text(ld.min_distance);
  else
    out += std::count_if(set.positions.begin(), set.positions.end(), [](const std::string& p) { return !p.empty(); }) < 2
               ? "no positions"
               : "other chromosomes";
  out += "</td>";
}

// What each p-value of the table tests, in one paragraph above it: none of them alone
// says whether a set is a finding.
void add_p_value_words(std::string& out, const report_study& study, bool family_wise, bool tail, bool tested) {
  out += "<p class=\"note\"><b>What the p-values test.</b> P_value, the chi-square tail of chi_SQ (2 degrees "
         "of freedom): the set alone, as if it were the only one tested, though the search chose it among many.";
  if (family_wise)
    add(out,
        " Family-wise: how often %lld searches of the data without effect (the classes permuted) found a set this "
        "strong anywhere, main effects included; where none did, it is at most 1/(B+1), written &le;.",
        study.permutation_ct);
  if (tail)
    out += " Where fewer than 10 did, &ldquo;tail &asymp;&rdquo; extrapolates below that from a fit to the "
           "largest maxima (FW_P_tail): an order of magnitude, more often too small than too large.";
  else
    out += " Family-wise p-values, for a set this strong anywhere in a search of data without effect, need "
           "[PERMUTES].";
  if (tested) {
    out += " Interaction: what the set adds beyond its SNPs' main effects";
    if (!study.models.covariates.empty()) out += " and " + esc(joined(study.models.covariates, ", "));
    out += ", by likelihood-ratio tests of logistic regressions (VELKinteractions.tsv): additive, the products "
           "of the allele counts; genotypic, the cells.";
  }
  out += "</p>";
}

void add_sets(std::string& out, const report_study& study, const std::vector<report_set>& sets,
              const std::optional<std::vector<family_wise_value>>& family_wise) {
  const double study_share = static_cast<double>(study.cases) / static_cast<double>(study.cases + study.controls);
  const bool tested = !sets.empty() && sets[0].interaction != nullptr;
  const bool linked = !sets.empty() && sets[0].ld != nullptr;
  const bool odds_ratio = !sets.empty() && sets[0].snps.size() == 2;
  add(out, "<section id=\"sets\"><h2>Sets</h2><p class=\"note\">In rank order, as in %s. ",
      esc(study.result_name).c_str());
  if (sets.size() > static_cast<size_t>(kPictureSets))
    add(out, "The first %d sets are drawn; VELKcells.tsv holds the cells of all %zu.", kPictureSets, sets.size());
  else
    out += "VELKcells.tsv holds the same cells as numbers.";
  if (linked)
    add(out,
        " A set is <span class=\"weak\">in LD</span> when two of its SNPs have r&sup2; &ge; %g or lie less than "
        "%lld kb apart: they may tag one signal. [MINDISTB] leaves close sets out of a search.",
        kLdSquaredCorrelation, kLdDistance / 1000);
  out += "</p>";
  const bool tail = family_wise && std::any_of(family_wise->begin(), family_wise->end(),
                                               [](const family_wise_value& fw) { return fw.tail_text != "NA"; });
  add_p_value_words(out, study, family_wise.has_value(), tail, tested);
  out += "<table class=\"sets\"><tr><th class=\"num\">rank</th><th>SNPs</th><th class=\"num\">chi_SQ</th>"
         "<th class=\"num\">P_value (chi-square tail)</th>";
  if (family_wise) out += "<th class=\"num\">family-wise p-value</th>";
  if (tested) {
    out += "<th class=\"num\">interaction P, additive</th><th class=\"num\">interaction P, genotypic</th>";
    if (odds_ratio) out += "<th class=\"num\">interaction OR (95 % CI)</th>";
  }
  if (linked) out += "<th class=\"num\">LD: largest r&sup2;, least distance</th>";
  out += "<th class=\"num\">case-major cells</th><th>cells</th></tr>";
  for (size_t r = 0; r < sets.size(); ++r) {
    const report_set& set = sets[r];
    add(out, "<tr><td class=\"num\">%zu</td><td class=\"snps\">", r + 1);
    for (size_t i = 0; i < set.snps.size(); ++i)
      out += std::string(i ? "<br>" : "") + "<a href=\"#" + snp_anchor(set.row->loci[i]) + "\">" +
             esc(set.snps[i]) + "</a>";
    out += "</td><td class=\"num\">" + esc(set.row->chisq_text) + "</td><td class=\"num\">" +
           esc(set.row->p_value_text) + "</td>";
    if (family_wise) {
      const family_wise_value& fw = (*family_wise)[r];
      out += "<td class=\"num\">" + std::string(fw.exceeding == 0 ? "\u2264 " : "") + esc(fw.text);
      // One digit: the tail is an extrapolation, good to an order of magnitude.
      if (fw.tail_text != "NA") add(out, "; tail \u2248 %.1g", std::strtod(fw.tail_text.c_str(), nullptr));
      out += "</td>";
    }
    if (tested) add_interaction(out, *set.interaction, odds_ratio);
    if (linked) add_ld(out, set);
    add(out, "<td class=\"num\">%d</td><td>", set.row->case_major_ct);
    if (set.cells != nullptr) add_picture(out, set, study_share);
    out += "</td></tr>\n";
  }
  out += "</table></section>";
}

}  // namespace

void write_html_report(FILE* stream, const report_study& study, const std::vector<report_set>& sets,
                       const std::vector<reported_snp>& snps,
                       const std::optional<std::vector<family_wise_value>>& family_wise) {
  const double study_share = static_cast<double>(study.cases) / static_cast<double>(study.cases + study.controls);
  std::string out;
  out += "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
         // An empty icon: a browser would otherwise fetch one beside the page.
         "<link rel=\"icon\" href=\"data:,\"><title>VELK report: " +
         esc(study.folder) + ", " + esc(study.written) + ", " + esc(study.version) + "</title><style>";
  out += kStyle;
  out += "</style></head><body>\n";
  add(out, "<h1>VELK report: %zu sets", sets.size());
  if (!sets.empty()) add(out, " of %zu SNP%s", sets[0].snps.size(), sets[0].snps.size() == 1 ? "" : "s");
  out += "</h1>\n<p class=\"sub\">" + esc(study.folder) + ", " + esc(study.written) + ", " + esc(study.version) +
         "</p>\n<div class=\"top\">";
  add_study(out, study, sets.size());
  add_hubs(out, sets, snps, study.models);
  add_legend(out, study_share);
  out += "</div>\n";
  add_sets(out, study, sets, family_wise);
  out += "\n</body></html>\n";
  fwrite(out.data(), 1, out.size(), stream);
}

}  // namespace velk
