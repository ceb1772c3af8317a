# bash completion for tremount
#
# Options where an option may stand; after -o, FUSE's common mount options;
# then the archive (a file) and the mount point (a folder).

_tremount()
{
    local cur=${COMP_WORDS[COMP_CWORD]} previous=${COMP_WORDS[COMP_CWORD - 1]}
    local i positionals=0
    COMPREPLY=()
    if [[ $previous == -o ]]; then
        mapfile -t COMPREPLY < <(compgen -W "allow_other allow_root auto_unmount clone_fd max_threads= max_idle_threads=" -- "$cur")
        return 0
    fi
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "-h --help -V --version -f -d -s -o" -- "$cur")
        return 0
    fi
    # the words before the cursor that are neither options nor their values
    for ((i = 1; i < COMP_CWORD; i++)); do
        [[ ${COMP_WORDS[i]} == -o ]] && ((i += 1)) && continue
        [[ ${COMP_WORDS[i]} == -* ]] || ((positionals += 1))
    done
    compopt -o filenames 2>/dev/null
    if ((positionals == 0)); then
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    elif ((positionals == 1)); then
        mapfile -t COMPREPLY < <(compgen -d -- "$cur")
    fi
    return 0
}

complete -F _tremount tremount
