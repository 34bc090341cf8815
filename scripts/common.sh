# Shared by the scripts in this folder: installs what is missing on Debian and builds.
# Sourced, not run.

# Debian 12 packages the build, the tests and the program need (shellcheck: the test of
# the bash completion; python3 and strace: the test of the order of flushes and renames).
PARVELLO_PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev
                   fonts-liberation xvfb xauth shellcheck python3 strace)

# Installs the packages named (and the common ones) that are not installed yet, with
# apt-get; through sudo when not running as root.
parvello_install_missing() {
    if ! command -v dpkg-query >/dev/null 2>&1; then
        echo "Not a Debian system: install Qt 6 (Core, Gui, Widgets, Test), CMake and Ninja yourself." >&2
        return 0
    fi
    local missing=() package
    for package in "${PARVELLO_PACKAGES[@]}" "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null 2>&1 || {
            echo "Missing packages (${missing[*]}) and no sudo: install them as root." >&2
            return 1
        }
        sudo=(sudo)
    fi
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# parvello_build <build dir> [extra cmake arguments...]
parvello_build() {
    local dir=$1
    shift
    cmake -S "$PARVELLO_ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
    cmake --build "$dir"
}

PARVELLO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
