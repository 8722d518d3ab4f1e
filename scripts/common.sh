# shellcheck shell=bash
# Shared by scripts/run, scripts/test and scripts/package: installs what is missing on a Debian
# machine, builds, and makes the Debian package.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# What building and running the program needs.
RUN_PACKAGES=(g++ cmake ninja-build pkg-config qt6-base-dev libftdi1-dev fonts-liberation2 xvfb
              xauth)
# What the tests add: GoogleTest, the benchmarks, clang with its runtime for the sanitizer build
# and the fuzz run, a private session bus (dbus-run-session) for the bus service's tests, ccache,
# which keeps compiled objects between runs, umockdev, which emulates USB chips so the real
# USB bridge is tested without hardware, and Qt's platform interface, through which a test sends
# a close request as the desktop does.
TEST_PACKAGES=(clang libgtest-dev libgmock-dev libbenchmark-dev dbus-daemon ccache umockdev
               libumockdev-dev qt6-base-private-dev)
# What making and checking the Debian package adds (lintian is Debian's own package check).
PACKAGE_PACKAGES=(appstream desktop-file-utils dpkg-dev file lintian)

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

# The major version of the installed clang, or nothing.
clang_major() {
    { clang --version 2>/dev/null || true; } |
        sed -n 's/.*clang version \([0-9][0-9]*\).*/\1/p' | head -n 1
}

# The sanitizer and fuzzer runtime of the default clang is there, under either package name.
clang_runtime_installed() {
    installed libclang-rt-dev && return 0
    local major
    major="$(clang_major)"
    [ -n "$major" ] && installed "libclang-rt-$major-dev"
}

# The package that brings that runtime: the unversioned one where the release has it, else the
# one of the installed or default clang's version. Needs the package lists.
clang_runtime_package() {
    local policy major
    policy="$(apt-cache policy libclang-rt-dev 2>/dev/null)"
    if grep -q '^ *Candidate: [^(]' <<<"$policy"; then
        echo libclang-rt-dev
        return
    fi
    major="$(clang_major)"
    if [ -z "$major" ]; then
        major="$(apt-cache depends clang 2>/dev/null |
            sed -n 's/.*Depends: clang-\([0-9][0-9]*\)$/\1/p' | head -n 1)"
    fi
    if [ -z "$major" ]; then
        echo "Cannot tell which clang runtime package this release has" >&2
        return 1
    fi
    echo "libclang-rt-$major-dev"
}

# install_missing [test|package]: what the program needs, with "test" what the tests need too
# (they also check the package), with "package" what making the package needs.
install_missing() {
    local wanted=("${RUN_PACKAGES[@]}") missing=() runtime=0
    if [ "${1:-}" = test ]; then
        wanted+=("${TEST_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}")
        clang_runtime_installed || runtime=1
    elif [ "${1:-}" = package ]; then
        wanted+=("${PACKAGE_PACKAGES[@]}")
    fi
    for p in "${wanted[@]}"; do
        installed "$p" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && [ "$runtime" -eq 0 ] && return 0
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    if [ "$runtime" -eq 1 ]; then
        missing+=("$(clang_runtime_package)")
    fi
    echo "Installing: ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# configure DIR [cmake options...]. Where ccache is installed, every build goes through it: its
# cache is the user's own (~/.cache/ccache), so it outlives the build folders and a second run
# on the same machine compiles only what changed. The sloppiness lets it cache the files that
# use the precompiled Qt headers.
configure() {
    local dir="$1" launcher=()
    shift
    if command -v ccache >/dev/null 2>&1; then
        launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
        export CCACHE_SLOPPINESS="${CCACHE_SLOPPINESS:-pch_defines,time_macros,include_file_mtime,include_file_ctime}"
    fi
    cmake -S "$ROOT" -B "$dir" -G Ninja "${launcher[@]}" "$@" >/dev/null
}

# configure_and_build DIR [cmake options...]; BUILD_TARGET names one target to build (default:
# everything).
configure_and_build() {
    configure "$@"
    cmake --build "$1" -j "$(nproc)" ${BUILD_TARGET:+--target "$BUILD_TARGET"}
}

# package_and_check DIR: makes the Debian package of a build (CPack; dpkg-shlibdeps from
# dpkg-dev finds its dependencies) and checks it: unpacked into a scratch root, the installed
# program starts headless from a fresh home folder. Prints the package's path last.
package_and_check() {
    local dir="$1"
    rm -f "$dir"/package/*.deb
    (cd "$dir" && cpack -G DEB >/dev/null)
    local deb
    deb="$(ls "$dir"/package/*.deb)"
    "$ROOT/packaging/linux/check-package" "$deb"
    echo "Package: $deb"
}
