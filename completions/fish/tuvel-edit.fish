# SPDX-License-Identifier: Apache-2.0
# fish completion for tuvel-edit. Paths of `read` are completed inside the
# repository named by --repo (before or after the command), default ".".

# The command given so far, skipping option values.
function __tuvel_edit_command
    set -l words (commandline -opc)
    set -e words[1]
    while set -q words[1]
        switch $words[1]
            case --repo --start --end
                set -e words[1..2]
                continue
            case '-*'
            case '*'
                echo $words[1]
                return 0
        end
        set -e words[1]
    end
    return 1
end

# The repository: the last --repo given, else the working directory.
function __tuvel_edit_repo
    set -l repo .
    set -l words (commandline -opc)
    for i in (seq (count $words))
        switch $words[$i]
            case --repo
                set -l next (math $i + 1)
                set -q words[$next]; and set repo $words[$next]
            case '--repo=*'
                set repo (string replace -- --repo= '' $words[$i])
        end
    end
    string replace -r -- '^~(?=/|$)' $HOME $repo
end

# Names inside the repository, relative to it; directories end in a slash.
# Symbolic links and .git are left out: the program refuses them.
function __tuvel_edit_paths
    set -l repo (__tuvel_edit_repo)
    set -l token (commandline -ct)
    set -l skip (math (string length -- "$repo/") + 1)
    for path in $repo/$token*
        set -l rel (string sub -s $skip -- $path)
        string match -q -r -- '(^|/)\.git$' $rel; and continue
        test -L $path; and continue
        if test -d $path
            echo $rel/
        else
            echo $rel
        end
    end
end

function __tuvel_edit_at
    test "$(__tuvel_edit_command)" = $argv[1]
end

complete -c tuvel-edit -f
complete -c tuvel-edit -n 'not __tuvel_edit_command' -a read -d 'Read up to 32 files as bounded JSON'
complete -c tuvel-edit -n 'not __tuvel_edit_command' -a apply -d 'Apply or preview one JSON edit request'
complete -c tuvel-edit -n 'not __tuvel_edit_command' -a batch -d 'Serve JSON-lines requests'
complete -c tuvel-edit -n 'not __tuvel_edit_command' -a help -d 'Print the help of a command'
complete -c tuvel-edit -n 'not __tuvel_edit_command' -s V -l version -d 'Print version'
complete -c tuvel-edit -s h -l help -d 'Print help'
complete -c tuvel-edit -l repo -x -a '(__fish_complete_directories (commandline -ct))' -d 'Repository directory'
complete -c tuvel-edit -n '__tuvel_edit_at read' -l start -x -d 'First line (default 1)'
complete -c tuvel-edit -n '__tuvel_edit_at read' -l end -x -d 'Exclusive ending line'
complete -c tuvel-edit -n '__tuvel_edit_at read' -a '(__tuvel_edit_paths)'
complete -c tuvel-edit -n '__tuvel_edit_at apply' -l preview -d 'Check and preview, write nothing'
complete -c tuvel-edit -n '__tuvel_edit_at help; and test (count (commandline -opc)) -eq 2' -a 'read apply batch help'
