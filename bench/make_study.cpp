// velk_make_study: writes a random study for the benchmarks.
//   velk_make_study DIR INDIVIDUALS SNPS [FILES] [ORDER] [--plink] [--missing RATE]
// Genotypes follow Hardy-Weinberg proportions with minor allele frequencies from 0.05
// to 0.5 and a share RATE missing (written as 9; default 0.01); cases and controls
// alternate. Studies that differ in RATE alone have the same genotypes where both have
// one. The SNP columns
// are split evenly over FILES files; VELKparameters.txt asks for ORDER loci (default 2)
// with [MULFACTR] 30 and [ALPHA_RF] 0.05. With --plink the same genotypes are also
// written as the binary fileset DIR/study.bed, .bim, .fam (genotype g = count of A1).
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  std::vector<std::string> args;
  bool plink = false;
  double missing = 0.01;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--plink")
      plink = true;
    else if (a == "--missing" && i + 1 < argc)
      missing = atof(argv[++i]);
    else
      args.push_back(a);
  }
  if (args.size() < 3 || args.size() > 5) {
    fprintf(stderr, "usage: velk_make_study DIR INDIVIDUALS SNPS [FILES] [ORDER] [--plink] [--missing RATE]\n");
    return 2;
  }
  const std::string dir = args[0];
  const long individuals = atol(args[1].c_str());
  const long snps = atol(args[2].c_str());
  const long files = args.size() > 3 ? atol(args[3].c_str()) : 1;
  const int order = args.size() > 4 ? atoi(args[4].c_str()) : 2;
  // SNP-major packed genotypes for the fileset: 2 bits per individual.
  const long bytes_per_snp = (individuals + 3) / 4;
  std::vector<unsigned char> bed(plink ? static_cast<size_t>(snps * bytes_per_snp) : 0, 0);
  std::mt19937_64 rng(20261208);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<double> maf(snps);
  for (double& m : maf) m = 0.05 + 0.45 * unit(rng);
  FILE* list = fopen((dir + "/VELKinputfiles.txt").c_str(), "w");
  if (list == nullptr) return 1;
  std::vector<char> line;
  for (long f = 0; f < files; ++f) {
    const long first = snps * f / files;
    const long last = snps * (f + 1) / files;
    const std::string name = "geno" + std::to_string(f) + ".txt";
    fprintf(list, "%s\n", name.c_str());
    FILE* out = fopen((dir + "/" + name).c_str(), "w");
    if (out == nullptr) return 1;
    std::mt19937_64 file_rng(rng());
    for (long d = 0; d < individuals; ++d) {
      line.clear();
      line.push_back(d % 2 == 0 ? '1' : '0');
      for (long s = first; s < last; ++s) {
        line.push_back(' ');
        const double u = static_cast<double>(file_rng() >> 11) * 0x1.0p-53;
        const double a = static_cast<double>(file_rng() >> 11) * 0x1.0p-53;
        const double b = static_cast<double>(file_rng() >> 11) * 0x1.0p-53;
        const int g = (a < maf[s]) + (b < maf[s]);
        line.push_back(u < missing ? '9' : static_cast<char>('0' + g));
        if (plink) {
          // .bed codes: 00 two A1 alleles, 10 one, 11 none, 01 missing.
          const unsigned code = u < missing ? 1u : g == 2 ? 0u : g == 1 ? 2u : 3u;
          bed[static_cast<size_t>(s * bytes_per_snp + d / 4)] |= static_cast<unsigned char>(code << (2 * (d % 4)));
        }
      }
      line.push_back('\n');
      fwrite(line.data(), 1, line.size(), out);
    }
    fclose(out);
  }
  fclose(list);
  if (plink) {
    FILE* b = fopen((dir + "/study.bed").c_str(), "wb");
    FILE* m = fopen((dir + "/study.bim").c_str(), "w");
    FILE* f = fopen((dir + "/study.fam").c_str(), "w");
    if (b == nullptr || m == nullptr || f == nullptr) return 1;
    const unsigned char magic[3] = {0x6C, 0x1B, 0x01};
    fwrite(magic, 1, 3, b);
    fwrite(bed.data(), 1, bed.size(), b);
    for (long s = 0; s < snps; ++s) fprintf(m, "1\tsnp%ld\t0\t%ld\tA\tB\n", s, s + 1);
    for (long d = 0; d < individuals; ++d) fprintf(f, "f%ld i%ld 0 0 0 %d\n", d, d, d % 2 == 0 ? 2 : 1);
    fclose(b);
    fclose(m);
    fclose(f);
  }
  FILE* params = fopen((dir + "/VELKparameters.txt").c_str(), "w");
  if (params == nullptr) return 1;
  fprintf(params, "[DISEASEN]\t%d\n[MULFACTR]\t30\n[ALPHA_RF]\t0.05\n[MAX_PVAL]\t0.1\n", order);
  fclose(params);
  return 0;
}
