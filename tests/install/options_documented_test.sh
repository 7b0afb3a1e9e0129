#!/usr/bin/env bash
# Every option a program lists in its --help is documented where its reader
# looks for it: the program's page under docs/, its man page and its bash
# completion; the server's settings are also keys of the example configuration
# file, each shown at its default. Qt's own --help-all needs no mention.
# Usage: options_documented_test.sh SOURCE_DIR PROGRAM...
set -uo pipefail
source_dir=$1
shift
failures=0
for program in "$@"; do
  name=$(basename "$program")
  options=$("$program" --help | grep -oE -- '--[a-z][a-z0-9-]+' | grep -vx -- --help-all | sort -u)
  [ -n "$options" ] || { echo "FAILED: $name --help lists no options"; failures=$((failures + 1)); }
  case $name in
    quorvane-client) page=docs/client-developers.md ;;
    *) page=docs/operating.md ;;
  esac
  for place in "$page" "docs/man/$name.1.scd" "packaging/completion/$name"; do
    for option in $options; do
      if ! grep -qF -- "$option" "$source_dir/$place"; then
        echo "FAILED: $name $option is missing from $place"
        failures=$((failures + 1))
      fi
    done
  done
  [ "$name" = quorvane ] || continue
  for option in $options; do
    case $option in --help | --version | --config) continue ;; esac
    if ! grep -qE -- "^;${option#--} =" "$source_dir/packaging/quorvane.conf"; then
      echo "FAILED: ${option#--} is not a commented key of packaging/quorvane.conf"
      failures=$((failures + 1))
    fi
  done
done
[ "$failures" -eq 0 ] || exit 1
echo "options documented"
