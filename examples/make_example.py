#!/usr/bin/env python3
"""Writes the bundled example study: 400 individuals (200 cases, 200 controls), 40 SNPs
in two genotype files, with a planted three-locus interaction among SNPs 5, 17 and 31
(0-based study indices; SNP 31 is column 7 of the second file).

    python3 make_example.py      # run inside examples/; same seed, same files

Genotypes follow Hardy-Weinberg proportions with minor allele frequencies between 0.2
and 0.5, about 1 % missing (written as 9). The three planted SNPs have a minor allele
frequency of 0.5; individuals carrying a minor allele at all three have a risk of 0.8,
everyone else 0.25; nothing else matters.
"""
import random

rng = random.Random(20261208)
SNPS, FIRST_FILE_SNPS, CASES, CONTROLS = 40, 25, 200, 200
PLANTED = (5, 17, 31)
maf = [rng.uniform(0.2, 0.5) for _ in range(SNPS)]
for s in PLANTED:
    maf[s] = 0.5


def person():
    g = [(rng.random() < maf[s]) + (rng.random() < maf[s]) for s in range(SNPS)]
    at_risk = all(g[s] >= 1 for s in PLANTED)
    case = rng.random() < (0.8 if at_risk else 0.25)
    for s in range(SNPS):
        if rng.random() < 0.01:
            g[s] = 9
    return case, g


cases, controls = [], []
while len(cases) < CASES or len(controls) < CONTROLS:
    case, g = person()
    (cases if case else controls).append(g) if len(cases if case else controls) < (CASES if case else CONTROLS) else None

rows = [(1, g) for g in cases] + [(0, g) for g in controls]
rng.shuffle(rows)
with open("study_part1.txt", "w") as a, open("study_part2.txt", "w") as b:
    for status, g in rows:
        a.write(" ".join(map(str, [status] + g[:FIRST_FILE_SNPS])) + "\n")
        b.write(" ".join(map(str, [status] + g[FIRST_FILE_SNPS:])) + "\n")
with open("VELKinputfiles.txt", "w") as f:
    f.write("study_part1.txt\nstudy_part2.txt\n")
with open("VELKparameters.txt", "w") as f:
    f.write("[DISEASEN]\t3\n[MULFACTR]\t10\n[MAX_PVAL]\t0.1\n[ALPHA_RF]\t0.05\n")
