#!/usr/bin/env bash
# Builds the Debian packages with scripts/package, checks what each holds and
# what it depends on, runs lintian on them, and has systemd check the units as
# installed from the package.
# Usage: package_test.sh SOURCE_DIR
set -euo pipefail
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

"$source_dir/scripts/package" "$work/debs" >"$work/package.log" 2>&1 || {
  cat "$work/package.log" >&2
  exit 1
}
version=$(sed -n 's/^project(Quorvane VERSION \([0-9.]*\) .*/\1/p' "$source_dir/CMakeLists.txt")
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
deb() { echo "$work/debs/${1}_${version}_$arch.deb"; }

# has PACKAGE PATH...: the package holds each path (a file or a symlink).
has() {
  local package=$1 path
  shift
  local listing
  listing=$(dpkg-deb -c "$(deb "$package")" | awk '{print $6}')
  for path in "$@"; do
    grep -qx "\./$path" <<<"$listing" || fail "$package lacks /$path"
  done
}
# lacks PACKAGE PATTERN: no path in the package matches the regular expression.
lacks() {
  if dpkg-deb -c "$(deb "$1")" | awk '{print $6}' | grep -E "$2"; then
    fail "$1 holds files matching $2"
  fi
}

for package in quorvane libkelvane1 libkelvane-dev; do
  [ -f "$(deb $package)" ] || fail "no $(basename "$(deb $package)")"
done
[ "$failures" -eq 0 ] || exit 1

has quorvane usr/bin/quorvane usr/bin/quorvane-client usr/bin/quorvane-data usr/bin/quorvane-ctl \
  lib/systemd/system/quorvane.service lib/systemd/system/quorvane@.service \
  usr/lib/sysusers.d/quorvane.conf usr/lib/tmpfiles.d/quorvane.conf etc/quorvane/quorvane.conf \
  usr/share/man/man1/quorvane.1.gz usr/share/man/man1/quorvane-client.1.gz \
  usr/share/man/man1/quorvane-data.1.gz usr/share/man/man1/quorvane-ctl.1.gz \
  usr/share/bash-completion/completions/quorvane \
  usr/share/bash-completion/completions/quorvane-client \
  usr/share/bash-completion/completions/quorvane-data \
  usr/share/bash-completion/completions/quorvane-ctl \
  usr/share/quorvane/sample-data/characters/Mirelle usr/share/quorvane/sample-data/items/Mirelle \
  usr/share/doc/quorvane/copyright usr/share/doc/quorvane/changelog.gz \
  usr/share/doc/quorvane/README.md usr/share/doc/quorvane/docs/operating.md \
  usr/share/doc/quorvane/docs/screenshot.png
lacks quorvane 'libkelvane|include/'
has libkelvane1 "usr/lib/$multiarch/libkelvane.so.1" "usr/lib/$multiarch/libkelvane.so.$version" \
  usr/share/doc/libkelvane1/copyright
lacks libkelvane1 'include/|libkelvane\.so$|pkgconfig|cmake'
has libkelvane-dev usr/include/kelvane.h usr/include/kelvane.hpp "usr/lib/$multiarch/libkelvane.so" \
  "usr/lib/$multiarch/pkgconfig/kelvane.pc" "usr/lib/$multiarch/cmake/Kelvane/KelvaneConfig.cmake" \
  "usr/lib/$multiarch/cmake/Kelvane/KelvaneConfigVersion.cmake" \
  "usr/lib/$multiarch/cmake/Kelvane/KelvaneTargets.cmake" usr/share/doc/libkelvane-dev/copyright
lacks libkelvane-dev 'libkelvane\.so\.'

# The sample data is the tracked files, whatever else lies in data/.
packaged=$(dpkg-deb -c "$(deb quorvane)" | awk '$1 !~ /^d/ {print $6}' |
  sed -n 's|^\./usr/share/quorvane/sample-data/||p' | sort)
tracked=$(git -C "$source_dir" ls-files data/characters data/items | sed 's|^data/||' | sort)
[ "$packaged" = "$tracked" ] || fail "sample data: $(diff <(echo "$tracked") <(echo "$packaged"))"

# depends PACKAGE DEPENDENCY: the Depends field names it exactly.
depends() {
  local field
  field=$(dpkg-deb -f "$(deb "$1")" Depends)
  tr ',' '\n' <<<"$field" | sed 's/^ *//' | grep -qxF "$2" || fail "$1 does not depend on $2: $field"
}
depends quorvane "libkelvane1 (= $version)"
depends libkelvane-dev "libkelvane1 (= $version)"
# From dpkg-shlibdeps: what the programs and the library link.
quorvane_depends=$(dpkg-deb -f "$(deb quorvane)" Depends)
for library in libqt6network6 libqt6httpserver6 libsystemd0 libc6; do
  grep -q "\b$library\b" <<<"$quorvane_depends" || fail "quorvane does not depend on $library"
done
grep -q '^libc6 ' <<<"$(dpkg-deb -f "$(deb libkelvane1)" Depends)" || fail "libkelvane1 lacks libc6"
shlibs=$(dpkg-deb --ctrl-tarfile "$(deb libkelvane1)" | tar -xO ./shlibs)
[ "$shlibs" = "libkelvane 1 libkelvane1 (>= $version)" ] || fail "libkelvane1's shlibs file: $shlibs"
triggers=$(dpkg-deb --ctrl-tarfile "$(deb libkelvane1)" | tar -xO ./triggers)
[ "$triggers" = "activate-noawait ldconfig" ] || fail "libkelvane1's triggers file: $triggers"

# lintian ends with 1 on errors and 2 when it could not check; warnings and
# notes are shown for whoever reads the log.
status=0
lintian --tag-display-limit 0 "$work"/debs/*.deb >"$work/lintian.log" 2>&1 || status=$?
grep -v '^running with root privileges' "$work/lintian.log" || true
[ "$status" -eq 0 ] || fail "lintian ended with status $status"

# The units as the package installs them, in a root of their own that also
# holds the system's targets; verify only warns about bad settings, so any
# output counts as a failure.
root=$work/root
mkdir -p "$root/usr/lib/systemd/system"
dpkg-deb -x "$(deb quorvane)" "$root"
dpkg-deb -x "$(deb libkelvane1)" "$root"
for system_units in /lib/systemd/system /usr/lib/systemd/system; do
  [ -d "$system_units" ] && cp -n "$system_units"/*.target "$system_units"/*.slice \
    "$system_units"/*.socket "$root/usr/lib/systemd/system/" 2>/dev/null
done
# ExecReload runs kill from procps, a dependency of the package.
mkdir -p "$root/bin"
cp /bin/kill "$root/bin/"
for unit in quorvane.service quorvane@north.service; do
  if ! output=$(MANPATH="$root/usr/share/man" systemd-analyze verify --root="$root" "$unit" 2>&1) ||
    [ -n "$output" ]; then
    fail "systemd-analyze verify $unit: $output"
  fi
done

# An installation where systemd does not run (a container, a chroot): dpkg
# into a root of its own, the maintainer scripts run outside it with DPKG_ROOT
# naming it. The postinst makes the user and the folders of the tmpfiles entry.
installed=$work/installed
mkdir -p "$installed/var/lib/dpkg/info" "$installed/var/lib/dpkg/updates" "$installed/etc"
touch "$installed/var/lib/dpkg/status" "$installed/var/lib/dpkg/available"
if ! output=$(dpkg --root="$installed" --force-script-chrootless --force-depends --log=/dev/null \
  -i "$(deb libkelvane1)" "$(deb quorvane)" 2>&1); then
  fail "dpkg -i into $installed: $output"
else
  ids=$(awk -F: '$1 == "quorvane" {print $3 " " $4}' "$installed/etc/passwd")
  [ -n "$ids" ] || fail "no user quorvane in the installed /etc/passwd"
  for folder in var/lib/quorvane var/lib/quorvane/characters var/lib/quorvane/items \
    var/log/quorvane; do
    if [ ! -d "$installed/$folder" ]; then
      fail "no /$folder after installing without systemd"
    elif [ "$(stat -c '%a %u %g' "$installed/$folder")" != "750 $ids" ]; then
      fail "/$folder is $(stat -c '%a %u %g' "$installed/$folder"), not 750 owned by $ids"
    fi
  done
fi

[ "$failures" -eq 0 ] || exit 1
echo "packages ok"
