#!/usr/bin/env bash
# Fetches the Debian source packages libdeflate and libisal into DIR (default
# build/decoders) with `apt-get source`, leaving the machine's package sources alone: apt
# reads a private source list made from the machine's own (every `deb` there becomes a
# `deb-src` of the same URIs and suites) and keeps its lists and caches under DIR.
# Once fetched, a second run does nothing.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

dir="${1:-$ROOT/build/decoders}"
src="$dir/src"
if ls -d "$src"/libdeflate-*/ "$src"/libisal-*/ >/dev/null 2>&1; then exit 0; fi

apt_dir="$dir/apt"
mkdir -p "$apt_dir/parts" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$src"
rm -f "$apt_dir/parts/"*

# One-line lists: `deb [options] URI suite components` -> the same with deb-src.
one_line() {
  sed -n -E 's/^[[:space:]]*deb([[:space:]])/deb-src\1/p' "$@" 2>/dev/null || true
}

# deb822 files: every stanza whose Types holds `deb` is kept with `Types: deb-src`.
deb822() {
  awk '
    function flush() { if (stanza != "" && has_deb) printf "%s\n", stanza; stanza = ""; has_deb = 0 }
    /^[[:space:]]*$/ { flush(); next }
    /^[[:space:]]*#/ { next }
    /^Types:/ { has_deb = ($0 ~ /[[:space:]]deb([[:space:]]|$)/); stanza = stanza "Types: deb-src\n"; next }
    { stanza = stanza $0 "\n" }
    END { flush() }
  ' "$1"
}

list="$apt_dir/sources.list"
one_line /etc/apt/sources.list > "$list"
for f in /etc/apt/sources.list.d/*.list; do
  [ -f "$f" ] && one_line "$f" >> "$list"
done
for f in /etc/apt/sources.list.d/*.sources; do
  [ -f "$f" ] && deb822 "$f" > "$apt_dir/parts/$(basename "$f")"
done

apt_options=(
  -o "Dir::Etc::SourceList=$list"
  -o "Dir::Etc::SourceParts=$apt_dir/parts"
  -o "Dir::State::Lists=$apt_dir/lists"
  -o "Dir::Cache=$apt_dir/cache"
  -o "APT::Sandbox::User=root"
)
# A source the machine lists but that holds no sources (a third party's) fails alone;
# Debian's own are what the two packages come from.
apt-get -q "${apt_options[@]}" update >"$apt_dir/update.log" 2>&1 ||
  echo "fetch_decoder_sources: apt-get update reported errors (see $apt_dir/update.log)" >&2
cd "$src"
apt-get -q "${apt_options[@]}" source libdeflate libisal >"$apt_dir/source.log" 2>&1 || {
  echo "fetch_decoder_sources: apt-get source failed (see $apt_dir/source.log)" >&2
  exit 1
}
