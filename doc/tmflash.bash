# bash completion for tmflash: its options, the values of --visa, and files
# for LIST_FILE and the options that name one. Options come before the list
# file and everything after it is ignored, so nothing is offered there.
# Installed as share/bash-completion/completions/tmflash (it uses the helpers
# of the bash-completion package).

_tmflash_options="--visa= --select= --serial= --log= --report= --trace= --check --strict --no-verify --no-pause --all --jobs= --log-dir= --help --version"

_tmflash() {
    local cur prev words cword split
    _init_completion -s -n : || return

    local i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            --visa | --select | --serial | --log | --report | --trace | -j | --jobs | --log-dir) ((i++)) ;;
            --) ((i + 1 < cword)) && return; break ;;
            -*) ;;
            *) return ;; # the list file: what follows it is ignored
        esac
    done

    case $prev in
        --select | --serial | -j | --jobs)
            return
            ;;
        --log-dir)
            _filedir -d
            return
            ;;
        --log | --report | --trace)
            _filedir
            return
            ;;
        --visa)
            case $cur in
                sim:* | replay:*)
                    local kind=${cur%%:*}
                    cur=${cur#*:}
                    _filedir
                    COMPREPLY=("${COMPREPLY[@]/#/$kind:}")
                    __ltrim_colon_completions "$kind:$cur"
                    ;;
                *)
                    COMPREPLY=($(compgen -W "sim sim: replay: usb" -- "$cur"))
                    _filedir
                    ;;
            esac
            [[ ${COMPREPLY-} == *: ]] && compopt -o nospace
            return
            ;;
    esac
    $split && return

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$_tmflash_options" -- "$cur"))
        [[ ${COMPREPLY-} == *= ]] && compopt -o nospace
        return
    fi
    _filedir
}
complete -F _tmflash tmflash
