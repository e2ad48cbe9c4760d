#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The fish completions parse, and fish itself (complete -C) offers the
# expected words for typed command lines.
#
# usage: fish_test.sh FISH-COMPLETION-DIR
set -u
dir=$(realpath "$1")
failures=0

for file in "$dir"/*.fish; do
    if ! out=$(fish --no-execute "$file" 2>&1) || [[ -n $out ]]; then
        printf 'FAIL: fish --no-execute %s\n%s\n' "$file" "$out"
        failures=$((failures + 1))
    fi
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/repo/sub" "$tmp/repo/.git" "$tmp/work/clips"
touch "$tmp/repo/a.txt" "$tmp/repo/.env" "$tmp/repo/sub/c.txt" "$tmp/work/talk.wav" "$tmp/work/MEMO.M4A" "$tmp/work/notes.txt"
ln -s a.txt "$tmp/repo/link"
cd "$tmp/work" || exit 1

# command line | words offered (sorted, descriptions dropped)
while IFS='|' read -r line expected; do
    [[ -z $line ]] && continue
    got=$(fish --no-config -c "for f in $dir/*.fish; source \$f; end; complete -C '$line'" 2>&1 |
        cut -f1 | LC_ALL=C sort | paste -sd' ')
    if [[ $got != "$expected" ]]; then
        printf 'FAIL: %s\n  expected: %s\n  got:      %s\n' "$line" "$expected" "$got"
        failures=$((failures + 1))
    fi
done <<'CASES'
tuvel-edit |apply batch help read
tuvel-edit -|--help --repo --version -V -h
tuvel-edit --repo |clips/
tuvel-edit --repo ../repo read |a.txt sub/
tuvel-edit --repo=../repo read s|sub/
tuvel-edit read --repo ../repo .|.env
tuvel-edit read --st|--start
tuvel-edit apply --|--help --preview --repo
tuvel-edit help |apply batch help read
tuvel-edit help read |
tuvel-speech |MEMO.M4A clips/ talk.wav
tuvel-speech a.wav |en-US
tuvel-speech a.wav en-US |
tuvel-mcp --|--help --repo --version
tuvel-mcp --repo |clips/
CASES

((failures == 0))
