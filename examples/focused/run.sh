#!/bin/sh
# The focused searches of the manual's worked examples, each in a folder of its own
# under DIR (default: focused-examples), on the study make_study.py writes there:
#
#   examples/focused/run.sh [DIR] [VELK]      # VELK: default build/velk
#
# Each folder keeps its VELKparameters.txt, VELKsets.txt, console (console.txt) and
# VELKResult.txt; the script prints the line that counts the sets searched and the
# result's best rows.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
dir=${1:-focused-examples}
velk=${2:-$here/../../build/velk}
case $velk in /*) ;; *) velk=$(pwd)/$velk ;; esac
mkdir -p "$dir"
cd "$dir"
python3 "$here/make_study.py" study

# example NAME PARAMETERS [SETS]: a folder with the study, its parameters and sets file.
example() {
  rm -rf "$1"
  mkdir "$1"
  ln -s ../study/focused.bed ../study/focused.bim ../study/focused.fam "$1"/
  echo focused.bed > "$1/VELKinputfiles.txt"
  printf '%b' "$2" > "$1/VELKparameters.txt"
  if [ $# -gt 2 ]; then printf '%b' "$3" > "$1/VELKsets.txt"; fi
  (cd "$1" && "$velk" 10 > console.txt 2>&1) || true
  echo "== $1"
  grep -E '^Sets allowed|^Warning: the result' "$1/console.txt" || true
  head -4 "$1/VELKResult.txt" 2>/dev/null || true
}
pairs='[DISEASEN]\t2\n[ALPHA_RF]\t0.05\n[MAX_PVAL]\t0.05\n'
genes="GENE1\n$(seq 600 639 | sed 's/^/rs/; s/$/\\n/' | tr -d '\n')END\n\nGENE2\n$(seq 3200 3239 | sed 's/^/rs/; s/$/\\n/' | tr -d '\n')END\n"

example genome "$pairs"
example hit "$pairs[SETSRULE]\t1\n" 'HIT\nrsHIT\nEND\n'
example genes "$pairs[SETSRULE]\t2\n" "$genes"
example apart "$pairs[MINDISTB]\t50000\n"
