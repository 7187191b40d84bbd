#!/usr/bin/env bash
# layout_test.sh SOURCE_ROOT: the rules the source tree keeps so that its folders show the
# architecture (docs/architecture.md). Each broken rule is one line naming the file.
#  - the portable rooms include no operating-system header;
#  - the backends under src/platform/ include only platform/ (the entry points and the headless
#    harness aside);
#  - no fake device or check program lives under src/;
#  - every source file's opening comment ends with the threads that run it, named as in the table
#    of src/app/threads.h;
#  - no CMake library is defined twice.
set -uo pipefail
root=${1:?usage: layout_test.sh SOURCE_ROOT}
cd "$root" || exit 2
broken=0
fail() {
    echo "FAIL: $*"
    broken=$((broken + 1))
}

rooms=(app cli console drives history power report scan smart ui)
room_pattern=$(
    IFS='|'
    echo "${rooms[*]}"
)

# Operating-system headers: the POSIX and Linux ones, the Win32 ones.
os_headers='^[[:space:]]*#[[:space:]]*include[[:space:]]*<(unistd\.h|fcntl\.h|termios\.h|poll\.h|dirent\.h|pthread\.h|dlfcn\.h|sys/[^>]*|linux/[^>]*|scsi/[^>]*|systemd/[^>]*|windows\.h|winioctl\.h|ntddscsi\.h|winternl\.h|io\.h|conio\.h)>'
for room in "${rooms[@]}"; do
    while IFS=: read -r file line _; do
        fail "$file:$line: a portable room includes an operating-system header"
    done < <(grep -rnE "$os_headers" "src/$room")
done

while IFS=: read -r file line _; do
    case $file in
    src/platform/*/main.cpp | src/platform/sim/demo_main.cpp | src/platform/headless/*) ;;
    *) fail "$file:$line: a backend includes the portable program" ;;
    esac
done < <(grep -rnE "^[[:space:]]*#[[:space:]]*include[[:space:]]*\"($room_pattern)/" src/platform)

while read -r file; do
    fail "$file: a fake or a check program under src/ (tests/ is their place)"
done < <(find src \( -name 'fake_*' -o -name '*_check.cpp' \) -print)

# The thread names: the lines "  name  | ..." of the table in src/app/threads.h.
mapfile -t threads < <(sed -n 's|^// \([a-z][a-z ]*[a-z]\)  \+[A-Z].*|\1|p' src/app/threads.h)
((${#threads[@]} >= 7)) || fail "src/app/threads.h: no thread table found (${#threads[@]} names)"
while read -r file; do
    # The opening comment: the lines of // at the top of the file, a clang-format switch aside.
    last=$(awk '!/^\/\//{exit} !/^\/\/ clang-format/{line=$0} END{print line}' "$file")
    if [[ ! $last =~ ^//\ Threads?:\ (.*)\.$ ]]; then
        fail "$file: the opening comment does not end with the threads that run it"
        continue
    fi
    IFS=',' read -ra named <<<"${BASH_REMATCH[1]}"
    for name in "${named[@]}"; do
        name=${name# }
        printf '%s\n' "${threads[@]}" | grep -qxF "$name" ||
            fail "$file: the thread \"$name\" is not in the table of src/app/threads.h"
    done
done < <(find src tests/win32 -name '*.cpp' -o -name '*.h' -o -name '*.cpp.in' | sort)

while read -r count name; do
    ((count > 1)) && fail "the CMake library $name is defined $count times"
done < <(find . -path ./build\* -prune -o \( -name CMakeLists.txt -o -name '*.cmake' \) -print |
    xargs sed -n 's/.*add_library(\([A-Za-z0-9_-]*\).*/\1/p' | sort | uniq -c)

((broken == 0)) && echo "the source tree keeps its layout"
exit $((broken > 0))
