#!/usr/bin/env bash
# Installs the build into a temporary prefix, then uses it as a client
# developer does (a C and a C++ program built once through pkg-config and once
# through find_package(Kelvane), each a seal/open round trip) and as an
# operator does (the installed server on the installed sample data, reached by
# the installed client).
# Usage: install_test.sh BUILD_DIR CONSUMER_SOURCE_DIR  (CC and CXX name the compilers)
set -euo pipefail
build=$1
consumer=$2
work=$(mktemp -d)
server=
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAILED: $*" >&2
  exit 1
}

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
# Every file under the prefix and nothing outside it: the install manifest
# names each file it put in place.
outside=$(grep -v "^$prefix/" "$build/install_manifest.txt" || true)
[ -z "$outside" ] || fail "installed outside $prefix: $outside"
pc=$(find "$prefix" -name kelvane.pc)
[ -n "$pc" ] || fail "no kelvane.pc installed"
for file in bin/quorvane bin/quorvane-client bin/quorvane-data include/kelvane.h include/kelvane.hpp \
  etc/quorvane/quorvane.conf share/quorvane/sample-data/characters/Mirelle \
  share/bash-completion/completions/quorvane-data; do
  [ -e "$prefix/$file" ] || fail "$file is not installed"
done

# Runs a built program and checks that it used the installed library.
run() {
  local program=$1 output libraries
  output=$(env -u LD_LIBRARY_PATH "$program") || fail "$program: $output"
  [ "$output" = "round trip ok" ] || fail "$program printed: $output"
  libraries=$(env -u LD_LIBRARY_PATH ldd "$program")
  grep -q "libkelvane.so.1 => $prefix/" <<<"$libraries" || fail "$program does not use $prefix: $libraries"
}

echo "pkg-config"
export PKG_CONFIG_PATH=${pc%/*}
[ "$(pkg-config --modversion kelvane)" = "$(sed -n 's/^Version: //p' "$pc")" ] || fail "pkg-config --modversion"
libdir=$(pkg-config --variable=libdir kelvane)
read -ra flags <<<"$(pkg-config --cflags --libs kelvane)"
"${CC:-cc}" -std=c11 -Wall -Wextra -Werror "$consumer/round_trip.c" "${flags[@]}" \
  -Wl,-rpath,"$libdir" -o "$work/c_pkg_config"
"${CXX:-c++}" -std=c++20 -Wall -Wextra -Werror "$consumer/round_trip.cpp" "${flags[@]}" \
  -Wl,-rpath,"$libdir" -o "$work/cpp_pkg_config"
run "$work/c_pkg_config"
run "$work/cpp_pkg_config"

echo "find_package(Kelvane)"
cmake -S "$consumer" -B "$work/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_COMPILER="${CC:-cc}" -DCMAKE_CXX_COMPILER="${CXX:-c++}" >"$work/configure.log" 2>&1 ||
  fail "configuring the consumer: $(cat "$work/configure.log")"
cmake --build "$work/consumer" >"$work/build.log" 2>&1 || fail "building the consumer: $(cat "$work/build.log")"
run "$work/consumer/round_trip_c"
run "$work/consumer/round_trip_cpp"

echo "installed server"
"$prefix/bin/quorvane" --headless --listen 127.0.0.1 --port 0 \
  --data-dir "$prefix/share/quorvane/sample-data" >"$work/server.out" 2>"$work/server.err" &
server=$!
port=
for _ in $(seq 100); do
  port=$(sed -n 's/^[0-9T:.-]*Z I listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/server.err")
  [ -n "$port" ] && break
  kill -0 "$server" 2>/dev/null || fail "the installed server ended: $(cat "$work/server.err")"
  sleep 0.1
done
[ -n "$port" ] || fail "the installed server does not listen: $(cat "$work/server.err")"
grep -q " $prefix/.*/libkelvane.so.1" "/proc/$server/maps" || fail "the server did not load $prefix's libkelvane"

# Mirelle stands at 42,57 in the sample data; the ping's answer closes the exchange.
reply=$(echo ping | env -u LD_LIBRARY_PATH "$prefix/bin/quorvane-client" --port "$port" --name Mirelle 2>&1) ||
  fail "the installed client: $reply"
grep -q "^  at 42,57$" <<<"$reply" || fail "no login position from the sample data: $reply"
grep -q "^recv 125 " <<<"$reply" || fail "no answer to the ping: $reply"
echo "install ok"
