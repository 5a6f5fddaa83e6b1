#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The manual pages format without a warning and name the project's version, and
# tarvik-dump(1) lists exactly the options that tarvik-dump --help shows, so that
# the two cannot drift apart. Tables go through tbl, as man(1) does for a page
# that starts with '\" t.
# Usage: man_pages.sh MAN_DIR TARVIK_DUMP VERSION PAGE...
set -u

man_dir=$1
program=$2
version=$3
shift 3

if ! command -v groff >/dev/null 2>&1; then
    echo "FAIL: groff is missing (scripts/setup.sh installs it)"
    exit 1
fi

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

for page in "$@"; do
    grep -q "^\.TH [^ ]* 1 [^ ]* \"Tarvik $version\"" "$man_dir/$page" ||
        fail "$page: its .TH line does not name Tarvik $version: $(grep '^\.TH' "$man_dir/$page")"
    warnings=$(LC_ALL=C.UTF-8 groff -t -man -ww -z -Tutf8 "$man_dir/$page" 2>&1)
    [ -z "$warnings" ] || fail "$page: groff warns:"$'\n'"$warnings"
    # Every page has the sections that a reader looks for.
    text=$(LC_ALL=C groff -t -man -Tascii -P-cbou "$man_dir/$page" 2>/dev/null)
    for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" FILES EXAMPLES "SEE ALSO"; do
        grep -qx "$section" <<<"$text" || fail "$page has no $section section"
    done
done

# The options as --help names them, and as the OPTIONS section of the page does.
help=$("$program" --help) || fail "tarvik-dump --help failed"
help_options=$(sed -n 's/^ *\(-[^ ].*\)  .*/\1/p; s/^ *\(-[^ ]*\)$/\1/p' <<<"$help" |
               grep -oE '(^|, )--?[a-z][a-z-]*' | sed 's/^, //' | LC_ALL=C sort -u)
page_text=$(LC_ALL=C groff -t -man -Tascii -P-cbou "$man_dir/tarvik-dump.1" 2>/dev/null)
# The entries of OPTIONS are the lines indented by 7 that start with a dash.
page_options=$(sed -n '/^OPTIONS$/,/^[A-Z]/p' <<<"$page_text" | sed -n 's/^       \(-.*\)/\1/p' |
               grep -oE '(^|, )--?[a-z][a-z-]*' | sed 's/^, //' | LC_ALL=C sort -u)
[ -n "$help_options" ] || fail "found no options in tarvik-dump --help"
missing=$(LC_ALL=C comm -23 <(printf '%s\n' "$help_options") <(printf '%s\n' "$page_options"))
extra=$(LC_ALL=C comm -13 <(printf '%s\n' "$help_options") <(printf '%s\n' "$page_options"))
[ -z "$missing" ] || fail "tarvik-dump(1) does not describe these options of --help:"$'\n'"$missing"
[ -z "$extra" ] || fail "tarvik-dump(1) describes options that --help does not show:"$'\n'"$extra"

if [ "$failures" -ne 0 ]; then
    exit 1
fi
echo "the manual pages format cleanly; tarvik-dump(1) and --help name the same options:" $help_options
