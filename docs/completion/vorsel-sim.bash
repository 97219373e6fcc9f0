# bash completion for vorsel-sim                                 -*- shell-script -*-

_vorsel_sim()
{
    local cur=${COMP_WORDS[COMP_CWORD]}
    local option=
    ((COMP_CWORD > 0)) && option=${COMP_WORDS[COMP_CWORD - 1]}
    local prefix=

    # "--option=value": bash splits at "=" unless COMP_WORDBREAKS was changed.
    if [[ $cur == = && $option == --* ]]; then
        cur=
    elif [[ $option == = ]] && ((COMP_CWORD > 1)); then
        option=${COMP_WORDS[COMP_CWORD - 2]}
    elif [[ $cur == --*=* ]]; then
        option=${cur%%=*}
        prefix=$option=
        cur=${cur#*=}
    fi

    local candidates= files=
    case $option in
        --listen)
            # Loopback addresses; any other address is typed by hand.
            candidates="127.0.0.1 127.0.0.2"
            ;;
        --port)
            candidates="7090 0"
            ;;
        --control)
            candidates="7091 0"
            ;;
        --link | --state)
            files=yes
            ;;
        --serial)
            local device
            for device in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM*; do
                [[ -e $device ]] && candidates+=" $device"
            done
            [[ $cur == [/.~]* ]] && files=yes
            ;;
        --settings)
            local rate
            for rate in 1200 2400 4800 9600 19200 38400 57600 115200; do
                candidates+=" $rate ${rate}N81 ${rate}E71 ${rate}E81 ${rate}O71 ${rate}O81"
            done
            ;;
        --node)
            candidates=$(printf '%s ' {1..31})
            ;;
        --trailing)
            # A late line feed, the commonest stray byte.
            candidates="0A"
            ;;
        --delay | --split | --ignore-every | --ignore-next | --no-tag-for | --repeat | \
            --delay-next | --pass) ;;
        *)
            if [[ $cur == -* ]]; then
                candidates="--help --help-all --listen --port --pty --link --serial --settings
                    --node --state --control --no-tag --no-tag-for --delay --split --ignore-every
                    --ignore-next --close --bad-byte --lost-write --trailing --repeat --busy
                    --delay-next --pass"
                [[ $cur == --* ]] || candidates+=" -h"
            fi
            ;;
    esac

    COMPREPLY=()
    local candidate
    while IFS= read -r candidate; do
        [[ -n $candidate ]] && COMPREPLY+=("$prefix$candidate")
    done < <({
        compgen -W "$candidates" -- "$cur"
        [[ -n $files ]] && compgen -f -- "$cur"
    } | sort -u)
    if [[ -n $files ]]; then
        compopt -o filenames 2>/dev/null
    fi
    return 0
}
complete -F _vorsel_sim vorsel-sim
