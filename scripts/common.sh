# Shared by scripts/run, scripts/test and scripts/package: installs what is missing on a Debian
# machine, builds, and makes the Debian package.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PACKAGES=(g++ clang cmake ninja-build pkg-config qt6-base-dev libftdi1-dev libgtest-dev
          libgmock-dev libbenchmark-dev libclang-rt-14-dev fonts-liberation2 xvfb xauth appstream
          desktop-file-utils dpkg-dev file)

install_missing() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# configure_and_build DIR [cmake options...]
configure_and_build() {
    local dir="$1"
    shift
    cmake -S "$ROOT" -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir" -j "$(nproc)"
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
