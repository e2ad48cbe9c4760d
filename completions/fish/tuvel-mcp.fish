# SPDX-License-Identifier: Apache-2.0
# fish completion for tuvel-mcp.
complete -c tuvel-mcp -f
complete -c tuvel-mcp -s h -l help -d 'Print help'
complete -c tuvel-mcp -s V -l version -d 'Print version'
complete -c tuvel-mcp -l repo -x -a '(__fish_complete_directories (commandline -ct))' -d 'Repository directory'
