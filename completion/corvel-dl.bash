# bash completion for corvel-dl                              -*- shell-script -*-

# The command words and each command's own options; the global options are
# accepted after the command's name too, so they are offered there as well.
_corvel_dl_commands="ports monitor info factory mac read-part read-access download verify dump
    erase-chip erase-user full-erase page-erase sector-erase read-flash write-flash read-reg write-reg
    otp-read otp-write otp-lock otp-erase"
_corvel_dl_globals="-p --port --sim -b --baud --password --pkt --sync-timeout --json --repeat --lang -h --help --version"

_corvel_dl_command_options()
{
    case $1 in
        ports) echo "-l --long" ;;
        monitor) echo "--duration" ;;
        read-part | read-access) echo "-o --output --open" ;;
        download) echo "--speedup --part --access --app --stack --boot --user --verify" ;;
        verify) echo "--app --stack --boot --user" ;;
        dump) echo "-o --output" ;;
        otp-lock) echo "-y --yes" ;;
    esac
}

# The positional argument that is a load file: its place among the
# command's positionals, counted from 1.
_corvel_dl_file_argument()
{
    case $1 in
        write-flash) echo 2 ;;
        otp-write) echo 3 ;;
    esac
}

_corvel_dl()
{
    local cur prev words cword split
    _init_completion -s || return

    case $prev in
        -p | --port)
            # The tool's own port list, so the completion sees what it sees.
            COMPREPLY=($(compgen -W "$(corvel-dl ports 2>/dev/null)" -- "$cur"))
            return
            ;;
        --app | --stack | --boot)
            _filedir hex
            return
            ;;
        --part | --access | --user)
            _filedir cfg
            return
            ;;
        -o | --output | --json)
            _filedir
            return
            ;;
        --lang)
            COMPREPLY=($(compgen -W "zh en" -- "$cur"))
            return
            ;;
        -b | --baud | --speedup)
            COMPREPLY=($(compgen -W "115200 230400 460800 500000 921600 1000000 2000000" -- "$cur"))
            return
            ;;
        --password | --sync-timeout | --duration | -h | --help | --version)
            return
            ;;
    esac
    $split && return

    # The command is the first word that is neither an option nor the value
    # of an option that takes one; the positionals are the words after it.
    local i command="" positionals=0
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            -p | --port | -b | --baud | --password | --sync-timeout | --json | --lang | --speedup | --part | --access | \
                --app | --stack | --boot | --user | -o | --output | --duration)
                ((i++))
                ;;
            -*) ;;
            *)
                if [[ -z $command ]]; then
                    command=${words[i]}
                else
                    ((positionals++))
                fi
                ;;
        esac
    done

    if [[ -z $command ]]; then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "$_corvel_dl_globals" -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$_corvel_dl_commands" -- "$cur"))
        fi
        return
    fi

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$(_corvel_dl_command_options "$command") $_corvel_dl_globals" -- "$cur"))
        return
    fi
    if [[ $(_corvel_dl_file_argument "$command") == $((positionals + 1)) ]]; then
        _filedir
        return
    fi
    case $command in
        otp-*)
            ((positionals == 0)) && COMPREPLY=($(compgen -W "1 2 3" -- "$cur"))
            ;;
    esac
} &&
    complete -F _corvel_dl corvel-dl

# ex: filetype=sh
