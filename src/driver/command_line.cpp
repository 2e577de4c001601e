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
    "  VELKinputfiles.txt  the genotype files, in order: text files (status, then one\n"
    "                      genotype 0/1/2 per SNP on each line) and PLINK .bed files\n"
    "                      (with their .bim and .fam beside them)\n"
    "  VELKparameters.txt  one key per line, in the first column:\n"
    "                      [DISEASEN] order of the sets, 1 to 4 (required)\n"
    "                      [ALPHA_RF] tail level of the major cells, e.g. 0.05\n"
    "                      [MULFACTR] sets kept per level for orders 3 and 4, x TOP_K\n"
    "                      [MAX_PVAL] bound on the corrected p-value (default 0.08)\n"
    "                      [MAXGWPVL] bound on the raw p-value (default none)\n"
    "                      [EXHAUSTV] 1: orders 3 and 4 score every set, not greedily\n"
    "Writes VELKResult.txt there: the sets found, best first, with their statistic,\n"
    "p-value and number of case-major cells (velk-names prints them with SNP names).\n"
    "A failed run leaves an earlier VELKResult.txt as it was.\n"
    "\n"
    "Exit status: 0 complete run; 1 input files not loaded; 255 wrong command line,\n"
    "unusable parameters, memory exhausted or numerical error.\n"
    "\n"
    "The manual: man velk, man velk-names, and README.md in the source folder.\n";

}  // namespace

command_line parse_command_line(int argc, char** argv) {
  command_line line;
  if (argc != 2) return line;
  const char* arg = argv[1];
  if (strcmp(arg, "-h") == 0 || strcmp(arg, "--help") == 0) {
    line.kind = command_kind::help;
    return line;
  }
  // Read like strtol, as it always was: scripts pass "10abc" or " 10" and get 10.
  char* end = nullptr;
  line.top_k = strtol(arg, &end, 10);
  if (end != arg) line.kind = command_kind::search;
  return line;
}

void print_help() { fputs(kHelp, stdout); }

}  // namespace velk
