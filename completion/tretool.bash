# bash completion for tretool
#
# Flags where a flag may stand; file names after -f, -lf and as -o's second
# value; folders after -x; nothing after -m (a pattern is the user's own);
# and as -o's first value and -p's, the entry numbers of the archive given with -f,
# read with `tretool -f <archive> -l` (only when that archive is an existing
# regular file, so that completing never creates one).

_tretool_entry_numbers()
{
    local tool=$1 archive=$2
    [[ -f $archive ]] || return
    "$tool" -f "$archive" -l 2>/dev/null | while IFS= read -r line; do
        [[ $line =~ ^([0-9]+):\  ]] && printf '%s\n' "${BASH_REMATCH[1]}"
    done
}

_tretool()
{
    local cur=${COMP_WORDS[COMP_CWORD]}
    local archive="" expect="flag" i=1 word

    # walk the words before the cursor as the tool reads them: values are
    # consumed and never taken for flags
    while ((i < COMP_CWORD)); do
        word=${COMP_WORDS[i]}
        case $word in
        -f)
            ((i + 1 < COMP_CWORD)) && archive=${COMP_WORDS[i + 1]}
            ((i + 1 == COMP_CWORD)) && expect="file"
            ((i += 2))
            ;;
        -lf)
            ((i + 1 == COMP_CWORD)) && expect="file"
            ((i += 2))
            ;;
        -x)
            ((i + 1 == COMP_CWORD)) && expect="folder"
            ((i += 2))
            ;;
        -m)
            ((i + 1 == COMP_CWORD)) && expect="pattern"
            ((i += 2))
            ;;
        -p)
            ((i + 1 == COMP_CWORD)) && expect="entry"
            ((i += 2))
            ;;
        --help | --version)
            # the tool reads nothing after them
            expect="none"
            break
            ;;
        -o)
            ((i + 1 == COMP_CWORD)) && expect="entry"
            ((i + 2 == COMP_CWORD)) && expect="file"
            ((i += 3))
            ;;
        *) ((i += 1)) ;;
        esac
    done
    # an -f after the cursor names the archive too
    for ((i = COMP_CWORD + 1; i < ${#COMP_WORDS[@]} - 1; i++)); do
        [[ ${COMP_WORDS[i]} == -f ]] && archive=${COMP_WORDS[i + 1]}
    done

    COMPREPLY=()
    case $expect in
    file)
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        ;;
    folder)
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -d -- "$cur")
        ;;
    entry)
        [[ -n $archive ]] || return 0
        archive=${archive/#\~/$HOME}
        mapfile -t COMPREPLY < <(compgen -W "$(_tretool_entry_numbers "${COMP_WORDS[0]}" "$archive")" -- "$cur")
        ;;
    flag)
        mapfile -t COMPREPLY < <(compgen -W "-h -f -l -lf -o -x -m -v -t -j -p -q --help --version" -- "$cur")
        ;;
    esac
    return 0
}

complete -F _tretool tretool
