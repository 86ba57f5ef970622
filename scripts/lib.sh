# Shared by the set-up scripts: package installation and the build.
# shellcheck shell=bash

set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
JOBS="${JOBS:-$(nproc 2>/dev/null || echo 2)}"

# Installs the Debian packages of the arguments that are not installed yet.
ensure_packages() {
    local missing=()
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing missing packages: ${missing[*]}" >&2
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq >&2
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
}

BUILD_PACKAGES=(g++ cmake ninja-build qt6-base-dev fonts-dejavu-core)
TEST_PACKAGES=(libgtest-dev libgmock-dev clang libclang-rt-14-dev xvfb xauth groff-base)
BENCH_PACKAGES=(libbenchmark-dev valgrind)

# Configures (when needed) and builds a preset; extra arguments go to the build.
build_preset() {
    local preset="$1"
    shift
    cd "$ROOT"
    if [ ! -f "build/$preset/CMakeCache.txt" ]; then
        cmake --preset "$preset" >&2
    fi
    cmake --build --preset "$preset" -j "$JOBS" "$@" >&2
}
