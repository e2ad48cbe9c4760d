#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# A manual page formats without a single warning from groff or mandoc, and
# shows what its program itself says: every option and command of its help
# texts, its version line, its usage message.
#
# usage: man_test.sh PAGE PROGRAM
set -u
page=$1 program=$2
failures=0
fail() {
    printf 'FAIL: %s\n' "$*"
    failures=$((failures + 1))
}

# silent WHAT COMMAND...: the command succeeds and prints nothing at all.
silent() {
    local what=$1 out
    shift
    if ! out=$("$@" 2>&1) || [[ -n $out ]]; then
        fail "$what"
        printf '%s\n' "$out"
    fi
}
silent "groff -man -ww -z" groff -man -ww -z "$page"
silent "mandoc -T lint" mandoc -T lint "$page"

text=$(groff -man -Tascii -P-cbou "$page" 2>/dev/null | tr -s "[:space:]" " ")
shows() {
    [[ $text == *"$1"* ]] || fail "the page does not show: $1"
}
help_options() {
    "$@" | sed -n '/^Options:/,/^$/p' | grep -oE '(^|[ ,])--?[A-Za-z][A-Za-z-]*' | tr -d ' ,'
}

case $(basename "$program") in
    tuvel-edit)
        for args in --help 'help read' 'help apply' 'help batch'; do
            # shellcheck disable=SC2086
            for option in $(help_options "$program" $args); do shows "$option"; done
        done
        for command in $("$program" --help | sed -n '/^Commands:/,/^$/s/^  \([a-z]*\) .*/\1/p'); do
            shows "$command"
        done
        shows "$("$program" --version)"
        ;;
    tuvel-mcp)
        for option in $(help_options "$program" --help); do shows "$option"; done
        shows "$("$program" --version)"
        ;;
    tuvel-speech)
        usage=$("$program" 2>&1)
        shows "${usage#tuvel-speech: }"
        ;;
    *)
        fail "no checks for $program"
        ;;
esac

((failures == 0))
