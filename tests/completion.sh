#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The bash completion of tarvik-dump, in a plain bash and, where the package is
# installed, with the bash-completion package's helpers loaded: each case sets
# the command line as bash would, calls the completion function and compares
# COMPREPLY with what is expected. The options offered are those of --help.
# Usage: completion.sh COMPLETION_FILE TARVIK_DUMP
set -u

completion=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
program=$2
helpers=/usr/share/bash-completion/bash_completion

work=$(mktemp -d "${TMPDIR:-/tmp}/tarvik-completion.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT

# A device folder of its own, and a folder to complete file names in.
mkdir -p "$work/dev/serial/by-id" "$work/files/dumps" "$work/files/dump space"
touch "$work/dev/ttyUSB0" "$work/dev/ttyUSB1" "$work/dev/ttyACM0" "$work/dev/ttyS0" "$work/dev/tty0" \
      "$work/dev/null" "$work/files/dump.bin" "$work/files/dumps.log"
ln -s ../../ttyUSB1 "$work/dev/serial/by-id/usb-FTDI_FT232R_A1B2-if00-port0"

long_options=$("$program" --help | grep -oE '(^|[ ,])--[a-z][a-z-]*' | sed 's/^[ ,]*//' | LC_ALL=C sort -u)
if [ -z "$long_options" ]; then
    echo "FAIL: found no options in tarvik-dump --help"
    exit 1
fi

run_case() { # run_case MODE WORDS EXPECTED: prints what differs
    local mode=$1 words=$2 expected=$3
    (
        cd "$work/files" || exit 1
        if [ "$mode" = helpers ]; then
            # shellcheck disable=SC1090
            source "$helpers" >/dev/null 2>&1
        fi
        # shellcheck disable=SC1090
        source "$completion"
        _tarvik_dump_dev=$work/dev
        # The words as bash splits them: "=" is a word of its own, and a line
        # that ends in a space has an empty word to complete.
        IFS=' ' read -r -a COMP_WORDS <<<"$words"
        [[ $words == *' ' ]] && COMP_WORDS+=("")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        COMP_LINE=${words// = /=}
        COMP_LINE=${COMP_LINE% =}
        [[ $words == *' =' ]] && COMP_LINE+='='
        COMP_POINT=${#COMP_LINE}
        COMPREPLY=()
        _tarvik_dump tarvik-dump "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
        got=$(printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | LC_ALL=C sort)
        if [ "$got" != "$expected" ]; then
            printf 'completing "%s" (%s): expected\n%s\ngot\n%s\n' "$COMP_LINE" "$mode" "$expected" "$got"
        fi
    )
}

modes=(plain)
if [ -f "$helpers" ]; then
    modes+=(helpers)
else
    echo "note: $helpers is not installed; only the plain bash is tried"
fi

failures=0
checked=0
check() { # check WORDS EXPECTED-REPLY...
    local words=$1 expected mode difference
    shift
    expected=$(printf '%s\n' "$@" | sed '/^$/d' | LC_ALL=C sort)
    for mode in "${modes[@]}"; do
        checked=$((checked + 1))
        difference=$(run_case "$mode" "$words" "$expected")
        if [ -n "$difference" ]; then
            echo "FAIL: $difference"
            failures=$((failures + 1))
        fi
    done
}

d=$work/dev
# shellcheck disable=SC2086
check "tarvik-dump --" $long_options
check "tarvik-dump --po" --port
check "tarvik-dump -p /dev/ttyUSB0 --ve" --verify --version
check "tarvik-dump -p " "$d/serial/by-id/usb-FTDI_FT232R_A1B2-if00-port0" \
      "$d/ttyACM0" "$d/ttyS0" "$d/ttyUSB0" "$d/ttyUSB1"
check "tarvik-dump --port $d/ttyU" "$d/ttyUSB0" "$d/ttyUSB1"
check "tarvik-dump --port = $d/ttyA" "$d/ttyACM0"
check "tarvik-dump --port =" "$d/serial/by-id/usb-FTDI_FT232R_A1B2-if00-port0" \
      "$d/ttyACM0" "$d/ttyS0" "$d/ttyUSB0" "$d/ttyUSB1"
check "tarvik-dump -o dump" "dump space" dumps
check "tarvik-dump --output = dump" "dump space" dumps
check "tarvik-dump --verify dump" "dump space" dump.bin dumps dumps.log
check "tarvik-dump --log dumps" dumps dumps.log
check "tarvik-dump --count "
check "tarvik-dump --color " always auto never
check "tarvik-dump --color = n" never
check "tarvik-dump -p $d/ttyUSB0 "

# Loaded the way bash-completion loads it, the file names its function for the program.
binding=$(bash --norc --noprofile -c 'source "$1"; complete -p tarvik-dump' _ "$completion" 2>&1)
[ "$binding" = "complete -F _tarvik_dump tarvik-dump" ] || {
    echo "FAIL: the completion file binds: $binding"
    failures=$((failures + 1))
}

if [ "$failures" -ne 0 ]; then
    exit 1
fi
echo "$checked completions as expected (${modes[*]})"
