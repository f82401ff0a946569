# bash completion for quillet: commands, options, encoding names and files.
_quillet() {
    local cur prev words cword split
    _init_completion -s || return

    case $prev in
        -e | --encoding)
            COMPREPLY=($(compgen -W 'auto utf-8 utf8 utf-16le utf-16be utf-16 cp932
                sjis shift_jis shift-jis windows-31j ms932' -- "$cur"))
            return
            ;;
        -t | --tab-width)
            COMPREPLY=($(compgen -W '1 2 3 4 8 16 32 64' -- "$cur"))
            return
            ;;
        --lines)
            return
            ;;
    esac
    $split && return

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '--in-place --check --diff --lines= --encoding=
            --tab-width= --editorconfig --verbose --help --version' -- "$cur"))
        [[ ${COMPREPLY-} == *= ]] && compopt -o nospace
        return
    fi

    # The first word that is no option nor an option's value is the command.
    local i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            -e | --encoding | -t | --tab-width | --lines) ((i++)) ;;
            --) ;;
            -*) ;;
            *)
                _filedir
                return
                ;;
        esac
    done
    COMPREPLY=($(compgen -W 'spaces fullwidth tabs double halve unindent trim pad
        pad-tabs upper lower fullwidth-letters halfwidth-letters fullwidth-symbols
        halfwidth-symbols fullwidth-digits halfwidth-digits fullwidth-katakana
        halfwidth-katakana hiragana katakana' -- "$cur"))
} &&
    complete -F _quillet quillet
