#!/usr/bin/env bash
# Builds the tool and starts it on a small sample archive.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$ROOT"

./scripts/bootstrap.sh
cmake --preset native >/dev/null
cmake --build --preset native
sample="$ROOT/build/sample/sample.wza"
mkdir -p "$(dirname "$sample")"
build/native/bin/make_sample_archive "$sample" >/dev/null
build/native/bin/wza list "$sample"
build/native/bin/wza extract -d "$ROOT/build/sample/out" "$sample"
