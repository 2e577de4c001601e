#include "run/command_line.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace velk {

namespace {

// After the usage lines, which name the program. One line per key, file and variable.
constexpr const char* kHelp =
    "\n"
    "Searches a case/control study for the TOP_K best sets of one to four SNPs whose\n"
    "joint genotypes separate cases from controls (major-cell chi-square statistics).\n"
    "\n"
    "Reads from the folder it runs in:\n"
    "  VELKinputfiles.txt   the genotype files in order: text, PLINK .bed, VCF, BCF\n"
    "  VELKphenotypes.txt   VCF/BCF classes: [FID] IID STATUS (2 case, 1 control)\n"
    "  VELKstrata.txt       optional, with [PERMUTES]: the strata to permute within\n"
    "  VELKsets.txt         with [SETSRULE]: sets of SNPs in PLINK's .set format\n"
    "  VELKparameters.txt   one key per line, from the first column, then its value:\n"
    "    [DISEASEN]  order of the sets, 1 to 4 (required)\n"
    "    [ALPHA_RF]  tail level of the major-cell thresholds, e.g. 0.05\n"
    "    [MULFACTR]  orders 3 and 4: sets kept per level, x TOP_K\n"
    "    [MAX_PVAL]  bound on the corrected p-value (default 0.08)\n"
    "    [MAXGWPVL]  bound on the raw p-value (default none)\n"
    "    [PERMUTES]  B searches on permuted classes, for family-wise p-values\n"
    "    [PERMSEED]  the seed of the permutations\n"
    "    [EXHAUSTV]  1: orders 3 and 4 score every set instead of growing them\n"
    "    [SETSRULE]  1: sets with a SNP of VELKsets.txt; 2: sets across its sets\n"
    "    [MINDISTB]  no two SNPs of a set closer on a chromosome (base pairs)\n"
    "  VELKcheckpoint       left by a stopped run: the same command resumes from it\n"
    "Writes there:\n"
    "  VELKResult.txt       the sets: SNP indices, chi_SQ, P_value, #Major_cells\n"
    "  VELKpermutations.txt with [PERMUTES]: each set's family-wise p-values\n"
    "  VELKpermutation_maxima.txt  with [PERMUTES]: each permutation's maximum\n"
    "  VELKpermutation_tail.txt    with [PERMUTES]: the fit of the maxima's tail\n"
    "  VELKcheckpoint       a long run's state; removed when it ends\n"
    "  VELKrun.json         how the result was made: program, parameters, study, times\n"
    "  VELKexcluded.txt     the individuals left out (.fam phenotype 0 or -9, ...)\n"
    "Environment:\n"
    "  VELK_CHECKPOINT_SECONDS  seconds between checkpoints (default 600; 0: none)\n"
    "  VELK_PROGRESS            1: progress lines on standard error; 0: none\n"
    "  VELK_STRICT              1: a warning about VELKparameters.txt refuses the run\n"
    "  OMP_NUM_THREADS          threads of the search (default: every core)\n"
    "\n"
    "A failed run leaves an earlier VELKResult.txt as it was. velk-names prints the\n"
    "result with SNP names, velk-report draws the cells of its sets.\n"
    "Exit status: 0 complete run; 1 input files not loaded, or a parameter warning\n"
    "under VELK_STRICT; 130, 143 stopped by SIGINT, SIGTERM after a last checkpoint\n"
    "(run again to resume); 255 wrong command line, unusable parameters, memory\n"
    "exhausted, numerical error, a file that cannot be written, or velk started as\n"
    "several copies by an MPI launcher (use velk-mpi).\n"
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

void print_help(const char* program) {
  // velk-mpi runs under a launcher; its help says so in its first line.
  if (strcmp(program, "velk-mpi") == 0)
    printf("Usage: mpirun -n RANKS velk-mpi TOP_K\n"
           "       velk-mpi --help\n"
           "\n"
           "velk on the ranks of an MPI job: the same files, console and result as velk.\n");
  else
    printf("Usage: %s TOP_K\n       %s --help\n", program, program);
  fputs(kHelp, stdout);
}

}  // namespace velk
