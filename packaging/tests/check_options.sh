#!/usr/bin/env bash
# check_options.sh BIN PACKAGING: every option each program's --help lists is
# in its man page and its bash completion, and the completions offer what a
# shell user expects at the usual places.
source "$(dirname "$0")/lib.sh" || exit 1
bin=$1 packaging=$2
completions=/usr/share/bash-completion/bash_completion
[ -r "$completions" ] || { echo "FAIL: no $completions (package bash-completion)" >&2; exit 1; }

for program in queltor queltor-ctl queltor-devsim queltor-web; do
  help=$(env -u DISPLAY -u WAYLAND_DISPLAY "$bin/$program" --help) || fail "$program --help failed"
  # The options as the help lists them, one a line under "Options:".
  options=$(sed -n '/^Options:/,/^$/p' <<<"$help" | grep -oE '^ +(-[a-z], )?--[a-z][a-z-]*' | grep -oE -- '--[a-z-]+')
  [ -n "$options" ] || fail "$program --help lists no options"
  page=$packaging/man/$program.1
  completion=$packaging/bash-completion/$program
  for option in $options; do
    grep -qF -- "${option//-/\\-}" "$page" || fail "$program: $option is not in $(basename "$page")"
    grep -qwF -- "$option" "$completion" || fail "$program: $option is not in its bash completion"
  done
  echo "$program: $(tr "\n" " " <<<"$options")"
done

# offered PROGRAM LINE: what completing the end of LINE offers, sorted, on one line.
offered() {
  bash -c '
    source "$1" && source "$2" || exit 1
    compopt() { :; } # only a completion bash itself runs may set its options
    read -ra COMP_WORDS <<<"$3"
    [[ $3 == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMP_LINE=$3 COMP_POINT=${#3}
    function=$(complete -p "${COMP_WORDS[0]}" | sed -E "s/.* -F ([^ ]+) .*/\1/")
    "$function" "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    ((${#COMPREPLY[@]})) && printf "%s\n" "${COMPREPLY[@]}" | sort | tr "\n" " "
  ' _ "$completions" "$packaging/bash-completion/$1" "$2"
}
expect() { # expect LINE OFFERED
  local got
  got=$(offered "${1%% *}" "$1")
  [ "$got" = "$2" ] || fail "completing '$1' offers '$got', expected '$2'"
}
expect "queltor-ctl " "scan select status stop watch "
expect "queltor-ctl --config a.conf s" "scan select status stop "
expect "queltor-ctl scan --" "--config --end --help --start --term --version "
expect "queltor-ctl select --" "--config --help --version "
expect "queltor-ctl select 4" "40 41 42 43 44 45 46 47 48 49 "
expect "queltor-ctl select 07 " ""
expect "queltor-ctl scan --start 9" "90 91 92 93 94 95 96 97 98 99 "
expect "queltor --" "--config --device --help --version "
expect "queltor -platform " "offscreen wayland xcb "
expect "queltor-devsim --" "--help --port --quit-after --version "
expect "queltor-devsim --port CO" "COM1= COM2= "
expect "queltor-web --list" "--list-tokens --listen "
expect "queltor-web --listen 127" "127.0.0.1:8686 "
finish
