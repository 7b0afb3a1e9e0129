#!/usr/bin/env bash
# scripts/check-format on a small tree of its own: it names the tracked files
# clang-format would change and only those, and passes once they are formatted.
# Usage: check_format_test.sh SOURCE_DIR
set -euo pipefail
source_dir=$1
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
fail() {
  echo "FAILED: $*" >&2
  exit 1
}

cp "$source_dir/.clang-format" "$tree/"
mkdir -p "$tree/src"
printf 'int Formatted() {\n  return 1;\n}\n' >"$tree/src/formatted.cpp"
printf 'int   Spaced( ) {return 1;}\n' >"$tree/src/spaced.cpp"
printf '#pragma once\nint  Declared (int x);\n' >"$tree/src/declared.h"
printf 'int   Untracked( ) {return 1;}\n' >"$tree/src/untracked.cpp"
printf 'not   C++ {at all}\n' >"$tree/notes.txt"
git -C "$tree" init -q
git -C "$tree" add .clang-format src/formatted.cpp src/spaced.cpp src/declared.h notes.txt

status=0
output=$("$source_dir/scripts/check-format" "$tree" 2>&1) || status=$?
[ "$status" -eq 1 ] || fail "status $status on a tree with unformatted files: $output"
named=$(sed -n 's/^  //p' <<<"$output")
[ "$named" = $'src/declared.h\nsrc/spaced.cpp' ] || fail "named: $output"

clang-format --style=file -i "$tree/src/spaced.cpp" "$tree/src/declared.h"
output=$("$source_dir/scripts/check-format" "$tree" 2>&1) || fail "formatted tree refused: $output"
[ -z "$output" ] || fail "printed on a formatted tree: $output"
echo "check-format ok"
