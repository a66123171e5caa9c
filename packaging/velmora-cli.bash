# bash completion for velmora-cli: the verbs, each verb's options, WAV files
# for the verbs that analyse, any file for raw2wav, recover and rescue, folders after -o.

_velmora_cli() {
    local cur prev verb i
    COMPREPLY=()
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}

    local verbs="info split surround normalize mux rebuild-header fix-riff-size remove-footer set-rate recover rescue raw2wav"
    verb=
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
            -*) ;;
            *) verb=${COMP_WORDS[i]}; break ;;
        esac
    done

    if [[ -z $verb ]]; then
        COMPREPLY=($(compgen -W "$verbs -q --quiet -v --verbose --help --version" -- "$cur"))
        return
    fi

    case $prev in
        -o|--output)
            local IFS=$'\n'
            COMPREPLY=($(compgen -d -- "$cur"))
            compopt -o filenames 2>/dev/null
            return ;;
        --bits)
            if [[ $verb == recover || $verb == rescue ]]; then
                COMPREPLY=($(compgen -W "8 16 24 32" -- "$cur"))
            else
                COMPREPLY=($(compgen -W "16 8" -- "$cur"))
            fi
            return ;;
        --channels)
            COMPREPLY=($(compgen -W "1 2 3 4 6 8" -- "$cur"))
            return ;;
        --rate|--delay)
            return ;;
        --left|--right|--center|--lfe|--s-left|--s-right|--like)
            _velmora_cli_wavs
            return ;;
    esac

    local options="--help"
    # Every verb that writes has a dry run and may refuse to replace.
    [[ $verb != info ]] && options+=" -n --dry-run --no-clobber"
    case $verb in
        info) options+=" --json --jsonl" ;;
        split|rebuild-header|remove-footer) options+=" -o --output" ;;
        surround) options+=" --delay --swap --plain --cue -o --output" ;;
        normalize) options+=" -y --yes --no -o --output" ;;
        mux) options+=" --left --right --center --lfe --s-left --s-right --plain --cue -o --output" ;;
        raw2wav) options+=" --rate --bits --mono --detect -o --output" ;;
        recover|rescue) options+=" --like --rate --channels --bits --float --realign" ;;
        set-rate)
            # The rate comes first.
            if [[ $COMP_CWORD -eq $((i + 1)) && $cur != -* ]]; then
                COMPREPLY=($(compgen -W "48000 44100 32000" -- "$cur"))
                return
            fi ;;
    esac

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
    elif [[ $verb == raw2wav || $verb == recover || $verb == rescue ]]; then
        local IFS=$'\n'
        COMPREPLY=($(compgen -f -- "$cur"))
        compopt -o filenames 2>/dev/null
    elif [[ $verb != mux ]]; then
        _velmora_cli_wavs
    fi
}

# WAV files (any case of the extension) and folders to descend into.
_velmora_cli_wavs() {
    local IFS=$'\n' f
    COMPREPLY=()
    for f in $(compgen -f -- "$cur"); do
        [[ -d $f || ${f,,} == *.wav ]] && COMPREPLY+=("$f")
    done
    # Folders get their "/" and no space from readline.
    compopt -o filenames 2>/dev/null
}

complete -F _velmora_cli velmora-cli
