# Shared by the scripts: package installation and the build of the Linux programs.
# shellcheck shell=bash

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
parallel=$(nproc)  # build and test jobs

# Installs the Debian packages that are not installed yet, with apt's own lines on the standard
# error (what it installs, "Need to get N MB of archives", each package as it is fetched and set
# up) less dpkg's unpacking chatter.
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
    echo "installing: reading the package lists (apt-get update)" >&2
    apt-get update -qq || return 1
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" 2>&1 |
        grep --line-buffered -vE '^(Selecting previously|Preparing to unpack|Unpacking|\(Reading database|Processing triggers)' >&2
    return "${PIPESTATUS[0]}"
}

# What the Linux programs build with (libsystemd-dev and pkg-config for logind's inhibitor).
need_build_tools() {
    need_packages cmake ninja-build g++ nlohmann-json3-dev libstb-dev libsystemd-dev pkg-config
}

# What the Debian package is made with (scripts/package): dpkg-dev's dpkg-shlibdeps for its
# Depends field, file for CPack to tell the programs from the other files.
need_package_tools() {
    need_build_tools && need_packages dpkg-dev file
}

# What the test suites need besides: GoogleTest, tmux and a UTF-8 locale for the terminal checks,
# ansible-core for the fleet playbook, man-db for the man pages, python3-jsonschema for checking
# the reports against their schemas, lintian for the Debian package, gddrescue for the scans'
# mapfiles, python3-dbusmock and dbus-daemon for a mock logind, python3-prometheus-client for the
# metrics.
need_test_tools() {
    need_package_tools &&
        need_packages libgtest-dev tmux locales python3 python3-jsonschema util-linux ansible-core man-db lintian \
            gddrescue python3-dbusmock dbus-daemon python3-prometheus-client
}

# Whether build directory DIR is new: it holds no CMakeCache.txt, or one whose configure never
# finished (no build.ninja or Makefile beside it, as an interrupted first run or a cache copied
# from elsewhere leaves it). Such a cache is removed, with CMakeFiles/, so that the directory is
# configured afresh.
new_tree() {
    local dir=$1
    [[ -f $dir/CMakeCache.txt ]] || return 0
    [[ -f $dir/build.ninja || -f $dir/Makefile ]] && return 1
    echo "$(basename "$0"): the configure of $dir never finished; configuring it afresh" >&2
    rm -rf "$dir/CMakeCache.txt" "$dir/CMakeFiles"
}

# Configures a build directory: configure_tree DIR [cmake options...]. A directory that is
# configured already keeps its generator (a plain `cmake -S . -B build` makes Makefiles); a new
# one gets Ninja. Quiet unless it fails.
configure_tree() {
    local dir=$1
    shift
    local generator=()
    new_tree "$dir" && generator=(-G Ninja)
    local log
    log=$(mktemp)
    if ! cmake -S "$root" -B "$dir" "${generator[@]}" "$@" >"$log" 2>&1; then
        cat "$log" >&2
        rm -f "$log"
        return 1
    fi
    rm -f "$log"
}

# Configures and builds: build_tree DIR [cmake options...] [-- targets...].
build_tree() {
    local dir=$1
    shift
    local options=() targets=()
    while (($#)) && [[ $1 != -- ]]; do
        options+=("$1")
        shift
    done
    (($#)) && shift && targets=(--target "$@")
    configure_tree "$dir" "${options[@]}" && cmake --build "$dir" --parallel "$parallel" "${targets[@]}"
}
