# Shared by the scripts: package installation and the build of the Linux programs.
# shellcheck shell=bash

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Installs the Debian packages that are not installed yet.
need_packages() {
    local missing=()
    local p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    ((${#missing[@]} == 0)) && return 0
    echo "installing: ${missing[*]}" >&2
    if [[ $(id -u) != 0 ]]; then
        echo "need root to install ${missing[*]}" >&2
        return 1
    fi
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

need_build_tools() {
    need_packages cmake ninja-build g++ make libgtest-dev tmux locales python3 util-linux
}

# Configures and builds one build directory: build_tree DIR [cmake options...]
build_tree() {
    local dir=$1
    shift
    cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir"
}
