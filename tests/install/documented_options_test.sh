#!/usr/bin/env bash
# Every command that 'velt --help' lists and every option that a command's
# --help lists must be offered by the bash completion and described in the
# manual page, so that neither falls behind the program.
# Usage: documented_options_test.sh VELT COMPLETION_FILE MAN_PAGE
set -uo pipefail
velt=$1 man_page=$3
source "$2"

offered() {
  COMP_WORDS=("$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _velt
  printf ' %s ' "${COMPREPLY[@]}"
}

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

commands=$("$velt" --help | sed -n '/^Commands:/,/^$/s/^  \([a-z]\+\) .*/\1/p')
[[ -n $commands ]] || fail "no commands found in 'velt --help'"
for command in $commands; do
  [[ $(offered velt "") == *" $command "* ]] || fail "completion does not offer the command $command"
  grep -q "^\.SS \"velt $command " "$man_page" || fail "the manual page has no section for velt $command"
  options=$("$velt" "$command" --help | sed -n 's/^  \(-[a-z], \)\?--\([a-z0-9-]\+\).*/\2/p')
  [[ -n $options ]] || fail "no options found in 'velt $command --help'"
  for option in $options; do
    [[ $(offered velt "$command" --) == *" --$option "* ]] ||
      fail "completion does not offer --$option for velt $command"
    # the page writes each hyphen as \-
    grep -qF -- "\\-\\-${option//-/\\-}" "$man_page" ||
      fail "the manual page does not describe --$option"
  done
done

if ((failures > 0)); then
  echo "$failures command(s) or option(s) undocumented"
  exit 1
fi
echo "every command and option is completed and documented"
