# Shared by the scripts: installs the Debian packages the build needs.
# shellcheck shell=bash

# pkg-config and libusb-1.0: the Linux backend of the real tool.
BUILD_PACKAGES=(cmake ninja-build g++ libgtest-dev libgmock-dev zlib1g-dev nlohmann-json3-dev pkg-config libusb-1.0-0-dev)
# The second compiler of the clang build and the fuzz harnesses.
CLANG_PACKAGES=(clang)

# Installs those of the named Debian packages that are missing, as root or
# through sudo.
ensure_packages() {
    local missing=()
    local package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
            missing+=("$package")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local as_root=()
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || { echo "Run as root or install sudo to get: ${missing[*]}" >&2; exit 1; }
        as_root=(sudo)
    fi
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# Configures and builds one preset.
build_preset() {
    cmake --preset "$1"
    cmake --build --preset "$1" -j"$(nproc)"
}
