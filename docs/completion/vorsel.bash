# bash completion for vorsel                                     -*- shell-script -*-

_vorsel()
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
        -t | --target)
            # Serial ports and simulator pseudo-terminals; any other path (a symbolic link to a
            # pty, for instance) by file name. Host names and addresses are typed by hand.
            local device
            for device in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM* /dev/pts/[0-9]*; do
                [[ -e $device ]] && candidates+=" $device"
            done
            [[ $cur == [/.~]* ]] && files=yes
            ;;
        -n | --node-number)
            candidates=$(printf '%s ' {0..17})
            ;;
        -c | --baud-rate)
            local rate
            for rate in 1200 2400 4800 9600 19200 38400 57600 115200; do
                candidates+=" $rate ${rate}N81 ${rate}E71 ${rate}E81 ${rate}O71 ${rate}O81"
            done
            ;;
        -i | --timeout-interval)
            candidates="1000 2000 5000 8000 10000 30000 60000"
            ;;
        -o | --output-format)
            candidates="0 1 2 3 json"
            ;;
        --trace)
            candidates="-"
            files=yes
            ;;
        -r | --read | -w | --write | -s | --same-write)
            # Page lists: offer the pages not yet named after the last comma.
            local head=
            [[ $cur == *,* ]] && head=${cur%,*},
            local page
            for page in {1..17}; do
                [[ ,$head == *,$page,* ]] || candidates+=" $head$page"
            done
            ;;
        -b | --byte-write)
            # The first byte address of each page, in hexadecimal.
            candidates="00 08 10 18 20 28 30 38 40 48 50 58 60 68 70 78 80"
            ;;
        --set-subnet-mask)
            candidates="255.255.255.0 255.255.0.0 255.0.0.0"
            ;;
        --wait)
            candidates="1000 5000 10000 30000 60000"
            ;;
        --retries)
            candidates="0 1 2 3 5"
            ;;
        --dump | --restore | --compare)
            # An image file, or standard output or input.
            candidates="-"
            files=yes
            ;;
        --test | --set-web-password | --set-ip-address) ;;
        *)
            if [[ $cur == -* ]]; then
                candidates="--help --help-all --version --target --node-number --baud-rate
                    --timeout-interval --error-abort --output-format --read --write --same-write
                    --byte-write --test --nak --get-model-number --get-firmware-version
                    --get-mac-address --get-dip-switch-status --get-ip-address-on-dip-switch
                    --get-subnet-mask-on-dip-switch --get-ip-address-in-rom
                    --get-subnet-mask-in-rom --get-memory-status --get-antenna-connection-status
                    --get-last-command --get-communications-history
                    --clear-communications-history --noise-measurement --reset
                    --set-web-password --set-ip-address --set-subnet-mask --verbose --trace
                    --verify --wait --retries --dump --restore --compare --scan"
                [[ $cur == --* ]] || candidates+=" -h -v -t -n -c -i -a -o -r -w -s -b"
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
complete -F _vorsel vorsel
