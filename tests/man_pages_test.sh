#!/usr/bin/env bash
# man_pages_test.sh VERSION PAGE PROGRAM [PAGE PROGRAM...]: each man page (as the build configured
# it) renders with man-db without a single warning, for a UTF-8 terminal and for an ASCII one (the
# C locale, where its Cyrillic labels are spelt in Latin letters), has a NAME line that mandb can
# index, carries VERSION, and documents every option that PROGRAM --help names.
set -u
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
command -v man >/dev/null || fail "man is not installed (Debian: man-db)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export MANWIDTH=80
version=$1
shift

while (($# >= 2)); do
    page=$1 program=$2
    shift 2
    name=$(basename "$page")
    for locale in C C.UTF-8; do
        LC_ALL=$locale man --warnings -l "$page" >"$work/$name.txt" 2>"$work/$name.err"
        status=$?
        [[ $status == 0 ]] || fail "$name ($locale): man exited with status $status: $(cat "$work/$name.err")"
        [[ ! -s $work/$name.err ]] || fail "$name ($locale): warnings:"$'\n'"$(head -20 "$work/$name.err")"
    done
    grep -qF "Введите" "$work/$name.txt" || fail "$name: no Cyrillic label in the UTF-8 rendering"
    grep -q '@[A-Z_]*@' "$page" && fail "$name: a placeholder was not replaced: $(grep -o '@[A-Z_]*@' "$page" | head -1)"

    # The line whatis and apropos show: "name - description".
    whatis=$(lexgrog "$page" 2>&1) || fail "$name: lexgrog finds no NAME section: $whatis"
    [[ $whatis == *"\"${name%.*} - "?*\" ]] || fail "$name: NAME line as indexed: $whatis"

    grep -qF "platenhawk $version" "$work/$name.txt" || fail "$name: the footer does not say platenhawk $version"

    help=$("$program" --help) || fail "$program --help exited with status $?"
    options=$(grep -oE -- '--[a-z][a-z-]*' <<<"$help" | sort -u)
    [[ -n $options ]] || fail "$program --help names no option"
    for option in $options; do
        grep -qF -- "$option" "$work/$name.txt" || fail "$name does not document $option, which $program --help names"
    done
    echo "$name: renders without warnings in C and C.UTF-8; documents $(wc -w <<<"$options") options of --help"
done
(($# == 0)) || fail "usage: man_pages_test.sh VERSION PAGE PROGRAM [PAGE PROGRAM...]"
