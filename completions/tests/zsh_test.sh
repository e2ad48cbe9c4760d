#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The zsh completions parse, register for their programs, and offer the
# expected matches when a command line is typed into an interactive zsh.
#
# usage: zsh_test.sh ZSH-COMPLETION-DIR
set -u
dir=$(realpath "$1")
driver=$(realpath "$(dirname "$0")/zsh_complete.zsh")
failures=0
fail() {
    printf 'FAIL: %s\n' "$*"
    failures=$((failures + 1))
}

for file in "$dir"/_*; do
    out=$(zsh -n "$file" 2>&1) && [[ -z $out ]] || fail "zsh -n $file: $out"
done
registered=$(zsh -f -c "fpath=($dir \$fpath); autoload -U compinit; compinit -u -D
    print -r -- \$_comps[tuvel-edit] \$_comps[tuvel-mcp] \$_comps[tuvel-speech]")
[[ $registered == '_tuvel-edit _tuvel-mcp _tuvel-speech' ]] || fail "registered: $registered"

# Typing needs a pseudo-terminal; without one only the checks above can run.
if ! zsh -f -c 'zmodload zsh/zpty && zpty probe true && zpty -d probe' 2>/dev/null; then
    ((failures == 0)) || exit 1
    echo 'no pseudo-terminal: typed command lines not tried'
    exit 77
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/repo/sub" "$tmp/repo/.git" "$tmp/work/clips"
touch "$tmp/repo/a.txt" "$tmp/repo/.env" "$tmp/repo/sub/c.txt" "$tmp/work/talk.wav" "$tmp/work/MEMO.M4A" "$tmp/work/notes.txt"
ln -s a.txt "$tmp/repo/link"
cd "$tmp/work" || exit 1

# command line | matches offered (sorted, each once; directories without
# their slash, which zsh adds as a suffix)
while IFS='|' read -r line expected; do
    [[ -z $line ]] && continue
    : >"$tmp/hits"
    timeout 30 zsh -f "$driver" "$dir" "$tmp/hits" "$line" >/dev/null 2>&1 || fail "no answer for: $line"
    got=$(LC_ALL=C sort -u "$tmp/hits" | paste -sd' ')
    [[ $got == "$expected" ]] || fail "$line
  expected: $expected
  got:      $got"
done <<'CASES'
tuvel-edit |apply batch help read
tuvel-edit --|--help --repo --version
tuvel-edit --repo ../repo --|--help --version
tuvel-edit --repo ../repo read |a.txt sub
tuvel-edit read --repo=../repo s|sub
tuvel-edit read --repo ../repo .|.env
tuvel-edit read |MEMO.M4A clips notes.txt talk.wav
tuvel-edit read --st|--start
tuvel-edit apply --|--help --preview --repo
tuvel-edit help |apply batch help read
tuvel-speech |MEMO.M4A clips talk.wav
tuvel-speech a.wav |en-US
tuvel-mcp --|--help --repo --version
tuvel-mcp --repo |clips
CASES

((failures == 0))
