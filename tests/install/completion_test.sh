#!/usr/bin/env bash
# Runs velt's bash completion on command lines typed so far, in a directory
# of known files, and checks the words it offers. Usage: completion_test.sh
# COMPLETION_FILE
set -uo pipefail
source "$1"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
touch a.velt b.PNG c.png d.gif notes.txt part0
mkdir sub

# Completes the last word of a line given as words ('=' as a word of its
# own, as bash splits "--mode=al"); prints the candidates sorted.
offered() {
  read -ra COMP_WORDS <<<"$1"
  [[ $1 == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _velt
  printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort | tr '\n' ' ' | sed 's/ $//'
}

failures=0
# command line so far | words offered | why
while IFS='|' read -r line expected why; do
  [[ -z $line || $line == \#* ]] && continue
  got=$(offered "$line")
  if [[ $got != "$expected" ]]; then
    echo "FAIL: '$line' ($why): offered '$got', expected '$expected'"
    failures=$((failures + 1))
  fi
done <<'CASES'
velt |--help --version compare decode encode info join|commands first
velt en|encode|a command by its prefix
velt encode -|--fps --help --jobs --mode --pad --part --quiet --raw --tolerance|encode's options
velt compare --|--heatmap --help --json --mode --pad --raw|compare's options
velt bogus |||nothing for an unknown command
velt encode --mode |alpha alpha12 opaque opaque12|the modes
velt decode --mode = al|alpha alpha12|a mode after '='
velt info --record-size |12 8|record sizes
velt encode --fps |||a number is not completed
velt encode |b.PNG c.png d.gif sub|frames: PNG and GIF files and directories
velt encode c.png |a.velt sub|the output: a VELT file
velt encode --fps 20 -q c.png |a.velt sub|option values are not arguments
velt encode --fps = 20 c.png |a.velt sub|nor values after '='
velt encode --part 0/2 c.png |a.velt b.PNG c.png d.gif notes.txt part0 sub|a part file: any name
velt info |a.velt sub|a VELT file to read
velt join out.velt |a.velt b.PNG c.png d.gif notes.txt part0 sub|the parts: any name
velt decode a.velt |a.velt b.PNG c.png d.gif notes.txt part0 sub|an output pattern or raw file
velt compare a.velt |b.PNG c.png d.gif sub|the source frames
velt compare --heatmap |b.PNG c.png sub|a PNG file to write
velt decode -- a.velt --|||after '--' no options
CASES

if ((failures > 0)); then
  echo "$failures completion case(s) failed"
  exit 1
fi
echo "all completion cases pass"
