#!/usr/bin/env bash
# Checks Windows exes against the oldest Windows the tool runs on, Windows XP (5.1; the
# 64-bit exes XP x64, 5.2):
# their PE headers must name that version, so an older Windows refuses them plainly, and
# every function they import must be one that version has. Each import is named in a C file
# compiled with the mingw-w64 headers set to that version, which leave out what came later.
#
#   windows_imports_test.sh OBJDUMP CC EXE...
#
# OBJDUMP and CC are the build's mingw-w64 objdump and C compiler (they know its width).
set -euo pipefail
export LC_ALL=C

if [ $# -lt 3 ]; then
  echo "usage: $0 OBJDUMP CC EXE..." >&2
  exit 2
fi
objdump=$1 cc=$2
shift 2


# Imports no public header declares, and why each is there on every Windows the tool runs
# on. They are msvcrt.dll's start-up functions, called by mingw-w64's own start-up code,
# and in msvcrt.dll since Windows NT 4.
declare -A undeclared=(
  [__getmainargs]="the command line as argc and argv"
  [__initenv]="the environment handed to main"
  [__p__commode]="the files' default commit mode (32-bit start-up)"
  [_commode]="the files' default commit mode (64-bit start-up)"
  [__set_app_type]="console or window program, for the run-time's messages"
  [__setusermatherr]="the handler of maths errors"
  [_amsg_exit]="the run-time's fatal start-up message"
  [_initterm]="runs the static constructors"
  [_lock]="the run-time's own locks, around atexit"
  [_unlock]="the run-time's own locks, around atexit"
)

failures=0
fail() {
  echo "windows imports: $*" >&2
  failures=$((failures + 1))
}

# The value of one field of the PE optional header, as objdump prints it.
header_field() {  # headers field
  awk -v field="$2" '$1 == field { print $2; exit }' <<<"$1"
}

check_exe() {
  local exe=$1 headers name
  headers=$("$objdump" -p "$exe") || { fail "$exe: objdump cannot read it"; return; }
  local oldest=5.1 winnt=0x0501  # Windows XP
  if grep -q "file format pei-x86-64" <<<"$headers"; then oldest=5.2 winnt=0x0502; fi
  local os subsystem
  os="$(header_field "$headers" MajorOSystemVersion).$(header_field "$headers" MinorOSystemVersion)"
  subsystem="$(header_field "$headers" MajorSubsystemVersion).$(header_field "$headers" MinorSubsystemVersion)"
  [ "$os" = "$oldest" ] || fail "$exe: its header names OS version $os, not $oldest"
  [ "$subsystem" = "$oldest" ] || fail "$exe: its header names subsystem version $subsystem, not $oldest"

  # "DLL Name: KERNEL32.dll", then one line per function: tab, address, hint, name.
  local imports
  imports=$(awk '/^\tDLL Name:/ { dll = 1; next }
                 dll && /^\t[0-9a-f]+\t/ { print $NF }
                 /^$/ { dll = 0 }' <<<"$headers" | sort -u)
  [ -n "$imports" ] || { fail "$exe: no imports found"; return; }

  local source="$work/imports.c" count=0
  {
    echo "#include <windows.h>"
    for header in commctrl.h commdlg.h shellapi.h shlobj.h objbase.h stdio.h stdlib.h \
      string.h setjmp.h signal.h locale.h io.h fcntl.h process.h errno.h wchar.h; do
      echo "#include <$header>"
    done
    # A bare name, as some headers make their variables macros: undeclared, it is an error.
    echo "void imports(void) {"
    while read -r name; do
      [ -n "${undeclared[$name]+known}" ] && continue
      echo "  (void)($name);"
      count=$((count + 1))
    done <<<"$imports"
    echo "}"
  } >"$source"
  local errors
  if ! errors=$("$cc" -fsyntax-only -D_WIN32_WINNT=$winnt -DWINVER=$winnt \
    -DNTDDI_VERSION=${winnt}0000 "$source" 2>&1); then
    local newer
    newer=$(grep -oE "'[A-Za-z0-9_]+' undeclared" <<<"$errors" | cut -d"'" -f2 | sort -u |
      paste -sd ' ' || true)
    fail "$exe imports what Windows $oldest does not have: ${newer:-$errors}"
  fi
  echo "windows imports: $(basename "$exe"): $count imports checked against Windows $oldest"
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for exe in "$@"; do check_exe "$exe"; done
if [ "$failures" -ne 0 ]; then exit 1; fi
