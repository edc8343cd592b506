# bash completion for korvane-cli: its options, the serial ports present (and "sim",
# "auto", "auto-all") after -p, image files after everything else.
_korvane_cli() {
  local cur prev
  cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD-1]}
  case $prev in
    -p | --port)
      local ports
      ports=$(korvane-cli --list-ports 2>/dev/null | awk '$1 ~ /^\// || $1 ~ /^COM/ { print $1 }')
      mapfile -t COMPREPLY < <(compgen -W "sim auto auto-all $ports" -- "$cur")
      return ;;
    --baud) mapfile -t COMPREPLY < <(compgen -W "9600 19200 38400 57600 115200" -- "$cur"); return ;;
    --monitor-baud)
      mapfile -t COMPREPLY < <(compgen -W "1200 2400 4800 9600 19200 38400 57600 115200 230400" -- "$cur")
      return ;;
    --format) mapfile -t COMPREPLY < <(compgen -W "bin hex elf" -- "$cur"); return ;;
    --reset) mapfile -t COMPREPLY < <(compgen -W "default swapped inverted swapped-inverted none" -- "$cur"); return ;;
    --after) mapfile -t COMPREPLY < <(compgen -W "reset go stay" -- "$cur"); return ;;
    --retry) mapfile -t COMPREPLY < <(compgen -W "0 1 2 3 4 5 6 7 8 9 10" -- "$cur"); return ;;
    --read) mapfile -t COMPREPLY < <(compgen -f -- "$cur"); return ;;
    --range) return ;;
  esac
  if [[ $cur == -* ]]; then
    local options
    options=$(korvane-cli --help 2>/dev/null | grep -oE -- '--[a-z][a-z-]+' | sort -u)
    mapfile -t COMPREPLY < <(compgen -W "-p -d -w -q -v -h $options" -- "$cur")
    return
  fi
  # Image files and folders to go into.
  mapfile -t COMPREPLY < <(compgen -f -X '!*.@(bin|hex|ihx|elf|axf|BIN|HEX|IHX|ELF|AXF)' -- "$cur"; compgen -d -- "$cur")
  compopt -o filenames 2>/dev/null
}
complete -F _korvane_cli korvane-cli
