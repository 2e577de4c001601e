#include "driver/command_line.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace velk {

namespace {

constexpr const char* kHelp =
    "Usage: velk TOP_K\n"
    "       velk --help\n"
    "\n"
    "Searches a case/control study for the TOP_K best sets of one to four SNPs whose\n"
    "joint genotypes separate cases from controls (major-cell chi-square statistics).\n"
    "\n"
    "Reads from the folder it runs in:\n"
    "  VELKinputfiles.txt   the genotype files, in order: text files (status, then one\n"
    "                       genotype 0/1/2 per SNP on each line), PLINK .bed files (with\n"
    "                       their .bim and .fam beside them), VCF and BCF files\n"
    "  VELKphenotypes.txt   the classes of VCF/BCF samples: IID STATUS or FID IID STATUS,\n"
    "                       2 case, 1 control, 0 or -9 none\n"
    "  VELKstrata.txt       optional: a stratum per individual; permutations shuffle the\n"
    "                       classes within strata\n"
    "  VELKparameters.txt   one key per line, in the first column:\n"
    "    [DISEASEN]  order of the sets, 1 to 4 (required)\n"
    "    [ALPHA_RF]  tail level of the major cells, e.g. 0.05\n"
    "    [MULFACTR]  sets kept per level for orders 3 and 4, x TOP_K\n"
    "    [MAX_PVAL]  bound on the corrected p-value (default 0.08)\n"
    "    [MAXGWPVL]  bound on the raw p-value (default none)\n"
    "    [PERMUTES]  searches repeated on permuted classes, for family-wise p-values\n"
    "    [PERMSEED]  the seed of the permutations\n"
    "    [EXHAUSTV]  1: orders 3 and 4 score every set instead of growing them\n"
    "Writes there:\n"
    "  VELKResult.txt       the sets found, best first, with their statistic, p-value\n"
    "                       and case-major cells (velk-names prints it with SNP names);\n"
    "                       a failed run leaves an earlier one as it was\n"
    "  VELKpermutations.txt each set's family-wise p-value, with [PERMUTES]\n"
    "  VELKpermutation_maxima.txt  each permutation's largest statistic\n"
    "  VELKcheckpoint       the state of a long run, removed when it ends; a run started\n"
    "                       again with the same inputs resumes from it\n"
    "Environment:\n"
    "  VELK_CHECKPOINT_SECONDS  seconds between checkpoints (default 600; 0: none)\n"
    "  VELK_PROGRESS            1: progress lines on standard error; 0: none\n"
    "  OMP_NUM_THREADS          threads of the search (default: every core)\n"
    "\n"
    "Exit status: 0 complete run; 1 input files not loaded; 255 wrong command line,\n"
    "unusable parameters, memory exhausted or numerical error.\n"
    "\n"
    "The manual: man velk, man velk-names, man velk-report, and README.md.\n";

}  // namespace

command_line parse_command_line(int argc, char** argv) {
  command_line line;
  if (argc != 2) return line;
  const char* arg = argv[1];
  if (strcmp(arg, "-h") == 0 || strcmp(arg, "--help") == 0) {
    line.kind = command_kind::help;
    return line;
  }
  // Read like strtol, because scripts rely on it: they pass "10abc" or " 10" and get 10.
  char* end = nullptr;
  line.top_k = strtol(arg, &end, 10);
  if (end != arg) line.kind = command_kind::search;
  return line;
}

void print_help() { fputs(kHelp, stdout); }

}  // namespace velk
