# bash completion for quillet: commands, options, encoding names and files.
# Installed as share/bash-completion/completions/quillet. The word lists
# follow quillet --help (tests/cli/test_completion.py holds them to it).
_quillet() {
    local cur prev words cword split
    # -n : keeps a line range such as 1:20 one word.
    _init_completion -s -n : || return

    case $prev in
        -e | --encoding | -[!-]*e)
            COMPREPLY=($(compgen -W 'auto utf-8 utf8 utf-16 utf-16le utf-16be cp932
                sjis shift_jis shift-jis windows-31j ms932' -- "$cur"))
            return
            ;;
        -t | --tab-width | -[!-]*t)
            COMPREPLY=($(compgen -W '1 2 3 4 8 16 32 64' -- "$cur"))
            return
            ;;
        --lines)
            return
            ;;
    esac
    $split && return

    # The first word that is no option nor an option's value is the
    # command; the words after it are files. After "--" every word is one.
    local i ended=false
    for ((i = 1; i < cword; i++)); do
        if ! $ended; then
            case ${words[i]} in
                -e | --encoding | -t | --tab-width | --lines | -[!-]*[et])
                    ((i++))
                    continue
                    ;;
                --)
                    ended=true
                    continue
                    ;;
                -?*) continue ;;
            esac
        fi
        _filedir
        return
    done

    if [[ $cur == -* ]] && ! $ended; then
        COMPREPLY=($(compgen -W '--in-place --check --diff --lines= --tab-width=
            --editorconfig --encoding= --verbose --help --version' -- "$cur"))
        [[ ${COMPREPLY-} == *= ]] && compopt -o nospace
        return
    fi
    COMPREPLY=($(compgen -W 'spaces fullwidth tabs double halve unindent trim pad
        pad-tabs upper lower fullwidth-letters halfwidth-letters fullwidth-symbols
        halfwidth-symbols fullwidth-digits halfwidth-digits fullwidth-katakana
        halfwidth-katakana hiragana katakana' -- "$cur"))
} &&
    complete -F _quillet quillet
