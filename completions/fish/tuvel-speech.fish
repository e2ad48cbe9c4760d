# SPDX-License-Identifier: Apache-2.0
# fish completion for tuvel-speech: an audio file, then a locale the engine
# supports.

function __tuvel_speech_audio
    set -l token (commandline -ct)
    for path in $token*
        if test -d $path
            echo $path/
        else if string match -q -i -r -- '\.(aac|ac3|aif|aifc|aiff|amr|au|caf|flac|m4a|m4b|mka|mp2|mp3|oga|ogg|opus|spx|wav|wave|weba|webm|wma)$' $path
            echo $path
        end
    end
end

complete -c tuvel-speech -f
complete -c tuvel-speech -n 'test (count (commandline -opc)) -eq 1' -a '(__tuvel_speech_audio)'
complete -c tuvel-speech -n 'test (count (commandline -opc)) -eq 2' -a en-US -d 'US English'
