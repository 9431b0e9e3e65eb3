# bash completion for kvprt: commands, their subcommands and options, the
# storage devices, files where a file is expected, and printer URIs.

_kvprt() {
    # The words up to the cursor, split at blanks only: a URI keeps its colons.
    local line=${COMP_LINE:0:COMP_POINT} words=() cur
    read -ra words <<<"$line"
    [[ $line == *[[:space:]] || ${#words[@]} -eq 0 ]] && words+=("")
    cur=${words[${#words[@]} - 1]}
    local prev=${words[${#words[@]} - 2]}

    # The commands typed so far, without the options and their values.
    local path=() i
    for ((i = 1; i < ${#words[@]} - 1; i++)); do
        case ${words[i]} in
            -p | --printer | --count | --timeout | --flag | --profile | --write-fleet | --jobs | --community | --auth | \
            --snmp-port) ((i++)) ;;
            -*) ;;
            *) path+=("${words[i]}") ;;
        esac
    done

    local choices="" files=0
    case $prev in
        -p | --printer)
            if [[ $cur == sim:* ]]; then
                local f
                while IFS= read -r f; do choices+=" sim:$f"; done < <(compgen -f -- "${cur#sim:}")
            else
                choices="sim: tcp://"
            fi
            ;;
        --count | --timeout | --flag | --jobs | --community | --auth | --snmp-port) return 0 ;;
        --profile | --write-fleet) files=1 ;;
        *)
            local options="-p --printer --json -h --help"
            case "${path[0]}:${#path[@]}" in
                :0) choices="report info levels bins storage interpreters fonts symbolsets status watch toner
                             pagecounts jobs panel var ports loopback offline online reset qs snapshot discover"
                    options+=" --version" ;;
                storage:1) choices="ls format rm cp" ;;
                storage:2) choices="flash disk" ;;
                storage:3) [[ ${path[1]} == cp ]] && choices="flash disk" ;;
                toner:1) choices="reset-count" ;;
                pagecounts:1) choices="reset-host" ;;
                jobs:1) choices="list delete priority" ;;
                panel:1) choices="show lock unlock press reset continue" ;;
                var:1) choices="get set" ;;
                reset:1) choices="power-on nvram" ;;
                qs:1) choices="receive send" ;;
                qs:2) files=1 ;;
            esac
            case "${path[0]} ${path[1]}" in
                "watch "*) options+=" --count --timeout" ;;
                "jobs delete") options+=" --flag" ;;
                "var get") options+=" --misc" ;;
                "storage cp") options+=" --replace" ;;
                "qs receive") options+=" --force" ;;
                "snapshot "*) options+=" --profile" ;;
                "discover "*) options+=" --dns-sd --write-fleet --jobs --timeout --community --auth --snmp-port" ;;
            esac
            [[ $cur == -* ]] && choices=$options
            ;;
    esac

    if ((files)) && [[ $cur != -* ]]; then
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    else
        mapfile -t COMPREPLY < <(compgen -W "$choices" -- "$cur")
        if [[ ${#COMPREPLY[@]} -eq 1 && (${COMPREPLY[0]} == *: || ${COMPREPLY[0]} == */) ]]; then
            compopt -o nospace 2>/dev/null   # a URI goes on
        fi
    fi
    # bash splits the word at colons: give back only what follows the last one.
    if [[ $cur == *:* && $COMP_WORDBREAKS == *:* ]]; then
        local prefix=${cur%"${cur##*:}"} k
        for k in "${!COMPREPLY[@]}"; do COMPREPLY[k]=${COMPREPLY[k]#"$prefix"}; done
    fi
    return 0
}
complete -F _kvprt kvprt
