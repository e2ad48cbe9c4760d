# SPDX-License-Identifier: Apache-2.0
# Types LINE and a tab into an interactive zsh that loads the completions of
# DIR, and appends every match the completion adds to HITS, one per line.
#
# usage: zsh -f zsh_complete.zsh DIR HITS LINE
dir=$1 hits=$2 line=$3
zmodload zsh/zpty || exit 1
zpty z zsh -f -i
# Keys typed before zle takes the terminal meet the line discipline, which
# would take Ctrl-U as "kill line"; with no kill character zle gets them all.
zpty -w z "stty kill undef werase undef; PS1='' PS2=''; fpath=(${(q)dir} \$fpath); autoload -U compinit; compinit -u -D"
# compadd records what it is given, then adds it as usual; the calls that
# only ask (-O, -A, -D) pass straight through.
zpty -w z "compadd() {
  if [[ \${@[1,(i)(-|--)]} == *-(O|A|D)\\ * ]]; then builtin compadd \"\$@\"; return; fi
  local -a __hits; builtin compadd -A __hits \"\$@\"
  (( \$#__hits )) && print -rl -- \$__hits >> ${(q)hits}
  builtin compadd \"\$@\"
}"
# The markers are put together when printed, so the terminal's echo of the
# typed command cannot match them: only the command's output does.
zpty -w z 'print -r -- "<READ""Y>"'
zpty -r z out '*<READY>*'
# zle reads keys in order, so the line is cleared only once the tab's
# completion has run.
zpty -w -n z "$line"$'\t'
zpty -w -n z $'\C-u'
zpty -w z 'print -r -- "<DON""E>"'
zpty -r z out '*<DONE>*'
zpty -d z
