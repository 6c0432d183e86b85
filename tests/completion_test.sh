#!/usr/bin/env bash
# wza's bash completion, sourced as bash-completion would: what it offers for representative
# command lines in a folder holding archives, another file and a folder; and, judged by the
# built wza's own parser, that every option it offers for a command is one wza takes there,
# and every option wza's help names and wza takes for a command is offered for it.
# Usage: completion_test.sh WZA COMPLETION_FILE MAKE_SAMPLE_ARCHIVE
set -uo pipefail
export LC_ALL=C
wza=$(realpath "$1")
completion=$(realpath "$2")
make_archive=$(realpath "$3")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
"$make_archive" a.big >/dev/null
: >B.WZA
: >c.txt
mkdir folder

source "$completion"
function=$(complete -p wza | sed -n 's/.* -F \([^ ]*\) .*/\1/p')
failures=0

fail() {
  echo "completion: $*" >&2
  failures=$((failures + 1))
}

# What is offered for "wza WORDS...", the cursor at the end of the last word (which may be
# empty), sorted on one line.
offered() {
  COMP_WORDS=(wza "$@")
  COMP_CWORD=$#
  COMP_LINE="wza $*"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  "$function" wza "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  if ((${#COMPREPLY[@]} > 0)); then printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd ' '; fi
}

expect() {  # what is offered, then the words
  local expected=$1 got
  shift
  got=$(offered "$@")
  [ "$got" = "$expected" ] || fail "wza $* <Tab>: expected '$expected', got '$got'"
}

archives='B.WZA a.big folder'  # folders too, to go into
expect '--help --version -h diff extract list mount pack test' ''
expect 'extract' ex
expect '--help --json --names --quiet' list --
expect "$archives" list ''
expect "$archives" extract -j 2 a.big -q ''
expect 'folder' extract -d ''
expect "$archives" extract --changed-from ''
expect "$archives" diff -i '*.dds' a.big ''
expect "$archives" mount --names cp1252 ''
expect 'folder' mount --names = cp1252 a.big ''
expect '' mount a.big folder ''
expect 'folder' pack ''
expect "$archives" pack --like ''
expect '1 2 4' pack --version ''
expect '17 20 22' pack --record =
expect '' list -- -

# Code pages: iconv's names, in the letter case typed, each one wza takes.
lower=$(offered list --names cp125)
upper=$(offered test --names = CP125)
[[ " $lower " == *" cp1252 "* ]] || fail "--names cp125: no cp1252 in '$lower'"
[[ " $upper " == *" CP1252 "* ]] || fail "--names=CP125: no CP1252 in '$upper'"
[[ " $(offered extract --names utf) " == *" utf-8 "* ]] || fail "--names utf: no utf-8"
for page in $lower $upper; do
  "$wza" list -q --names "$page" a.big >/dev/null 2>&1 || fail "wza list --names $page fails"
done

# Whether wza takes OPTION for COMMAND: alone it may lack its value or the operands, but is
# not unknown.
takes() {  # command, option
  local said
  said=$("$wza" "$1" "$2" 2>&1 >/dev/null </dev/null)
  [[ $said != *"unknown option"* && $said != *"unknown command"* ]]
}

for command in list test extract mount pack diff; do
  offers=$(offered "$command" -)
  for option in $offers; do
    takes "$command" "$option" || fail "offers $option for $command, which wza does not take"
  done
  named=$({ "$wza" --help; "$wza" "$command" --help 2>/dev/null; } |
    sed -n 's/^  \(-[^ ].*\)/\1/p' | sed 's/  .*//' | grep -o -- '-[^ ,]*' | sort -u)
  for option in $named; do
    if [[ " $offers " != *" $option "* ]] && takes "$command" "$option"; then
      fail "does not offer $option for $command, which wza --help names and wza takes"
    fi
  done
done

if [ "$failures" -ne 0 ]; then
  echo "completion: $failures problem(s)" >&2
  exit 1
fi
echo "completion: commands, options, archives, folders and code pages as wza takes them"
