#!/usr/bin/env bash
# Every korvane-cli command that the README and the pages in docs/ show, run against the
# simulated chip, so that none can rot: the commands in their code blocks and in
# backticks, with each port turned into "sim" and each file into a fixture of the same
# kind (the example program as .bin, .hex or .elf). Each must end with exit code 0.
# The links between the pages are checked as well: each must lead to a file, and every
# page but the first must be linked from another page.
#
# usage: readme_examples_test.sh KORVANE_CLI EXAMPLES_DIR PAGE...
#   PAGE: a Markdown file, or a folder whose *.md files are all taken
set -uo pipefail
if (($# < 3)); then
  echo "usage: $0 KORVANE_CLI EXAMPLES_DIR PAGE..." >&2
  exit 2
fi
cli=$(realpath "$1") examples=$2
shift 2
pages=()
for page in "$@"; do
  if [[ -d $page ]]; then
    found=("$page"/*.md)
    [[ -f ${found[0]} ]] || { echo "FAILED  no pages in $page"; exit 1; }
    pages+=("${found[@]}")
  elif [[ -f $page ]]; then
    pages+=("$page")
  else
    echo "FAILED  no page $page"
    exit 1
  fi
done
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

# The commands, each with the first page that shows it: whole lines in code blocks, and
# `...` spans (a line break in one is a space), that start with korvane-cli and name no
# placeholder (PORT, FILE, RATE, ...) and no "...". On stderr, the links that lead
# nowhere and the pages that no other page links to.
python3 - "${pages[@]}" >"$work/commands" 2>"$work/links" <<'PY'
import os, re, sys
pages = sys.argv[1:]

# The anchors of a page's headings, as GitHub makes them.
def headings(path):
    anchors, in_block = set(), False
    for line in open(path).read().splitlines():
        if line.lstrip().startswith('```'):
            in_block = not in_block
        elif not in_block and re.match(r'#+ ', line):
            title = line.lstrip('#').strip().lower()
            anchors.add(re.sub(r'[^\w\- ]', '', title).replace(' ', '-'))
    return anchors

seen, faults, links = set(), [], set()
for page in pages:
    text = open(page).read()
    found = []
    in_block = False
    for line in text.splitlines():
        if line.lstrip().startswith('```'):
            in_block = not in_block
            continue
        if in_block and line.startswith('korvane-cli '):
            found.append(line.strip())
    for span in re.findall(r'`(korvane-cli\s[^`]+)`', text):
        found.append(' '.join(span.split()))
    for command in found:
        if re.search(r'\b[A-Z]{3,}\b', command.replace('COM5', '')) or '...' in command or '|' in command:
            continue
        if command not in seen:
            seen.add(command)
            print(page + '\t' + command)
    for target, anchor in re.findall(r'\]\(([^)#\s]*)(?:#([^)\s]*))?\)', text):
        if re.match(r'[a-z]+:', target):
            continue
        path = os.path.realpath(os.path.join(os.path.dirname(page), target) if target else page)
        links.add((os.path.realpath(page), path))
        if not os.path.isfile(path) or (anchor and anchor not in headings(path)):
            faults.append(page + ': the link to ' + target + '#' * bool(anchor) + anchor + ' leads nowhere')
for page in pages[1:]:
    path = os.path.realpath(page)
    if not any(to == path and source != path for source, to in links):
        faults.append(page + ': no other page links to it')
for fault in dict.fromkeys(faults):
    print(fault, file=sys.stderr)
PY
if [[ -s $work/links ]]; then
  sed 's/^/FAILED  /' "$work/links"
  exit 1
fi
count=$(wc -l <"$work/commands")
((count >= 10)) || { echo "FAILED  only $count commands found in ${pages[*]}"; exit 1; }

passed=0 failed=0
while IFS=$'\t' read -r page command; do
  # Ports become the simulated chip (several of them for auto-all); files the fixtures.
  run=$(sed -E -e 's/(-p|--port) +auto-all/-p sim -p sim/g' -e 's/(-p|--port) +[^ ]+/-p sim/g' <<<"$command")
  run=${run#korvane-cli }
  fixtures
  read -ra words <<<"$run"
  note=
  if [[ " $run " == *" -w "* || " $run " == *" --watch "* || $run == *"-dw"* ]]; then
    # A watch runs until Ctrl-C, which ends it with exit code 0: it gets one once it has
    # written and deleted its file (the last word), or ends by itself on a failure.
    # (A job in the background ignores SIGINT unless it is given back.)
    file=$work/${words[-1]}
    [[ -e $file ]] || { echo "FAILED  $page: $command: no fixture ${words[-1]}"; exit 1; }
    (cd "$work" && exec env --default-signal=INT "$cli" "${words[@]}" </dev/null >"$work/out" 2>"$work/err") &
    pid=$!
    for ((tenths = 0; tenths < 600; tenths++)); do
      if [[ ! -e $file ]] || ! kill -0 "$pid" 2>/dev/null; then break; fi
      sleep 0.1
    done
    kill -INT "$pid" 2>/dev/null
    wait "$pid"
    code=$?
    [[ -e $file ]] && note=" (never wrote and deleted ${words[-1]})" && code=1
  else
    (cd "$work" && timeout 60 "$cli" "${words[@]}" </dev/null >"$work/out" 2>"$work/err")
    code=$?
  fi
  if ((code == 0)); then
    echo "ok      $page: $command"
    passed=$((passed + 1))
  else
    echo "FAILED  $page: $command (as: korvane-cli $run)$note: exit $code: $(head -c 300 "$work/err")"
    failed=$((failed + 1))
  fi
done <"$work/commands"
echo "$passed passed, $failed failed"
((failed == 0))
