#!/usr/bin/env python3
"""Writes the study of the focused-search examples as a PLINK fileset, focused.bed,
.bim and .fam, into the folder given (default: the current one):

    python3 make_study.py DIR      # same seed, same files

1,000 individuals (500 cases, 500 controls) and 4,000 SNPs, 2,000 on each of
chromosomes 1 and 2, one every 5 kb. Genotypes follow Hardy-Weinberg proportions with
minor allele frequencies between 0.1 and 0.5, about 1 % missing. Three things are planted:

- rsHIT (chromosome 1, 2.5 Mb) raises the risk a little, by each minor allele.
- A variant that is not genotyped raises it too. It lies on the haplotypes that carry
  the minor alleles of both rs1500 and rs1502 (chromosome 1, 8.5 Mb, 10 kb apart), so
  that those two SNPs together tag it far better than either alone: one LD block.
- GENE1 is rs600 to rs639 (chromosome 1), GENE2 rs3200 to rs3239 (chromosome 2).
  Carriers of the minor allele at both rs615 and rs3222 are at higher risk; neither
  SNP does anything alone.

The .fam codes cases 2 and controls 1.
"""
import os
import random
import sys

SNPS, PER_CHROMOSOME, CASES, CONTROLS = 4000, 2000, 500, 500
HIT, BLOCK, PAIR = 300, (1500, 1502), (615, 3222)
HIT_RISK, UNTYPED_RISK, PAIR_RISK = 0.06, 0.4, 0.2  # added to a risk of 0.3
rng = random.Random(20261210)
maf = [rng.uniform(0.1, 0.5) for _ in range(SNPS)]
maf[HIT] = 0.3
maf[BLOCK[0]] = maf[BLOCK[1]] = 0.3
maf[PAIR[0]] = maf[PAIR[1]] = 0.35


def draw(p):
    return (rng.random() < p) + (rng.random() < p)


def person():
    g = [draw(maf[s]) for s in range(SNPS)]
    untyped = 0
    for s in BLOCK:
        g[s] = 0
    for _ in range(2):  # each haplotype
        a, b = rng.random() < maf[BLOCK[0]], rng.random() < maf[BLOCK[1]]
        g[BLOCK[0]] += a
        g[BLOCK[1]] += b
        untyped += a and b and rng.random() < 0.8
    risk = 0.3 + HIT_RISK * g[HIT] + UNTYPED_RISK * untyped + (PAIR_RISK if g[PAIR[0]] >= 1 and g[PAIR[1]] >= 1 else 0)
    case = rng.random() < risk
    for s in range(SNPS):
        if rng.random() < 0.01:
            g[s] = 9
    return case, g


def name(s):
    return "rsHIT" if s == HIT else "rs%d" % s


cases, controls = [], []
while len(cases) < CASES or len(controls) < CONTROLS:
    case, g = person()
    group, size = (cases, CASES) if case else (controls, CONTROLS)
    if len(group) < size:
        group.append(g)
people = [(2, g) for g in cases] + [(1, g) for g in controls]
rng.shuffle(people)

out = sys.argv[1] if len(sys.argv) > 1 else "."
os.makedirs(out, exist_ok=True)
with open(os.path.join(out, "focused.fam"), "w") as f:
    for i, (status, _) in enumerate(people):
        f.write("f%d i%d 0 0 0 %d\n" % (i, i, status))
with open(os.path.join(out, "focused.bim"), "w") as f:
    for s in range(SNPS):
        chromosome, place = 1 + s // PER_CHROMOSOME, 1_000_000 + 5_000 * (s % PER_CHROMOSOME)
        f.write("%d\t%s\t0\t%d\tA\tG\n" % (chromosome, name(s), place))
# SNP-major .bed: two bits per individual, 00 two copies of A (genotype 2), 10 one,
# 11 none, 01 missing.
code = {2: 0b00, 1: 0b10, 0: 0b11, 9: 0b01}
with open(os.path.join(out, "focused.bed"), "wb") as f:
    f.write(bytes([0x6C, 0x1B, 0x01]))
    for s in range(SNPS):
        row = bytearray((len(people) + 3) // 4)
        for d, (_, g) in enumerate(people):
            row[d // 4] |= code[g[s]] << (2 * (d % 4))
        f.write(bytes(row))
