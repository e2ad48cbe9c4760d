#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The bash completion of the three programs: for each typed command line, the
# words offered and the options given to readline, asked as bash asks them
# (COMP_WORDS, COMP_CWORD, COMP_LINE, COMP_POINT, then the function that
# `complete` names). Then the options each program's own help lists must be
# the options offered in the same place.
#
# usage: bash_test.sh COMPLETION-FILE TUVEL-EDIT TUVEL-MCP
set -u
completion=$(realpath "$1") edit=$(realpath "$2") mcp=$(realpath "$3")

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/repo/sub" "$tmp/repo/.git" "$tmp/repo/my dir" "$tmp/work/clips"
touch "$tmp/repo/a.txt" "$tmp/repo/b.md" "$tmp/repo/.env" "$tmp/repo/sub/c.txt" "$tmp/repo/my dir/d.txt"
ln -s a.txt "$tmp/repo/link"
touch "$tmp/work/talk.wav" "$tmp/work/MEMO.M4A" "$tmp/work/notes.txt" "$tmp/work/.hidden.wav" \
      "$tmp/work/clips/song.flac" "$tmp/work/clips/cover.jpg"
cd "$tmp/work" || exit 1

# shellcheck source=../bash/tuvel
source "$completion"
# Outside a real completion compopt refuses to run; record what is asked.
compopt() { opts+=("$@"); }

# split LINE: COMP_WORDS as bash makes them. Words end at blanks outside
# single quotes, "=" after a long option is a word of its own, and a line
# that ends in a blank has an empty word last.
split() {
    local line=$1 word='' quoted='' c i
    COMP_WORDS=()
    for ((i = 0; i < ${#line}; i++)); do
        c=${line:i:1}
        if [[ $c == "'" ]]; then
            if [[ -n $quoted ]]; then quoted=''; else quoted=1; fi
            word+=$c
        elif [[ $c == ' ' && -z $quoted ]]; then
            [[ -n $word ]] && COMP_WORDS+=("$word")
            word=''
        elif [[ $c == = && $word == --* && -z $quoted ]]; then
            COMP_WORDS+=("$word" =)
            word=''
        else
            word+=$c
        fi
    done
    if [[ -n $word || $line == *' ' ]]; then COMP_WORDS+=("$word"); fi
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE=$line
    COMP_POINT=${#line}
}

# offered LINE: the words offered, sorted, then "|" and the compopt options.
offered() {
    local func
    split "$1"
    func=$(complete -p "${COMP_WORDS[0]}" 2>/dev/null | sed -E 's/.*-F ([^ ]+).*/\1/')
    [[ -n $func ]] || { echo "no completion for ${COMP_WORDS[0]}"; return; }
    COMPREPLY=() opts=()
    "$func" "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    local words
    words=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd' ')
    printf '%s|%s' "$words" "${opts[*]}"
}

failures=0
check() {
    local got
    got=$(offered "$1")
    if [[ $got != "$2" ]]; then
        printf 'FAIL: %q\n  expected: %s\n  got:      %s\n' "$1" "$2" "$got"
        failures=$((failures + 1))
    fi
}

# command line | words offered (sorted) | compopt options
while IFS='|' read -r line words options; do
    [[ -z $line || $line == '#'* ]] && continue
    check "$line" "$words|$options"
done <<'EOF'
tuvel-edit |--help --repo --version -V -h apply batch help read|
tuvel-edit --|--help --repo --version|
tuvel-edit r|read|
tuvel-edit --repo |clips|-o filenames
tuvel-edit --repo ../r|../repo|-o filenames
tuvel-edit --repo=../r|../repo|-o filenames
tuvel-edit --repo ../repo --|--help --version|
tuvel-edit --repo ../repo read |a.txt b.md my dir/ sub/|-o filenames
tuvel-edit --repo=../repo read s|sub/|-o filenames -o nospace
tuvel-edit --repo ../repo read sub/|sub/c.txt|-o filenames
tuvel-edit --repo '../repo' read my|my dir/|-o filenames -o nospace
tuvel-edit --repo ../repo read .|.env|-o filenames
tuvel-edit read --repo ../repo a.txt |a.txt b.md my dir/ sub/|-o filenames
tuvel-edit read |MEMO.M4A clips/ notes.txt talk.wav|-o filenames
tuvel-edit read --st|--start|
tuvel-edit read --start |||
tuvel-edit read --start=|||
tuvel-edit read a.txt --start=3 --|--end --help --repo|
tuvel-edit --repo ../repo read --|--end --help --repo --start|
tuvel-edit --repo ../repo read -- |a.txt b.md my dir/ sub/|-o filenames
tuvel-edit apply |--help --preview --repo -h|
tuvel-edit apply --preview --|--help --repo|
tuvel-edit batch |--help --repo -h|
tuvel-edit help |apply batch help read|
tuvel-edit help read |||
tuvel-speech |MEMO.M4A clips talk.wav|-o filenames
tuvel-speech clips/|clips/song.flac|-o filenames
tuvel-speech .|.hidden.wav|-o filenames
tuvel-speech a.wav |en-US|
tuvel-speech a.wav e|en-US|
tuvel-speech a.wav en-US |||
tuvel-mcp |--help --repo --version -V -h|
tuvel-mcp --|--help --repo --version|
tuvel-mcp --repo |clips|-o filenames
tuvel-mcp --repo=../r|../repo|-o filenames
tuvel-mcp --repo . |--help --version -V -h|
tuvel-mcp -V |||
EOF

# options PROGRAM ARGS...: the options in the Options section of a help text.
options() {
    "$@" | sed -n '/^Options:/,/^$/p' | grep -oE '(^|[ ,])--?[A-Za-z][A-Za-z-]*' |
        tr -d ' ,' | LC_ALL=C sort | paste -sd' '
}
commands() {
    "$@" | sed -n '/^Commands:/,/^$/p' | sed -n 's/^  \([a-z][a-z-]*\) .*/\1/p' | LC_ALL=C sort | paste -sd' '
}
# Everything the help lists is offered where it is accepted.
check 'tuvel-edit -' "$(options "$edit" --help)|"
check 'tuvel-edit read -' "$(options "$edit" help read)|"
check 'tuvel-edit apply -' "$(options "$edit" help apply)|"
check 'tuvel-edit batch -' "$(options "$edit" help batch)|"
check 'tuvel-edit help ' "$(commands "$edit" --help)|"
check 'tuvel-mcp -' "$(options "$mcp" --help)|"

if ((failures)); then
    echo "$failures case(s) failed"
    exit 1
fi
