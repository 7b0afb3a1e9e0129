#!/usr/bin/env bash
# Regenerates the sample characters and items in this folder with quorvane-data.
# Usage: data/make-sample-data.sh [path/to/quorvane-data]
# (default: build/tools/data/quorvane-data beside this folder)
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
tool="${1:-$here/../build/tools/data/quorvane-data}"
mkdir -p "$here/characters" "$here/items"
character() { "$tool" new-character --force "$@"; }
items() { "$tool" new-items --force "$@"; }

# A caster of level 250: the two base spells and four level spells.
character --name Mirelle --level 250 --class 0 \
  --stat1a 1840 --stat1b 1840 --stat2a 2600 --stat2b 2600 --stat3a 410 --stat3b 500 \
  --stat4a 35 --stat4b 40 --stat11a 120 --stat11b 150 --stat12a 88 --stat12b 90 \
  --stat6 12 --stat7 15400 --stat8 230 --stat9 75 --stat10 3100 \
  --posx 42 --posy 57 "$here/characters/Mirelle"
# Her pack: two full records, an empty slot that is skipped, one more.
items --item 2,0,17,3,1 --item 4,1,6,0,25 --item 4,2,7,0,0 --item 5,3,120,9,1 \
  "$here/items/Mirelle"

# A fighter: Class 1 gets no spells whatever the level.
character --name Torvald --level 180 --class 1 \
  --stat1a 4200 --stat1b 4200 --stat2a 300 --stat2b 300 --stat3a 950 --stat3b 1000 \
  --stat4a 80 --stat4b 60 --stat11a 210 --stat11b 240 --stat12a 45 --stat12b 50 \
  --stat6 30 --stat7 48200 --stat8 610 --stat9 140 --stat10 9800 \
  --posx 45 --posy 50 "$here/characters/Torvald"

# A newcomer of level 5: the two base spells only, and no item file.
character --name Pip --level 5 --class 0 \
  --stat1a 120 --stat1b 120 --stat2a 80 --stat2b 80 --stat3a 10 --stat3b 100 \
  --stat4a 5 --stat4b 5 --stat6 1 --stat7 40 --stat10 15 \
  --posx 30 --posy 30 "$here/characters/Pip"
