# bash completion for trepack
#
# Options where an option may stand; after -f, --base and -T, files; after
# -C, folders; after the options that take words of their own, nothing; the
# PATHs are files and folders.

_trepack()
{
    local cur=${COMP_WORDS[COMP_CWORD]} previous=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    case $previous in
    -f | --base | -T)
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        return 0
        ;;
    -C)
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -d -- "$cur")
        return 0
        ;;
    --header-word | --prefix-byte | --exclude)
        return 0
        ;;
    esac
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "-f -C -T -L -n -v -q -h -V --base --header-word --prefix-byte
            --exclude --null --dry-run --help --version" -- "$cur")
        return 0
    fi
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    return 0
}

complete -F _trepack trepack
