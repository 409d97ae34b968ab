# bash completion for kestro-convert. The install test checks that every option of
# `kestro-convert --help` is offered here.

_kestro_convert()
{
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}

    case $prev in
        --to) COMPREPLY=($(compgen -W 'avi bmp rgb fits ser' -- "$cur")); return ;;
        --mode) COMPREPLY=($(compgen -W 'normal raw-y raw-colour' -- "$cur")); return ;;
        --pattern) COMPREPLY=($(compgen -W 'BG GB GR RG auto' -- "$cur")); return ;;
        --byte-order) COMPREPLY=($(compgen -W 'little big auto' -- "$cur")); return ;;
        --algorithm) COMPREPLY=($(compgen -W '11 1 2 3 4 5 Nearest Malvar VNG AHD RCD' -- "$cur")); return ;;
        -o|--output)
            compopt -o filenames 2>/dev/null
            COMPREPLY=($(compgen -f -- "$cur"))
            return ;;
        --frames|--best|--block|-j|--jobs) return ;;
    esac

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '-h --help --version --to -o --output --mode --pattern
            --algorithm --greyscale --grayscale --byte-order --frames --best --block -j --jobs
            --overwrite -n --dry-run -q --quiet --info --json' -- "$cur"))
        return
    fi

    # Captures, and folders of them.
    compopt -o filenames 2>/dev/null
    COMPREPLY=($(compgen -d -- "$cur") $(compgen -f -X '!*.@(avi|AVI|ser|SER)' -- "$cur"))
}
complete -F _kestro_convert kestro-convert
