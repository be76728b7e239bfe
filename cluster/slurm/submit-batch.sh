#!/usr/bin/env bash
# Submits the encoding of many animations to Slurm: one array job, one task a
# FILE (velt-batch.sbatch), each written into OUT_DIR under its own name with
# .velt in place of its extension. Two files that would have one output name
# are refused before anything is submitted. Prints the job id.
#
# Usage: submit-batch.sh OUT_DIR MODE FILE... [-- SBATCH_OPTION...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ $# -lt 3 ]; then
  echo "submit-batch.sh: usage: submit-batch.sh OUT_DIR MODE FILE... [-- SBATCH_OPTION...]" >&2
  exit 2
fi
out_dir=$1 mode=$2
shift 2
files=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do
  files+=("$1")
  shift
done
[ $# -gt 0 ] && shift  # the --
declare -A seen=()
for file in "${files[@]}"; do
  name=$(basename -- "$file")
  name=${name%.*}.velt
  if [ -n "${seen[$name]:-}" ]; then
    echo "submit-batch.sh: $file and ${seen[$name]} would both be written to $out_dir/$name" >&2
    exit 2
  fi
  seen[$name]=$file
done
job=$(sbatch --parsable "$@" --array="0-$((${#files[@]} - 1))" "$here/velt-batch.sbatch" \
  "$out_dir" "$mode" "${files[@]}")
echo "batch: ${job%%;*}"
