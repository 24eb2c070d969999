# bash completion for tessary-cli: its commands, the options of each, and file
# names where a command or option takes a file.

_tessary_cli()
{
    local cur prev words cword
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()

    local commands="show publish check migrate diff help"
    local command= i
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
            -*) ;;
            *)
                command=${COMP_WORDS[i]}
                break
                ;;
        esac
    done

    if [[ -z $command ]]; then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "--help --version" -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        fi
        return 0
    fi

    # Options that take a value: a file, a variable's name, or something to type.
    case $prev in
        --output | --installer | --secrets-file | --sign-identity | --sign-password-file | --to)
            compopt -o filenames 2>/dev/null
            COMPREPLY=($(compgen -f -- "$cur"))
            return 0
            ;;
        --sign-password-env)
            COMPREPLY=($(compgen -v -- "$cur"))
            return 0
            ;;
        --set | --option | --timeout)
            return 0
            ;;
    esac

    local options
    case $command in
        show) options="--installer --option --json --values --help" ;;
        publish)
            options="--output --installer --set --secrets-file --option --timeout --force
                --sign-identity --sign-password-file --sign-password-env --timestamp-url --json --dry-run
                --allow-insecure-secrets-file --help"
            ;;
        check) options="--installer --set --secrets-file --option --timeout --json
            --allow-insecure-secrets-file --help" ;;
        migrate) options="--to --output --option --force --json --help" ;;
        diff) options="--to --option --json --help" ;;
        *) return 0 ;;
    esac

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return 0
    fi
    # migrate and diff take customizations; the others an installer too (a bundle
    # package is a folder).
    compopt -o filenames 2>/dev/null
    case $command in
        migrate | diff)
            COMPREPLY=($(compgen -f -X '!*.xml' -- "$cur") $(compgen -d -- "$cur"))
            ;;
        *)
            COMPREPLY=($(compgen -f -- "$cur"))
            ;;
    esac
    return 0
}

complete -F _tessary_cli tessary-cli
