# bash completion for korvane-cli: its options, the serial ports present (and "sim",
# "auto", "auto-all") after -p, any file after --read, --log and --serial-file, image files (.bin, .hex, .ihx,
# .elf, .axf in any case; any file once --format names the format) after everything
# else. File names are completed as file names: spaces and the like come escaped.

# _korvane_cli_files CUR [ALL]: the files and folders whose names start with CUR, of
# them only images unless ALL is given, into COMPREPLY.
_korvane_cli_files() {
  local name
  COMPREPLY=()
  while IFS= read -r name; do
    if [[ -n ${2:-} || -d $name ]]; then
      COMPREPLY+=("$name")
      continue
    fi
    case ${name,,} in
      *.bin | *.hex | *.ihx | *.elf | *.axf) COMPREPLY+=("$name") ;;
    esac
  done < <(compgen -f -- "$1")
  # Outside a completion (a test calling the function) there is nothing to tell readline.
  compopt -o filenames 2>/dev/null
  return 0
}

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
    --read | --log | --serial-file) _korvane_cli_files "$cur" all; return ;;
    --serial | --serial-start | --station-name) return ;;
    --part)
      local parts
      parts=$(korvane-cli --list-parts 2>/dev/null | awk 'NR > 1 { print $1 }')
      mapfile -t COMPREPLY < <(compgen -W "$parts" -- "$cur")
      return ;;
    --reset-time | --isp-time) return ;;
    --range) return ;;
  esac
  if [[ $cur == -* ]]; then
    local options
    # Every option as --help names it: "  -p, --port PORT", "      --baud RATE".
    options=$(korvane-cli --help 2>/dev/null | grep -oE -- '^  -[a-z],|--[a-z][a-z-]+' | tr -d , | sort -u)
    mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
    return
  fi
  # Image files and folders to go into; with --format, whatever the name.
  local all=""
  [[ " ${COMP_WORDS[*]} " == *" --format "* ]] && all=all
  _korvane_cli_files "$cur" "$all"
}
complete -F _korvane_cli korvane-cli
