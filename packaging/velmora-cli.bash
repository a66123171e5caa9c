# bash completion for velmora-cli: the verbs, each verb's options and the
# values they take, WAV files or any file as the verb takes them, folders
# after -o. velmora-cli itself says what each verb takes (--complete), so the
# completion never falls behind the program.

_velmora_cli() {
    local cur prev verb i cli=${COMP_WORDS[0]}
    COMPREPLY=()
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}

    verb=
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
            -*) ;;
            *) verb=${COMP_WORDS[i]}; break ;;
        esac
    done

    if [[ -z $verb ]]; then
        COMPREPLY=($(compgen -W "$("$cli" --complete 2>/dev/null) -q --quiet -v --verbose --help --version" -- "$cur"))
        return
    fi

    local kind words options= files= first=
    while read -r kind words; do
        case $kind in
            options) options=$words ;;
            files) files=$words ;;
            first) first=$words ;;
            "$prev")
                # The value of the option just typed.
                case $words in
                    dirs)
                        local IFS=$'\n'
                        COMPREPLY=($(compgen -d -- "$cur"))
                        compopt -o filenames 2>/dev/null ;;
                    wavs) _velmora_cli_wavs ;;
                    value) ;;
                    *) COMPREPLY=($(compgen -W "$words" -- "$cur")) ;;
                esac
                return ;;
        esac
    done < <("$cli" --complete "$verb" 2>/dev/null)

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
    elif [[ -n $first && $COMP_CWORD -eq $((i + 1)) ]]; then
        # A value that comes before the files (set-rate's rate).
        COMPREPLY=($(compgen -W "$first" -- "$cur"))
    elif [[ $files == any ]]; then
        local IFS=$'\n'
        COMPREPLY=($(compgen -f -- "$cur"))
        compopt -o filenames 2>/dev/null
    elif [[ $files == wav ]]; then
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
