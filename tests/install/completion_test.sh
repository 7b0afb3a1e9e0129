#!/usr/bin/env bash
# Bash completion of the three programs: what each offers for a command line
# typed so far.
# Usage: completion_test.sh COMPLETION_DIR
set -uo pipefail
dir=$1
for program in quorvane quorvane-client quorvane-data quorvane-ctl; do
  # shellcheck source=/dev/null
  source "$dir/$program" || exit 1
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/maps" "$work/more"
touch "$work/mapfile"

failures=0
# expect "WANTED" PROGRAM WORD...: the last word is the one being completed;
# WANTED lists the offers in sorted order.
expect() {
  local wanted=$1
  shift
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMPREPLY=()
  local function
  function=$(complete -p "$1" | sed -n 's/.* -F \([^ ]*\) .*/\1/p')
  "$function" "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd ' ')
  if [ "$got" != "$wanted" ]; then
    echo "FAILED: $* -> [$got], wanted [$wanted]"
    failures=$((failures + 1))
  fi
}

expect "--data-dir" quorvane --da
expect "--handshake-timeout --headless --help --http" quorvane --h
expect "--http" quorvane --ht
expect "$work/maps" quorvane --data-dir "$work/ma"
expect "" quorvane --port ""
expect "" quorvane --http ""
expect "--relay-bytes --relay-rate --relay-soft-limit --require-character" quorvane --re
expect "--agones --allow --autoban" quorvane --a
expect "" quorvane --agones ""
expect "--exit-when-empty" quorvane --exi
expect "off" quorvane --autoban o
expect "" quorvane --deny ""
expect "--log-file --login-grace --login-rate --login-timeout" quorvane --lo
expect "$work/mapfile $work/maps" quorvane --log-file "$work/map"
expect "" quorvane --login-rate ""
expect "--name" quorvane-client --n
expect "--help --host" quorvane-client --h
expect "--version" quorvane-client --v
expect "" quorvane-client --port 1
expect "new-character new-items" quorvane-data new
expect "--version" quorvane-data --v
expect "say shutdown status" quorvane-ctl s
expect "--json" quorvane-ctl --socket /tmp/control --j
expect "1 2" quorvane-ctl kick ''
expect "cancel" quorvane-ctl shutdown c
expect "--config --console --control-socket" quorvane --con
expect "--help --type" quorvane-data show --
expect "character" quorvane-data show --type c
expect "--item" quorvane-data new-items --it
expect "" quorvane-data new-items --item ""
expect "$work/mapfile $work/maps" quorvane-data new-items --force "$work/map"
expect "--stat12a --stat12b" quorvane-data new-character --stat12
expect "" quorvane-data new-character --level ""
expect "" quorvane-data unknown-command --

[ "$failures" -eq 0 ] || exit 1
echo "completion ok"
