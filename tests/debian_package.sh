#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package with CPack into a scratch folder and checks it: its name and
# control fields, that it depends on the Qt 6 runtime libraries that the programs link (and
# on nothing but them and the C and C++ runtime), and that it holds exactly the files that
# an installation into /usr puts in place, the manual pages and the shell completion among them.
# Usage: debian_package.sh BUILD_DIR VERSION
set -u

build=$1
version=$2

for tool in cpack dpkg-deb dpkg-shlibdeps; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "FAIL: $tool is missing (scripts/setup.sh installs it)"
        exit 1
    fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/tarvik-deb.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

if ! (cd "$build" && cpack -G DEB -B "$work") >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    echo "FAIL: cpack -G DEB"
    exit 1
fi

arch=$(dpkg --print-architecture)
deb=$work/tarvik_${version}_${arch}.deb
if [ ! -f "$deb" ]; then
    cat "$work/cpack.log"
    echo "FAIL: no $(basename "$deb") in:"
    ls "$work"
    exit 1
fi

for field in "Package tarvik" "Version $version" "Architecture $arch"; do
    read -r key want <<<"$field"
    value=$(dpkg-deb -f "$deb" "$key")
    [ "$value" = "$want" ] || fail "$key is \"$value\", not \"$want\""
done

# Dependencies: names only, without versions or alternatives.
depends=$(dpkg-deb -f "$deb" Depends)
names=$(printf '%s\n' "$depends" | tr ',|' '\n\n' | sed 's/(.*)//; s/[[:space:]]//g' | sed '/^$/d' | sort -u)
for needed in libqt6core6 libqt6gui6 libqt6widgets6 libqt6serialport6; do
    printf '%s\n' "$names" | grep -qx "$needed" || fail "Depends lacks $needed: $depends"
done
for name in $names; do
    case "$name" in
    libqt6core6 | libqt6gui6 | libqt6widgets6 | libqt6serialport6) ;; # the libraries linked
    qt6-qpa-plugins) ;;                    # where a release keeps the X11 platform plugin apart
    libc6 | libgcc-s1 | libstdc++6) ;;     # the C and C++ runtime
    *) fail "Depends names $name, which the programs do not need: $depends" ;;
    esac
done

# The package holds what an installation into /usr holds.
if ! DESTDIR=$work/root cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1; then
    cat "$work/install.log"
    fail "cmake --install"
fi
(cd "$work/root" && find . -type f | LC_ALL=C sort) >"$work/installed"
dpkg-deb -c "$deb" >"$work/contents"
awk '$1 ~ /^-/ { print $NF }' "$work/contents" | LC_ALL=C sort >"$work/packaged"
if ! cmp -s "$work/installed" "$work/packaged"; then
    fail "the package's files differ from an installation's:"
    diff -u "$work/installed" "$work/packaged" | sed -n '3,$p'
fi
for program in tarvik tarvik-dump tarvik-loader-sim; do
    grep -qE "^-rwxr-xr-x .* \./usr/bin/$program\$" "$work/contents" \
        || fail "usr/bin/$program is not an executable of the package"
done

for file in usr/share/man/man1/tarvik.1.gz usr/share/man/man1/tarvik-dump.1.gz \
            usr/share/bash-completion/completions/tarvik-dump; do
    grep -qE "^-rw-r--r-- .* \./$file\$" "$work/contents" || fail "the package has no $file readable by all"
done

if [ "$failures" -ne 0 ]; then
    echo "--- control:"
    dpkg-deb -I "$deb"
    exit 1
fi
echo "$(basename "$deb"): Depends: $depends"
