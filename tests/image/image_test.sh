#!/usr/bin/env bash
# Builds the container image with scripts/image and runs it as an operator
# would: once on a fresh volume (the sample data appears in it, a player logs
# in, /health answers, the image's health check passes, SIGTERM ends it with
# status 0), and once on the operator's own data folder and configuration file,
# which it must use and leave as they are.
# podman runs here with runc, cgroupfs, the host's network and a
# containers.conf without ulimits (use_sandbox_podman in scripts/common.sh):
# this sandbox has no systemd, no container network, and may not raise limits.
# Exit status 77, skipped, only where podman cannot run a container at all.
# Usage: image_test.sh SOURCE_DIR CLIENT DATA_TOOL
set -euo pipefail
source_dir=$1
client=$2
data_tool=$3
source "$source_dir/scripts/common.sh"
ensure_packages "${IMAGE_PACKAGES[@]}"
work=$(mktemp -d)
containers=()
volume=quorvane-image-test-$$
cleanup() {
  local container
  for container in "${containers[@]}"; do
    "${PODMAN[@]}" rm --force --time 0 "$container" >/dev/null 2>&1 || true
  done
  "${PODMAN[@]}" volume rm --force "$volume" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAILED: $*" >&2
  exit 1
}
use_sandbox_podman "$work"

# Whether podman can run anything here, tried on the smallest container there
# is: the host's own true and the libraries it loads.
rootfs=$work/rootfs
true_program=$(type -P true)
mkdir -p "$rootfs"
mapfile -t libraries < <(ldd "$true_program" | grep -o '/[^ ]*')
cp --parents "$true_program" "${libraries[@]}" "$rootfs"/
if ! output=$("${PODMAN[@]}" run --rm --network host --rootfs "$rootfs" "$true_program" 2>&1); then
  echo "SKIPPED: podman cannot run a container here: $output"
  exit 77
fi

started=$SECONDS
"$source_dir/scripts/image" >"$work/image.log" 2>&1 || {
  cat "$work/image.log" >&2
  fail "scripts/image"
}
echo "image built in $((SECONDS - started)) s"
version=$(sed -n 's/^project(Quorvane VERSION \([0-9.]*\) .*/\1/p' "$source_dir/CMakeLists.txt")
image=localhost/quorvane:$version

# What --network host leaves unseen: the port and volume the image declares.
declared=$("${PODMAN[@]}" image inspect --format '{{.Config.ExposedPorts}} {{.Config.Volumes}}' "$image")
[[ $declared == *10217/tcp* && $declared == */var/lib/quorvane* ]] || fail "the image declares: $declared"

# free_port: a TCP port below the ephemeral range that nothing listens on.
free_port() {
  local port listening
  listening=$(awk 'FNR > 1 && $4 == "0A" { split($2, a, ":"); print a[2] }' /proc/net/tcp /proc/net/tcp6)
  while :; do
    port=$((20000 + RANDOM % 10000))
    grep -qix "$(printf %04X "$port")" <<<"$listening" || break
  done
  echo "$port"
}

# start NAME [podman run options...] -- [server options...]: starts the image
# on 127.0.0.1 with its HTTP endpoint on a free port (set as http) and waits
# for its game port (set as port).
start() {
  local name=$1 container_options=()
  shift
  while [ "$1" != -- ]; do
    container_options+=("$1")
    shift
  done
  shift
  http=$(free_port)
  # Podman's complaint that it has no systemd to time the health check with
  # goes to a file; the test runs the check itself.
  "${PODMAN[@]}" run --detach --name "$name" --network host \
    --env QUORVANE_HTTP="127.0.0.1:$http" "${container_options[@]}" \
    "$image" --listen 127.0.0.1 --port 0 "$@" >/dev/null 2>"$work/$name.run.log" ||
    fail "podman run $name: $(cat "$work/$name.run.log")"
  containers+=("$name")
  port=
  for _ in $(seq 100); do
    port=$("${PODMAN[@]}" logs "$name" 2>&1 | sed -n 's/^[0-9T:.-]*Z I listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p')
    [ -n "$port" ] && return
    [ "$("${PODMAN[@]}" inspect --format '{{.State.Running}}' "$name")" = true ] ||
      fail "$name ended: $("${PODMAN[@]}" logs "$name" 2>&1)"
    sleep 0.1
  done
  fail "$name does not listen: $("${PODMAN[@]}" logs "$name" 2>&1)"
}

# login NAME: logs in and pings, printing what the client received.
login() {
  local reply
  reply=$(echo ping | "$client" --port "$port" --name "$1" 2>&1) || fail "the client as $1: $reply"
  grep -q "^recv 125 " <<<"$reply" || fail "no answer to $1's ping: $reply"
  echo "$reply"
}

# logged stdout|stderr NAME PATTERN: the container's log has a line matching
# PATTERN on that stream within five seconds.
logged() {
  local lines
  for _ in $(seq 50); do
    if [ "$1" = stdout ]; then
      lines=$("${PODMAN[@]}" logs "$2" 2>/dev/null)
    else
      lines=$("${PODMAN[@]}" logs "$2" 2>&1 >/dev/null)
    fi
    grep -q "$3" <<<"$lines" && return
    sleep 0.1
  done
  return 1
}

# stop NAME: stops the container as its orchestrator would, with the image's
# stop signal and a grace period, and checks how the server ended.
stop() {
  "${PODMAN[@]}" stop --time 20 "$1" >/dev/null 2>>"$work/$1.run.log"
  local status logs
  status=$("${PODMAN[@]}" inspect --format '{{.State.ExitCode}}' "$1")
  logs=$("${PODMAN[@]}" logs "$1" 2>&1)
  check_shutdown "$1" "$status" "$logs"
}

# check_shutdown NAME STATUS LOGS: the server ended by itself on the signal,
# not by the SIGKILL after the grace period (status 137). The graceful
# shutdown that first warns the players adds its checks here.
check_shutdown() {
  [ "$2" -eq 0 ] || fail "$1 ended with status $2: $3"
  grep -Eq '^[0-9T:.-]+Z I shutting down on SIGTERM$' <<<"$3" || fail "$1 did not shut down on SIGTERM: $3"
}

echo "fresh volume"
start fresh-$$ --volume "$volume:/var/lib/quorvane" --
# The server itself is PID 1, so that the stop signal reaches it.
pid1=$("${PODMAN[@]}" exec fresh-$$ cat /proc/1/comm)
[ "$pid1" = quorvane ] || fail "PID 1 is $pid1, not the server"
uids=$("${PODMAN[@]}" exec fresh-$$ sed -n 's/^Uid:\s*//p' /proc/1/status)
[ "$uids" = $'10217\t10217\t10217\t10217' ] || fail "the server runs as $uids, not 10217"
arguments=$("${PODMAN[@]}" exec fresh-$$ cat /proc/1/cmdline | tr '\0' ' ')
[[ $arguments == *--headless* ]] || fail "the server is not headless: $arguments"
# Mirelle stands at 42,57 in the sample data.
reply=$(login Mirelle)
grep -q "^  at 42,57$" <<<"$reply" || fail "no login position from the sample data: $reply"
[ "$(curl -fsS --max-time 5 "http://127.0.0.1:$http/health")" = ok ] || fail "/health"
"${PODMAN[@]}" healthcheck run fresh-$$ >/dev/null || fail "the image's health check failed"
# The log lines and the diagnostics both reach the container's log, each on
# its own stream.
logged stdout fresh-$$ '^Connected client to Server1$' || fail "no log line on standard output"
logged stderr fresh-$$ 'logged in as "Mirelle"$' || fail "no diagnostic on standard error"
stop fresh-$$

echo "the operator's data and settings"
mkdir -p "$work/data/characters" "$work/data/items"
"$data_tool" new-character --level 40 --posx 30 --posy 31 "$work/data/characters/Ada" >/dev/null
# Writable for the server's user, so that only the entrypoint's check keeps
# the sample data out.
chown -R 10217:10217 "$work/data"
printf 'welcome-text = Settings from the mounted file\n' >"$work/quorvane.conf"
chmod a+r "$work/quorvane.conf"
start operator-$$ --volume "$work/data:/var/lib/quorvane" \
  --volume "$work/quorvane.conf:/etc/quorvane/quorvane.conf:ro" --
reply=$(login Ada)
grep -q "^  at 30,31$" <<<"$reply" || fail "Ada is not read from the mounted data: $reply"
grep -q 'Settings from the mounted file' <<<"$reply" || fail "the mounted settings are not used: $reply"
[ ! -e "$work/data/characters/Mirelle" ] || fail "the sample data was copied over the operator's"
stop operator-$$

echo "image ok"
