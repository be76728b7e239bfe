# bash completion for velt: its commands, each command's options, the modes
# and record sizes those options take, .velt files where a VELT file is read,
# and directories and PNG files where frames are. Self-contained: it needs
# nothing from the bash-completion package, which loads it by the command's
# name from .../bash-completion/completions/velt.

# Adds the directories and the files that match a glob (such as '*.velt') to
# COMPREPLY; with no glob, every file.
_velt_paths() {
    local glob=$1 cur=$2 line
    compopt -o filenames 2>/dev/null
    while IFS= read -r line; do COMPREPLY+=("$line"); done < <(compgen -d -- "$cur")
    if [[ -n $glob ]]; then
        while IFS= read -r line; do
            [[ -d $line ]] || COMPREPLY+=("$line")
        done < <(compgen -f -X "!$glob" -- "$cur")
    else
        while IFS= read -r line; do
            [[ -d $line ]] || COMPREPLY+=("$line")
        done < <(compgen -f -- "$cur")
    fi
}

_velt() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    local command=${COMP_WORDS[1]}
    COMPREPLY=()

    # "--mode=al": bash splits the word at '=', so the option is two words back
    if [[ $cur == = ]]; then
        cur=""
    elif [[ $prev == = && $COMP_CWORD -ge 3 ]]; then
        prev=${COMP_WORDS[COMP_CWORD-2]}
    fi

    if ((COMP_CWORD == 1)); then
        COMPREPLY=($(compgen -W "encode join info decode compare --help --version" -- "$cur"))
        return
    fi

    local options
    case $command in
        encode) options="--fps --mode --tolerance --pad --raw --jobs --part --quiet --help" ;;
        join) options="--help" ;;
        info) options="--mode --record-size --no-wire-size --help" ;;
        decode) options="--raw --mode --help" ;;
        compare) options="--mode --json --heatmap --pad --raw --help" ;;
        *) return ;;
    esac

    # the value of an option that takes one
    case $prev in
        --mode)
            COMPREPLY=($(compgen -W "opaque alpha opaque12 alpha12" -- "$cur"))
            return ;;
        --record-size)
            COMPREPLY=($(compgen -W "8 12" -- "$cur"))
            return ;;
        --heatmap)
            _velt_paths '*.[pP][nN][gG]' "$cur"
            return ;;
        --fps | --jobs | -j | --part | --raw)
            return ;;
    esac

    # which positional argument this word is, and whether options have ended
    local i word position=0 options_ended=0 part=0
    for ((i = 2; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if ((options_ended)); then
            position=$((position + 1))
            continue
        fi
        case $word in
            --) options_ended=1 ;;
            --mode | --record-size | --heatmap | --fps | --tolerance | --jobs | -j | --part | --raw)
                # the value follows, as the next word or after '='
                [[ $word == --part ]] && part=1
                [[ ${COMP_WORDS[i+1]} == = ]] && ((i++))
                ((i++)) ;;
            -?*) ;;
            =) ;;
            *) position=$((position + 1)) ;;
        esac
    done

    if ((!options_ended)) && [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi

    case $command:$position in
        encode:0 | compare:1) _velt_paths '*.[pPgG][nNiI][gGfF]' "$cur" ;;  # frames, a GIF or an APNG
        encode:1)
            # a part file has no fixed extension
            if ((part)); then _velt_paths "" "$cur"; else _velt_paths '*.velt' "$cur"; fi ;;
        join:0 | info:0 | decode:0 | compare:0) _velt_paths '*.velt' "$cur" ;;
        join:*) _velt_paths "" "$cur" ;;  # the parts
        decode:1) _velt_paths "" "$cur" ;;  # a pattern, a raw file or '-'
    esac
}

complete -F _velt velt
