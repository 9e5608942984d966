# Bash completion for tonedown, toneup, tonefix and toneconv (viqr-tools).
#
# Flags are offered where the programs read them: before the first file name
# and not after "--" (tonedown, toneup), as the first argument (tonefix), or
# anywhere before "--" (toneconv).  After toneconv's -f come auto and the
# encodings that toneconv -l lists, after -t those it can write (not the
# read-only ones), after -o a file name.
# Elsewhere file names are offered, and "-" (standard input, or tonefix's
# standard output).  The value of -com or -bs is a character: nothing is
# offered for it.
_viqr_tools() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local program=${COMP_WORDS[0]##*/} flags i
    case $prev in -com | -bs) COMPREPLY=(); return ;; esac
    if [[ $program == toneconv ]]; then
        _viqr_toneconv "$cur" "$prev"
        return
    fi
    case $program in
        tonedown) flags='-v -m -com -bs --help --version -- -' ;;
        toneup) flags='-v -m -l -com -bs --help --version -- -' ;;
        tonefix) flags='--help --version -'; ((COMP_CWORD == 1)) || flags= ;;
    esac
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
            -com | -bs) ((i++)) ;;
            -- | - | [!-]*) flags= ;;
        esac
    done
    if [[ $cur == -* && -n $flags ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$flags" -- "$cur")
    else
        mapfile -t COMPREPLY < <(compgen -f -- "$cur"; [[ $cur == - ]] && echo -)
    fi
}
_viqr_toneconv() {
    local cur=$1 prev=$2 flags='-f -t -o -c -m -l --detect --help --version -- -' i
    if [[ $prev == -f ]]; then
        mapfile -t COMPREPLY < <(compgen -W "auto $("${COMP_WORDS[0]}" -l 2>/dev/null | cut -d ' ' -f 1)" -- "$cur")
        return
    fi
    if [[ $prev == -t ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$("${COMP_WORDS[0]}" -l 2>/dev/null | grep -v 'read only' |
            cut -d ' ' -f 1)" -- "$cur")
        return
    fi
    for ((i = 1; i < COMP_CWORD; i++)); do
        [[ ${COMP_WORDS[i]} == -- ]] && flags=
    done
    if [[ $prev != -o && $cur == -* && -n $flags ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$flags" -- "$cur")
    else
        mapfile -t COMPREPLY < <(compgen -f -- "$cur"; [[ $cur == - ]] && echo -)
    fi
}
complete -o filenames -F _viqr_tools tonedown toneup tonefix toneconv
