#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the build into a scratch prefix and checks what lands there (the files, the icon
# sizes, the menu entry and metainfo, the manual pages and the shell completion, the artwork
# inside the program), then starts the installed program offscreen and checks that it runs
# from the prefix alone: it must not touch the source or build tree, nor miss a file that it
# expects beside itself.
# Usage: install_prefix.sh SOURCE_DIR BUILD_DIR APP_ID
# Exit status 77 (skipped) when this machine does not let strace follow a program.
set -u

src_given=$1
build_given=$2
app_id=$3
src=$(cd "$src_given" && pwd -P)
build=$(cd "$build_given" && pwd -P)

work=$(mktemp -d "${TMPDIR:-/tmp}/tarvik-install.XXXXXX") || exit 1
work=$(cd "$work" && pwd -P)
program_pid=""
cleanup() {
    if [ -n "$program_pid" ]; then
        kill "$program_pid" 2>/dev/null
        wait
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

under() { # under PATH DIR: PATH is DIR or lies below it
    case "$1" in "$2" | "$2"/*) return 0 ;; esac
    return 1
}

for dir in "$src" "$build"; do
    if under "$work" "$dir"; then
        echo "the scratch folder $work lies inside $dir; point TMPDIR elsewhere"
        exit 1
    fi
done

prefix=$work/prefix
if ! cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
    cat "$work/install.log"
    echo "FAIL: cmake --install"
    exit 1
fi

# ---------------------------------------------------------------- what lands in the prefix

expected="bin/tarvik
bin/tarvik-dump
bin/tarvik-loader-sim
share/applications/$app_id.desktop
share/bash-completion/completions/tarvik-dump
share/doc/tarvik/copyright
share/icons/hicolor/128x128/apps/tarvik.png
share/icons/hicolor/16x16/apps/tarvik.png
share/icons/hicolor/256x256/apps/tarvik.png
share/icons/hicolor/32x32/apps/tarvik.png
share/icons/hicolor/48x48/apps/tarvik.png
share/man/man1/tarvik-dump.1.gz
share/man/man1/tarvik.1.gz
share/metainfo/$app_id.metainfo.xml"
actual=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
expected=$(printf '%s\n' "$expected" | LC_ALL=C sort)
if [ "$actual" != "$expected" ]; then
    fail "installed files differ from the expected set:"
    printf '%s\n' "$expected" >"$work/expected"
    printf '%s\n' "$actual" >"$work/actual"
    diff -u "$work/expected" "$work/actual" | sed -n '3,$p'
fi

for program in tarvik tarvik-dump tarvik-loader-sim; do
    [ -x "$prefix/bin/$program" ] || fail "bin/$program is not executable"
done

# The command-line program runs from the prefix without a display, and links neither Qt
# Gui nor Qt Widgets.
if [ -x "$prefix/bin/tarvik-dump" ]; then
    version=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$prefix/bin/tarvik-dump" --version 2>&1)
    case "$version" in
    "tarvik-dump "*) ;;
    *) fail "bin/tarvik-dump --version printed: $version" ;;
    esac
    if readelf -d "$prefix/bin/tarvik-dump" | grep -qE 'NEEDED.*libQt6(Gui|Widgets)'; then
        fail "bin/tarvik-dump links Qt Gui or Qt Widgets"
    fi
fi

# man finds each page in the prefix, and the installed page is the one in the source tree;
# bash-completion finds the completion by the program's name.
for page in tarvik tarvik-dump; do
    installed=$prefix/share/man/man1/$page.1.gz
    [ -f "$installed" ] || continue
    found=$(man -M "$prefix/share/man" -w "$page" 2>&1)
    [ "$found" = "$installed" ] || fail "man -w $page finds \"$found\", not $installed"
    zcat "$installed" 2>/dev/null | cmp -s - "$src/packaging/man/$page.1" ||
        fail "share/man/man1/$page.1.gz is not packaging/man/$page.1, compressed"
done
completion=$prefix/share/bash-completion/completions/tarvik-dump
if [ -f "$completion" ]; then
    cmp -s "$completion" "$src/packaging/tarvik-dump.bash-completion" ||
        fail "the installed completion is not packaging/tarvik-dump.bash-completion"
fi

# Each icon is a PNG of the size that its folder names.
for size in 16 32 48 128 256; do
    icon=$prefix/share/icons/hicolor/${size}x${size}/apps/tarvik.png
    [ -f "$icon" ] || continue
    signature=$(od -An -tx1 -N8 "$icon" | tr -d ' \n')
    dims=$(od -An -tu1 -j16 -N8 "$icon" |
           awk '{ printf "%d %d", $1*16777216 + $2*65536 + $3*256 + $4, $5*16777216 + $6*65536 + $7*256 + $8 }')
    if [ "$signature" != 89504e470d0a1a0a ]; then
        fail "${size}x${size} icon is not a PNG"
    elif [ "$dims" != "$size $size" ]; then
        fail "${size}x${size} icon measures $dims"
    fi
done

# The menu entry starts the installed program and names the installed icon; the metainfo
# and the menu entry agree with each other (appstreamcli checks the tree as a whole).
desktop=$prefix/share/applications/$app_id.desktop
if [ -f "$desktop" ]; then
    exec_cmd=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
    icon_name=$(sed -n 's/^Icon=//p' "$desktop")
    [ -x "$prefix/bin/$exec_cmd" ] || fail "Exec=$exec_cmd is not an installed program"
    [ -f "$prefix/share/icons/hicolor/48x48/apps/$icon_name.png" ] || fail "Icon=$icon_name is not an installed icon"
fi
if ! appstreamcli validate-tree --no-net --strict "$prefix" >"$work/validate.log" 2>&1; then
    cat "$work/validate.log"
    fail "appstreamcli validate-tree"
fi

# The artwork travels inside the program (Qt's resource system keeps each file's name in
# UTF-16): every file of the window's resource list must be in the installed program.
qrc=$src/src/window/resources/resources.qrc
if [ -f "$qrc" ] && [ -f "$prefix/bin/tarvik" ]; then
    for name in $(sed -n 's|.*<file[^>]*>\(.*\)</file>.*|\1|p' "$qrc"); do
        base=${name##*/}
        pattern=$(printf '%s' "$base" | sed 's/[^A-Za-z0-9]/\\&/g; s/\(\\\{0,1\}.\)/\\x00\1/g')
        LC_ALL=C grep -qaP "$pattern" "$prefix/bin/tarvik" || fail "the installed program lacks its resource $name"
    done
fi

# ---------------------------------------------------------------- the installed program runs

if ! command -v strace >/dev/null 2>&1; then
    fail "strace is missing (scripts/setup.sh installs it)"
    exit 1
fi

mkdir "$work/cwd" "$work/runtime" && chmod 700 "$work/runtime"
cd "$work/cwd" || exit 1
{
    QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$work/runtime \
        strace -f -qq -o "$work/trace" -e trace=%file "$prefix/bin/tarvik" >"$work/stdout" 2>"$work/stderr"
    echo "$?" >"$work/status.tmp"
    mv "$work/status.tmp" "$work/status"
} 2>/dev/null &

ended() { [ -f "$work/status" ]; }
status() { cat "$work/status"; }
find_program() {
    [ -n "$program_pid" ] && return 0
    program_pid=$(sed -n 's|^\([0-9][0-9]*\) *execve("'"$prefix"'/bin/tarvik".*= 0$|\1|p' "$work/trace" 2>/dev/null | head -n 1)
    [ -n "$program_pid" ]
}
show_output() {
    echo "--- output of the installed program:"
    cat "$work/stdout" "$work/stderr"
}

# Wait until the window is being laid out (the first font file is opened for its text),
# as long as the program keeps running.
font='\.(ttf|otf|ttc|pfb|pfa|pcf|pcf\.gz)"'
tries=0
until grep -qE "$font" "$work/trace" 2>/dev/null; do
    find_program
    if ended; then
        if ! grep -q 'execve(' "$work/trace" 2>/dev/null && grep -q 'ptrace' "$work/stderr"; then
            echo "strace cannot follow a program on this machine:"
            cat "$work/stderr"
            exit 77
        fi
        show_output
        fail "the installed program ended with status $(status) before it laid out its window"
        exit 1
    fi
    tries=$((tries + 1))
    if [ "$tries" -ge 1200 ]; then
        show_output
        fail "the installed program did not lay out its window within 120 s"
        exit 1
    fi
    sleep 0.1
done
if ! find_program; then
    fail "cannot find the installed program in the trace"
    exit 1
fi

# Still running three seconds later (its first paint and event handling done) counts as
# started.
tries=0
while [ "$tries" -lt 30 ] && ! ended; do
    tries=$((tries + 1))
    sleep 0.1
done
if ended; then
    program_pid=""
    show_output
    fail "the installed program ended with status $(status) right after start-up"
    exit 1
fi
kill "$program_pid" 2>/dev/null
wait
program_pid=""

# Every path that a file call named, with "missing" when the call found nothing there.
call='^[0-9]+ +[a-z0-9_]+\((AT_FDCWD, )?"([^"]*)"'
sed -nE -e "s/$call.*= -1 ENOENT .*$/missing \\2/p" \
        -e "s/$call.*$/seen \\2/p" "$work/trace" \
    | awk '{ # fold "." and ".." out of absolute paths
               path = substr($0, length($1) + 2)
               if (substr(path, 1, 1) == "/") {
                   n = split(path, part, "/"); depth = 0
                   for (i = 2; i <= n; i++) {
                       if (part[i] == "" || part[i] == ".") continue
                       if (part[i] == "..") { if (depth > 0) depth--; continue }
                       kept[++depth] = part[i]
                   }
                   path = ""
                   for (i = 1; i <= depth; i++) path = path "/" kept[i]
                   if (path == "") path = "/"
               }
               print $1, path }' \
    | sort -u >"$work/paths"
[ -s "$work/paths" ] || fail "the trace holds no file calls"

while read -r result path; do
    if [ -n "$path" ] && [ "${path#/}" = "$path" ]; then
        fail "the installed program used a path relative to its working folder: $path"
        continue
    fi
    for tree in "$src" "$build" "$src_given" "$build_given"; do
        if under "$path" "$tree"; then
            fail "the installed program looked into the source or build tree: $path"
            continue 2
        fi
    done
    # Qt looks beside the program for qt.conf and plugin folders that need not exist;
    # anything else that the program looks for in the prefix must be there.
    if [ "$result" = missing ] && under "$path" "$prefix" && ! under "$path" "$prefix/bin"; then
        fail "the installed program looked for a file that is not installed: $path"
    fi
done <"$work/paths"

if [ "$failures" -ne 0 ]; then
    show_output
    exit 1
fi
echo "the installation is complete, and the installed program runs from it alone"
