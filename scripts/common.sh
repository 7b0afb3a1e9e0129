# Shared by the scripts: install what is missing, then configure and build.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# What building and running the server needs.
PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libgl-dev libsystemd-dev
  # HttpServer's CMake package needs WebSockets' without the package saying so.
  qt6-httpserver-dev qt6-websockets-dev
)
# What scripts/image and its test need: podman builds and runs the image with
# runc, mmdebstrap makes its Debian base, curl reads the running image's
# /health.
IMAGE_PACKAGES=(podman runc mmdebstrap curl)
# What the tests, benchmarks and fuzzers need on top, and the tools the
# package tests use: man pages, .deb files and their checks, unit checks;
# promtool, from prometheus, which checks the metrics the server exports;
# clang-format, which scripts/check-format runs; the image test's; and PyYAML,
# with which the manifests under deploy/ are checked.
TEST_PACKAGES=(
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev clang-format
  scdoc dpkg-dev file lintian systemd procps
  prometheus
  "${IMAGE_PACKAGES[@]}"
  python3 python3-yaml
)

# ensure_packages [more packages...]: PACKAGES and the ones given.
ensure_packages() {
  local missing=()
  local pkg
  for pkg in "${PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "installing: ${missing[*]}" >&2
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# configure DIR [cmake -D options...]: configures DIR the first time, and
# again whenever one of the options differs from what DIR holds.
configure() {
  local dir=$1
  shift
  local option
  if [ -f "$dir/build.ninja" ]; then
    for option in "$@"; do
      if [[ $option == -D*=* ]]; then
        local name=${option#-D} value=${option#*=}
        name=${name%%=*}
        name=${name%%:*}
        grep -qx "$name:[A-Z]*=$value" "$dir/CMakeCache.txt" || {
          cmake "$dir" "$@" >/dev/null
          return
        }
      fi
    done
    return 0
  fi
  echo "configuring $dir" >&2
  cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
}

# build DIR [cmake options...]: configures and builds everything, a line per step.
build() {
  local dir=$1
  shift
  configure "$dir" "$@"
  cmake --build "$dir"
}

# use_sandbox_podman DIR: sets PODMAN to a podman that runs on these machines
# too, with runc and without systemd (cgroupfs), and, unless CONTAINERS_CONF
# already names one, a containers.conf in DIR that sets no ulimits, as the
# sandbox may not raise them. Its callers add --network host: there is no
# container network here.
use_sandbox_podman() {
  local dir=$1
  if [ -z "${CONTAINERS_CONF:-}" ]; then
    printf '[containers]\ndefault_ulimits = []\n' >"$dir/containers.conf"
    export CONTAINERS_CONF=$dir/containers.conf
  fi
  PODMAN=(podman --runtime runc --cgroup-manager cgroupfs)
  echo "podman: runc, cgroupfs, host network, $CONTAINERS_CONF" >&2
}
