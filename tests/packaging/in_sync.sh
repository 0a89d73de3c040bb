#!/usr/bin/env bash
# Texts that repeat what the code says, checked against it:
#   - docs/treexport.1 is what packaging/make-manpage writes from the command's help;
#   - packaging/treexport.bash-completion offers exactly the options each command's help lists;
#   - every code block of docs/embedding.md appears verbatim in the examples CI builds.
# Usage: in_sync.sh TREEXPORT_EXECUTABLE SOURCE_DIR
set -euo pipefail
exe=$1
source=$2
fail() { echo "FAIL: $*" >&2; exit 1; }

if ! diff -u "$source/docs/treexport.1" <("$source/packaging/make-manpage" "$exe"); then
  fail "docs/treexport.1 is out of date: run packaging/make-manpage $exe > docs/treexport.1"
fi

completion=$source/packaging/treexport.bash-completion
help_options() {  # the options of one help text, sorted, one a line
  "$exe" "$@" --help | grep -oE '^  (-[a-zA-Z],)?--[a-z-]+' | tr ',' '\n' | tr -d ' ' | sort
}
completion_options() {  # the options the completion offers for command $1 ("" = none yet)
  local pattern
  if [ -z "$1" ]; then pattern='"")'; else pattern="$1)"; fi
  grep -E "^ +$pattern options=" "$completion" | sed -E "s/.*options='([^']*)'.*/\1/" |
    tr ' ' '\n' | sort
}
for command in "" info pmml xml; do
  # shellcheck disable=SC2086 # an empty command is no argument
  if ! diff <(help_options $command) <(completion_options "$command") >/dev/null; then
    fail "the completion's options for '${command:-treexport}' differ from its help:" \
      "$(diff <(help_options $command) <(completion_options "$command"))"
  fi
done
commands=$("$exe" --help | sed -n '/^Subcommands:/,/^$/p' | grep -oE '^  [a-z]+' | tr -d ' ' | sort)
[ "$commands" = "$(printf '%s\n' info pmml xml)" ] || fail "the completion does not know: $commands"

python3 - "$source" <<'PY' || fail "docs/embedding.md quotes code that is not in examples/embed"
import pathlib, re, sys
root = pathlib.Path(sys.argv[1])
examples = "\n".join(p.read_text() for p in sorted((root / "examples/embed").iterdir()) if p.is_file())
blocks = re.findall(r"```(?:cpp|cmake)\n(.*?)```", (root / "docs/embedding.md").read_text(), re.S)
missing = [b for b in blocks if b.rstrip("\n") not in examples]
for block in missing:
    print("not in examples/embed:\n" + block, file=sys.stderr)
sys.exit(1 if missing or not blocks else 0)
PY
echo "manual page, completion and embedding guide agree with the code"
