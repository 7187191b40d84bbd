#!/usr/bin/env bash
# package_test.sh BUILD SOURCE VERSION dynamic|static: what `cmake --install` puts into a prefix
# and what `cpack` puts into the Debian package, file by file, with the package's control fields.
#   install: sbin/platenhawk, bin/platenhawk-demo, the two man pages gzipped as Debian keeps them
#            (no name, no time stamp) and equal to the build's, and in share/doc/platenhawk the
#            copyright file, the changelog (gzipped the same way), the example scenarios, the
#            metrics' systemd service and timer and the fleet playbook of SOURCE/examples and the reports' JSON Schemas of SOURCE/docs/schemas;
#            programs that run and are linked as asked.
#   package: platenhawk_VERSION_ARCH.deb with the same files under /usr and nothing else, owned by
#            root, programs stripped; Package, Version, Architecture, Section admin, a Maintainer,
#            a Description with a long part, and Depends on nothing but libc6, libgcc-s1,
#            libstdc++6 and libsystemd0 (nothing at all for a static build); lintian finds no error and no
#            warning (skipped, with a line, where lintian is not installed). Without
#            dpkg-shlibdeps on the PATH cpack fails and makes no package.
set -u
build=$(realpath "$1") source=$(realpath "$2") version=$3 linking=$4
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

examples=()
for f in "$source"/examples/*.ini "$source"/examples/*.service "$source"/examples/*.timer; do
    examples+=("$(basename "$f")")
done
((${#examples[@]} > 0)) || fail "no example scenarios in $source/examples"
fleet=()
while IFS= read -r f; do fleet+=("$f"); done < <(cd "$source/examples" && find fleet -type f ! -path 'fleet/reports/*')
((${#fleet[@]} > 3)) || fail "no fleet playbook in $source/examples/fleet"
schemas=()
for f in "$source"/docs/schemas/*.schema.json; do schemas+=("$(basename "$f")"); done
((${#schemas[@]} == 4)) || fail "not the four schemas (scan, SMART, drive list, history) in $source/docs/schemas: ${schemas[*]}"
# The files of the tree, relative to its root, as "sort" orders them.
expected_files() {
    local prefix=$1
    {
        echo "${prefix}bin/platenhawk-demo"
        echo "${prefix}sbin/platenhawk"
        echo "${prefix}share/doc/platenhawk/changelog.gz"
        echo "${prefix}share/doc/platenhawk/copyright"
        for e in "${examples[@]}" "${fleet[@]}"; do echo "${prefix}share/doc/platenhawk/examples/$e"; done
        for e in "${schemas[@]}"; do echo "${prefix}share/doc/platenhawk/schemas/$e"; done
        echo "${prefix}share/man/man1/platenhawk-demo.1.gz"
        echo "${prefix}share/man/man8/platenhawk.8.gz"
    } | LC_ALL=C sort
}
same_list() {  # same_list WHAT EXPECTED ACTUAL
    [[ $2 == "$3" ]] || fail "$1:"$'\n'"$(diff <(echo "$2") <(echo "$3"))"
}

# ---------------------------------------------------------------- cmake --install
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || fail "cmake --install: $(cat "$work/install.log")"
same_list "installed files (< expected, > installed)" "$(expected_files "")" \
    "$(cd "$prefix" && find . ! -type d | sed 's|^\./||' | LC_ALL=C sort)"
for page in man1/platenhawk-demo.1 man8/platenhawk.8; do
    gz=$prefix/share/man/$page.gz
    cmp -s <(gzip -dc "$gz") "$build/man/${page#*/}" || fail "$page.gz is not the page the build configured"
    # gzip's header: byte 3 holds the flags (8: a file name follows), bytes 4-7 the time stamp.
    header=$(od -An -tu1 -N8 "$gz" | tr -s ' ')
    [[ $header == " 31 139 8 0 0 0 0 0" ]] || fail "$page.gz carries a name or a time stamp: header$header"
done
for e in "${examples[@]}" "${fleet[@]}"; do
    cmp -s "$source/examples/$e" "$prefix/share/doc/platenhawk/examples/$e" || fail "examples/$e differs from the source"
done
for e in "${schemas[@]}"; do
    cmp -s "$source/docs/schemas/$e" "$prefix/share/doc/platenhawk/schemas/$e" || fail "schemas/$e differs from the source"
done
cmp -s "$source/cmake/debian/copyright" "$prefix/share/doc/platenhawk/copyright" || fail "the copyright file differs"
changelog=$(gzip -dc "$prefix/share/doc/platenhawk/changelog.gz")
[[ $(head -1 <<<"$changelog") == "platenhawk ($version) unstable; urgency=medium" ]] ||
    fail "the changelog's first line: $(head -1 <<<"$changelog")"
[[ $(od -An -tu1 -N8 "$prefix/share/doc/platenhawk/changelog.gz" | tr -s ' ') == " 31 139 8 0 0 0 0 0" ]] ||
    fail "changelog.gz carries a name or a time stamp"
for program in sbin/platenhawk bin/platenhawk-demo; do
    [[ -x $prefix/$program ]] || fail "$program is not executable"
    "$prefix/$program" --help >/dev/null || fail "$program --help exited with status $?"
    kind=$(file -b "$prefix/$program")
    case $linking in
        dynamic) [[ $kind == *"dynamically linked"* ]] || fail "$program: $kind" ;;
        static)
            [[ $kind == *"statically linked"* ]] || fail "$program: $kind"
            ! ldd "$prefix/$program" >/dev/null 2>&1 || fail "$program: ldd finds libraries: $(ldd "$prefix/$program")"
            ;;
        *) fail "linking is dynamic or static, not $linking" ;;
    esac
done
echo "install: ${#examples[@]} example scenarios, ${#fleet[@]} files of the fleet playbook, ${#schemas[@]} schemas, two man pages, two $linking programs"

# ---------------------------------------------------------------- cpack
arch=$(dpkg --print-architecture)
(cd "$work" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/package") >"$work/cpack.log" 2>&1 ||
    fail "cpack: $(cat "$work/cpack.log")"
debs=("$work"/package/*.deb)
same_list "packages made" "$work/package/platenhawk_${version}_$arch.deb" "${debs[*]}"
deb=${debs[0]}

dpkg-deb -c "$deb" >"$work/contents" || fail "dpkg-deb -c failed"
same_list "package files (< expected, > in the package)" "$(expected_files ./usr/)" \
    "$(awk '$1 !~ /^d/ {print $6}' "$work/contents" | LC_ALL=C sort)"
awk '$2 != "root/root" {print}' "$work/contents" | grep . && fail "files not owned by root"
for program in ./usr/sbin/platenhawk ./usr/bin/platenhawk-demo; do
    grep -qE "^-rwxr-xr-x .* $program\$" "$work/contents" || fail "$program: $(grep -F "$program" "$work/contents")"
done
awk '$1 !~ /^d/ && $6 !~ /bin\// && $1 != "-rw-r--r--" {print}' "$work/contents" | grep . && fail "data files not 0644"
dpkg-deb -x "$deb" "$work/root" || fail "dpkg-deb -x failed"
for program in usr/sbin/platenhawk usr/bin/platenhawk-demo; do
    file -b "$work/root/$program" | grep -q ", stripped" || fail "$program is not stripped: $(file -b "$work/root/$program")"
done
cmp -s "$work/root/usr/share/man/man8/platenhawk.8.gz" "$prefix/share/man/man8/platenhawk.8.gz" ||
    fail "the package's man page differs from the installed one"

dpkg-deb -I "$deb" >"$work/info" || fail "dpkg-deb -I failed"
field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == platenhawk ]] || fail "Package: $(field Package)"
[[ $(field Version) == "$version" ]] || fail "Version: $(field Version), expected $version"
[[ $(field Architecture) == "$arch" ]] || fail "Architecture: $(field Architecture)"
[[ $(field Section) == admin ]] || fail "Section: $(field Section)"
[[ $(field Maintainer) =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || fail "Maintainer: $(field Maintainer)"
description=$(field Description | sed "s/^ //")
[[ $(head -1 <<<"$description") =~ ^[a-z].{10,79}$ ]] || fail "Description's summary: $(head -1 <<<"$description")"
(($(wc -l <<<"$description") >= 4)) || fail "Description has no long part: $description"
(($(grep -cxF "$(head -1 <<<"$description")" <<<"$description") == 1)) ||
    fail "the summary comes again in the long part: $description"
depends=$(field Depends | tr ',' '\n' | sed 's/(.*)//; s/ //g' | grep . | LC_ALL=C sort)
case $linking in
    dynamic)
        grep -qx libc6 <<<"$depends" || fail "Depends lacks libc6: $(field Depends)"
        grep -qx libstdc++6 <<<"$depends" || fail "Depends lacks libstdc++6: $(field Depends)"
        grep -qx libsystemd0 <<<"$depends" || fail "Depends lacks libsystemd0: $(field Depends)"
        others=$(grep -vxE 'libc6|libgcc-s1|libstdc\+\+6|libsystemd0' <<<"$depends")
        [[ -z $others ]] || fail "Depends on more than libc6, libgcc-s1, libstdc++6 and libsystemd0: $(field Depends)"
        ;;
    static) [[ -z $depends ]] || fail "a static build depends on $(field Depends)" ;;
esac
echo "package: $(basename "$deb"), $(grep -c . <<<"$(expected_files "")") files, Depends: $(field Depends)"

if command -v lintian >/dev/null; then
    lintian "$deb" >"$work/lintian" 2>&1
    grep -E '^[EW]: ' "$work/lintian" && fail "lintian: errors or warnings:"$'\n'"$(cat "$work/lintian")"
    echo "lintian: no errors, no warnings"
else
    echo "lintian is not installed (Debian package lintian): the package's lintian check is skipped"
fi

# Without dpkg-shlibdeps there would be no Depends field: cpack must fail instead. The PATH holds
# every program of the machine's PATH but dpkg-shlibdeps.
if [[ $linking == dynamic ]]; then
    mkdir "$work/path"
    IFS=: read -ra folders <<<"$PATH"
    for folder in "${folders[@]}"; do
        for program in "$folder"/*; do
            name=$(basename "$program")
            [[ $name == dpkg-shlibdeps || -e $work/path/$name || ! -x $program ]] || ln -s "$program" "$work/path/$name"
        done
    done
    (cd "$work" && PATH=$work/path cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/no-shlibdeps") \
        >"$work/no-shlibdeps.log" 2>&1 && fail "cpack without dpkg-shlibdeps succeeded: $(cat "$work/no-shlibdeps.log")"
    grep -q "dpkg-shlibdeps is not on the PATH" "$work/no-shlibdeps.log" ||
        fail "cpack without dpkg-shlibdeps does not say why: $(cat "$work/no-shlibdeps.log")"
    find "$work/no-shlibdeps" -name '*.deb' | grep . && fail "cpack without dpkg-shlibdeps made a package"
    echo "without dpkg-shlibdeps: cpack fails and makes no package"
fi
