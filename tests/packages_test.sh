#!/usr/bin/env bash
# Checks the release packages scripts/package.sh put in dist/: the Debian package's fields,
# dependencies and files (the bash completion among them); that it installs into a
# throw-away root, runs there and is removed without a trace; and that each Windows zip
# holds both exes, built for its width, carrying their version resource and fit for the
# oldest Windows they claim, with the papers beside them.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"
cd "$ROOT"

version=$(sed -n 's/^project(WzaUnpacker VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
  echo "packages: $*" >&2
  failures=$((failures + 1))
}

expect_same() {  # what, expected, actual
  if [ "$2" != "$3" ]; then fail "$1: expected '$2', got '$3'"; fi
}

# dpkg wants root for --root too; fakeroot stands in when the tests run as a user.
as_root=()
if [ "$(id -u)" -ne 0 ]; then as_root=(fakeroot); fi
export PATH="$PATH:/usr/sbin:/sbin"

check_deb_metadata() {
  local deb=$1
  expect_same "Package" wza "$(dpkg-deb -f "$deb" Package)"
  expect_same "Version" "$version" "$(dpkg-deb -f "$deb" Version)"
  expect_same "Architecture" amd64 "$(dpkg-deb -f "$deb" Architecture)"
  # Versioned runtime libraries, as dpkg-shlibdeps writes them, and all present here.
  local depends
  depends=$(dpkg-deb -f "$deb" Depends)
  if [[ $depends != *"libc6 (>="* || $depends != *"zlib1g (>="* ]]; then
    fail "Depends should name libc6 and zlib1g with versions: '$depends'"
  fi
  dpkg-checkbuilddeps -d "$depends" /dev/null || fail "Depends not met on this system: $depends"

  local files
  files=$(printf '%s\n' ./usr/bin/wza ./usr/share/man/man1/wza.1.gz \
    ./usr/share/bash-completion/completions/wza ./usr/share/doc/wza/README.md \
    ./usr/share/doc/wza/CHANGELOG.md ./usr/share/doc/wza/copyright)
  expect_same "files in the package" "$(sort <<<"$files")" \
    "$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)"
  local owners
  owners=$(dpkg-deb -c "$deb" | awk '{print $2}' | sort -u)
  expect_same "owners in the package" root/root "$owners"
}

check_deb_install() {
  local deb=$1 root="$work/root"
  mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
  : >"$root/var/lib/dpkg/status"
  # The dependencies were checked against this system above; the empty root has none.
  "${as_root[@]}" dpkg --root="$root" --force-depends -i "$deb" >/dev/null 2>&1 ||
    { fail "dpkg could not install $deb"; return; }

  local wza="$root/usr/bin/wza"
  expect_same "wza --version" "wza $version" "$("$wza" --version)"
  build/native/bin/make_sample_archive "$work/sample.wza" >/dev/null
  local listing
  listing=$("$wza" list "$work/sample.wza") || fail "installed wza list failed"
  [[ $listing == *"data/art/ui/logo.raw"* ]] || fail "installed wza list: $listing"
  local warnings
  warnings=$(zcat "$root/usr/share/man/man1/wza.1.gz" | groff -man -Tutf8 -ww -z 2>&1)
  expect_same "manual page warnings" "" "$warnings"
  # Sourced as bash-completion does when wza is first completed: it must complete wza.
  bash -c 'source "$1" && complete -p wza' _ "$root/usr/share/bash-completion/completions/wza" \
    >/dev/null 2>&1 || fail "the installed bash completion does not complete wza"

  "${as_root[@]}" dpkg --root="$root" --purge wza >/dev/null 2>&1 || fail "dpkg could not remove wza"
  expect_same "left after removal" "" "$(find "$root" -mindepth 1 -path "$root/var" -prune -o -print)"
}

# One Windows zip: its files, the exes' kind and their version resource.
check_zip() {
  local bits=$1 machine pe toolchain
  case $bits in
    win32) pe="PE32 executable" machine="Intel 80386" toolchain=i686-w64-mingw32 ;;
    *) pe="PE32+ executable" machine="x86-64" toolchain=x86_64-w64-mingw32 ;;
  esac
  local top="WzaUnpacker-$version-$bits"
  local zip="dist/$top.zip"
  [ -f "$zip" ] || { fail "$zip is missing"; return; }
  expect_same "files in $zip" \
    "$(printf "$top/%s\n" CHANGELOG.md LICENSE README.md WzaUnpacker.exe wza.exe | sort)" \
    "$(unzip -Z1 "$zip" | grep -v '/$' | sort)"
  unzip -q "$zip" -d "$work/$bits"

  local exe kind resources value
  for exe in WzaUnpacker wza; do
    kind=$(file -b "$work/$bits/$top/$exe.exe")
    [[ $kind == "$pe"* && $kind == *"$machine"* ]] || fail "$bits $exe.exe is a $kind"
    resources=$("$toolchain-windres" -i "$work/$bits/$top/$exe.exe" -O rc 2>&1) ||
      { fail "$bits $exe.exe: no resources: $resources"; continue; }
    for value in "FILEVERSION ${version//./, }, 0" "\"FileVersion\", \"$version\"" \
      "\"ProductVersion\", \"$version\"" '"ProductName", "WZA Unpacker"' \
      "\"OriginalFilename\", \"$exe.exe\"" '"FileDescription", "'; do
      grep -qF "$value" <<<"$resources" || fail "$bits $exe.exe: no $value in its version resource"
    done
  done
  [[ $(file -b "$work/$bits/$top/WzaUnpacker.exe") == *"(GUI)"* ]] ||
    fail "$bits WzaUnpacker.exe is not a GUI program"
  # Both exes start on the oldest Windows the README names, and import nothing newer.
  "$ROOT/tests/windows_imports_test.sh" "$toolchain-objdump" "$toolchain-gcc-posix" \
    "$work/$bits/$top/WzaUnpacker.exe" "$work/$bits/$top/wza.exe" >/dev/null ||
    fail "$bits exes: not fit for the oldest Windows they claim (see above)"
  # The version resource sits beside the window's icon and badge, not in their place.
  resources=$("$toolchain-windres" -i "$work/$bits/$top/WzaUnpacker.exe" -O rc 2>&1) || true
  for value in '"APPICON"' '"PWRBADGE"'; do
    grep -qF "$value" <<<"$resources" || fail "$bits WzaUnpacker.exe lost its $value resource"
  done
}

deb="dist/wza_${version}_amd64.deb"
if [ -f "$deb" ]; then
  check_deb_metadata "$deb"
  check_deb_install "$deb"
else
  fail "$deb is missing"
fi
for preset in $(windows_presets); do check_zip "$preset"; done

if [ "$failures" -ne 0 ]; then
  echo "packages: $failures problem(s)" >&2
  exit 1
fi
echo "packages: $deb and the Windows zips ($(windows_presets | paste -sd ' ')) are as they should be"
