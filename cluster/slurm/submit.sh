#!/usr/bin/env bash
# Submits the encoding of one animation to Slurm in N parts: an array job of N
# tasks, one part each (velt-part.sbatch), and the join (velt-join.sbatch),
# which starts once every part task has succeeded and is cancelled when one
# fails rather than left pending. Prints the two job ids. The parts are
# written beside OUT, so OUT's directory and INPUT must be at the same path
# on every node; sbatch runs the jobs in the current directory.
#
# Usage: submit.sh INPUT OUT.velt MODE N [SBATCH_OPTION...]
#   the options (a partition, an account, a time limit) go to both jobs
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ $# -lt 4 ]; then
  echo "submit.sh: usage: submit.sh INPUT OUT.velt MODE N [SBATCH_OPTION...]" >&2
  exit 2
fi
input=$1 out=$2 mode=$3 count=$4
shift 4
case $mode in
  opaque | alpha | opaque12 | alpha12) ;;
  *) echo "submit.sh: mode '$mode' is none of opaque, alpha, opaque12, alpha12" >&2; exit 2 ;;
esac
if ! [[ $count =~ ^[1-9][0-9]{0,3}$ ]]; then
  echo "submit.sh: N '$count' is not a number of parts from 1 to 9999" >&2
  exit 2
fi
parts=$(sbatch --parsable "$@" --array="0-$((count - 1))" "$here/velt-part.sbatch" \
  "$input" "$out" "$mode" "$count")
parts=${parts%%;*}  # --parsable adds ;CLUSTER on a federation
join=$(sbatch --parsable "$@" --dependency="afterok:$parts" --kill-on-invalid-dep=yes \
  "$here/velt-join.sbatch" "$out" "$count")
join=${join%%;*}
echo "parts: $parts"
echo "join: $join"
