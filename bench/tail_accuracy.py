#!/usr/bin/env python3
"""The tail approximation against many permutations: on small pair studies with weak
planted interactions, FW_P_tail from B = 200 permutations (or B_SMALL) against the
empirical FW_P_value from B = 20,000 (the same seed, so the first 200 permutations are
the same).

    bench/tail_accuracy.py path/to/velk [STUDIES] [B_LARGE] [B_SMALL]

For the sets whose empirical p-value lies between 1e-4 and 1e-2, prints how often the
tail estimate is within a factor of 2 of it (the goal: 80 % of them), and where it is
NA. Every run uses one thread."""
import os, random, subprocess, sys, tempfile

INDIVIDUALS, SNPS, TOP_K = 400, 20, 30


def write_study(folder, seed):
    """Three planted interactions of graded strength: for each of the pairs of SNPs
    (3, 7), (10, 14) and (16, 19), cases are more likely where exactly one of the two
    carries the allele; so the best sets spread over p-values from 1e-5 to 0.1."""
    rng = random.Random(seed)
    effects = [0.09 + 0.003 * (seed % 10), 0.11 + 0.003 * (seed % 7), 0.13 + 0.003 * (seed % 5)]
    pairs = [(3, 7), (10, 14), (16, 19)]
    rows = []
    for _ in range(INDIVIDUALS):
        g = [(rng.random() < 0.3) + (rng.random() < 0.3) for _ in range(SNPS)]
        share = 0.5
        for (a, b), effect in zip(pairs, effects):
            share += effect if (g[a] > 0) != (g[b] > 0) else -effect
        case = rng.random() < share
        rows.append(' '.join([str(int(case))] + [str(x) for x in g]))
    with open(os.path.join(folder, 'geno.txt'), 'w') as f:
        f.write('\n'.join(rows) + '\n')
    with open(os.path.join(folder, 'VELKinputfiles.txt'), 'w') as f:
        f.write('geno.txt\n')


def run(velk, folder, permutations, seed):
    """The rows of VELKpermutations.txt by loci: FW_P_value, Exceeding, FW_P_tail."""
    with open(os.path.join(folder, 'VELKparameters.txt'), 'w') as f:
        f.write('[DISEASEN]\t2\n[ALPHA_RF]\t0.05\n[MAXGWPVL]\t1\n[PERMUTES]\t%d\n[PERMSEED]\t%d\n'
                % (permutations, seed))
    env = dict(os.environ, OMP_NUM_THREADS='1')
    subprocess.run([velk, str(TOP_K)], cwd=folder, env=env, check=True, stdout=subprocess.DEVNULL)
    rows = {}
    with open(os.path.join(folder, 'VELKpermutations.txt')) as f:
        next(f)
        for line in f:
            fields = line.rstrip('\n').split('\t')
            rows[tuple(fields[:2])] = (float(fields[4]), int(fields[5]), fields[6])
    return rows


def main():
    velk = os.path.abspath(sys.argv[1])
    studies = int(sys.argv[2]) if len(sys.argv) > 2 else 20
    large_b = int(sys.argv[3]) if len(sys.argv) > 3 else 20000
    small_b = int(sys.argv[4]) if len(sys.argv) > 4 else 200
    compared = agreeing = missing = 0
    ratios = []
    for seed in range(1, studies + 1):
        with tempfile.TemporaryDirectory() as folder:
            write_study(folder, seed)
            many = run(velk, folder, large_b, seed)
            few = run(velk, folder, small_b, seed)
            for loci, (p, _, _) in sorted(many.items(), key=lambda item: item[1][0]):
                if not 1e-4 <= p <= 1e-2:
                    continue
                compared += 1
                tail = few[loci][2]
                if tail == 'NA':
                    missing += 1
                    print('study %2d, set %s: empirical %.3g, tail NA (Exceeding %d of %d)'
                          % (seed, ' '.join(loci), p, few[loci][1], small_b))
                    continue
                ratio = float(tail) / p
                ratios.append(ratio)
                agreeing += 0.5 <= ratio <= 2
                print('study %2d, set %s: empirical %.3g, tail %.3g, ratio %.2f'
                      % (seed, ' '.join(loci), p, float(tail), ratio))
    ratios.sort()
    median = ratios[len(ratios) // 2] if ratios else float('nan')
    print('Tail of B=%d against B=%d, %d studies: %d sets with p in [1e-4, 1e-2]; within a factor of 2: %d '
          '(%.0f %%); NA: %d; median ratio tail/empirical %.2f'
          % (small_b, large_b, studies, compared, agreeing, 100.0 * agreeing / max(compared, 1), missing, median))


if __name__ == '__main__':
    main()
