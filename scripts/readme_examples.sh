#!/usr/bin/env bash
# Runs README.md's examples as a reader pastes them: every ```sh block
# through bash and every ```python block saved as a script and run with
# /usr/bin/python3, in the README's order, from the repository's root. They
# start from what ./scripts/run.sh leaves (build/ and out/demo/), so that
# runs first when it has not. A block after the line
# "<!-- readme-examples: skip -->" is left out (the quick start itself, and
# what needs the test build). Stops at the first example that fails, naming
# its line.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ ! -f out/demo/pair_new.off ] || [ ! -x build/tools/resample/finecoreg-resample ]; then
  ./scripts/run.sh
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One file per block, named <line>.<sh|py>, the line of its opening fence.
/usr/bin/python3 - "$work" <<'PY'
import re
import sys

kinds = {"sh": "sh", "python": "py"}
block, skip = None, False
for number, line in enumerate(open("README.md", encoding="utf-8"), 1):
    if block is not None:
        if line.rstrip("\n") == "```":
            if not skip:
                name, text = block
                with open(f"{sys.argv[1]}/{name}", "w", encoding="utf-8") as out:
                    out.write(text)
            block, skip = None, False
        else:
            block[1] += line
        continue
    opening = re.fullmatch(r"```(\w*)\n?", line)
    if opening:
        kind = kinds.get(opening.group(1))
        block = [f"{number:05d}.{kind}" if kind else "", ""]
        skip = skip or kind is None
    elif line.strip():
        skip = line.strip() == "<!-- readme-examples: skip -->"
PY

count=0
for example in "$work"/*; do
  name=$(basename "$example")
  echo "== README line $((10#${name%%.*})) =="
  case "$name" in
    *.sh) bash -euo pipefail "$example" ;;
    *.py) PYTHONPATH=build/python /usr/bin/python3 "$example" ;;
  esac || { echo "README example at line $((10#${name%%.*})) failed" >&2; exit 1; }
  count=$((count + 1))
done
echo "All $count README examples ran."
