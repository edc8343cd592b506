#!/usr/bin/env bash
# Every korvane-cli command the README shows, run against the simulated chip, so that
# none can rot: the commands in its code blocks and in backticks, with each port turned
# into "sim" and each file into a fixture of the same kind (the example program as .bin,
# .hex or .elf). Each must end with exit code 0.
#
# usage: readme_examples_test.sh KORVANE_CLI README EXAMPLES_DIR
set -uo pipefail
if (($# != 3)); then
  echo "usage: $0 KORVANE_CLI README EXAMPLES_DIR" >&2
  exit 2
fi
cli=$(realpath "$1") readme=$2 examples=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"

# A HEX image that sets code read protection level 1, for the --allow-crp example.
python3 - "$examples/blink.bin" "$work/crp1.hex" <<'PY'
import sys
image = bytearray(open(sys.argv[1], 'rb').read())
image += b'\xff' * (0x300 - len(image))
image[0x2FC:0x300] = (0x12345678).to_bytes(4, 'little')
lines = []
for at in range(0, len(image), 16):
    chunk = image[at:at + 16]
    record = bytes([len(chunk), at >> 8, at & 0xFF, 0]) + chunk
    lines.append(':' + record.hex().upper() + '%02X' % (-sum(record) & 0xFF))
lines.append(':00000001FF')
open(sys.argv[2], 'w').write('\n'.join(lines) + '\n')
PY

# The fixtures the examples name, made anew before each command (-d deletes one).
fixtures() {
  cp "$examples/blink.bin" "$work/app.bin"
  cp "$examples/blink.hex" "$work/app.hex"
  cp "$examples/blink.hex" "$work/app.txt"
  cp "$examples/blink.elf" "$work/app.elf"
  cp "$work/crp1.hex" "$work/locked.hex"
  mkdir -p "$work/examples/blink"
  cp "$examples/blink.bin" "$work/examples/blink/blink.bin"
}

# The commands: whole lines in code blocks, and `...` spans, that start with korvane-cli
# and name no placeholder (PORT, FILE, RATE, ...) and no "...".
python3 - "$readme" >"$work/commands" <<'PY'
import re, sys
text = open(sys.argv[1]).read()
found = []
in_block = False
for line in text.splitlines():
    if line.startswith('```'):
        in_block = not in_block
        continue
    if in_block and line.startswith('korvane-cli '):
        found.append(line.strip())
for span in re.findall(r'`(korvane-cli [^`]+)`', text):
    found.append(span.strip())
seen = set()
for command in found:
    if re.search(r'\b[A-Z]{3,}\b', command.replace('COM5', '')) or '...' in command or '|' in command:
        continue
    if command not in seen:
        seen.add(command)
        print(command)
PY
count=$(wc -l <"$work/commands")
((count >= 10)) || { echo "FAILED  only $count commands found in $readme"; exit 1; }

passed=0 failed=0
while IFS= read -r command; do
  # Ports become the simulated chip (several of them for auto-all); files the fixtures.
  run=$(sed -E -e 's/(-p|--port) +auto-all/-p sim -p sim/g' -e 's/(-p|--port) +[^ ]+/-p sim/g' <<<"$command")
  run=${run#korvane-cli }
  fixtures
  # A watch runs until Ctrl-C, which ends it with exit code 0.
  stop=(timeout 60)
  [[ " $run " == *" -w "* || " $run " == *" --watch "* || $run == *" -d -w "* || $run == *"-dw"* ]] &&
    stop=(timeout --preserve-status -s INT 5)
  (cd "$work" && "${stop[@]}" "$cli" $run </dev/null >"$work/out" 2>"$work/err")
  code=$?
  if ((code == 0)); then
    echo "ok      $command"
    passed=$((passed + 1))
  else
    echo "FAILED  $command (as: korvane-cli $run): exit $code: $(head -c 300 "$work/err")"
    failed=$((failed + 1))
  fi
done <"$work/commands"
echo "$passed passed, $failed failed"
((failed == 0))
