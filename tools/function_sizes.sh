#!/usr/bin/env bash
# Lists every function of the core (src/base, model, tar, codecs, export),
# the converter (src/cli) and the benchmarks that runs over 80 lines, as
# clang-tidy's readability-function-size check counts them, and exits 1 when
# there is one. It parses every file in full, so it is run by hand rather
# than from CTest:
#
#   cmake -S . -B build -DZOVEVOD_BUILD_BENCH=ON
#   tools/function_sizes.sh build
#
# Each file is checked with its own flags from BUILD/compile_commands.json
# (the top CMakeLists.txt always writes it); JOBS files (default 2) at once.
# Exits 2 when a file cannot be parsed.
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: tools/function_sizes.sh BUILD_DIR" >&2; exit 2; }
build=$(realpath "$1")
root=$(realpath "$(dirname "$0")/..")
"$root/tools/setup.sh" clang-tidy
db=$build/compile_commands.json
[ -f "$db" ] || { echo "$db is missing: configure with -DCMAKE_EXPORT_COMPILE_COMMANDS=ON" >&2; exit 2; }
limit=80
dirs=(src/base src/model src/tar src/codecs src/export src/cli bench)

# The sources of those folders that the build compiles; a file the build
# leaves out has no flags to be parsed with.
mapfile -t files < <(python3 - "$db" "$root" "${dirs[@]}" <<'PY'
import json, os, sys
db, root, dirs = sys.argv[1], sys.argv[2], sys.argv[3:]
prefixes = tuple(os.path.join(root, d) + os.sep for d in dirs)
seen = set()
for entry in json.load(open(db)):
    path = os.path.normpath(os.path.join(entry["directory"], entry["file"]))
    if path.startswith(prefixes) and path not in seen:
        seen.add(path)
        print(path)
PY
)
[ ${#files[@]} -gt 0 ] || { echo "no sources of ${dirs[*]} in $db" >&2; exit 2; }
printf '%s\n' "${files[@]}" | grep -q "^$root/bench/" ||
  echo "note: the benchmarks are not in this build (-DZOVEVOD_BUILD_BENCH=ON) and were not checked" >&2

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# Functions defined in the headers of those folders count too; each is
# reported once however many files include it.
filter="^$root/(src/(base|model|tar|codecs|export|cli)|bench)/"
config="{CheckOptions: [{key: readability-function-size.LineThreshold, value: $limit}]}"
# One output file per source, so that parallel runs do not mix their lines.
printf '%s\n' "${files[@]}" | xargs -P "${JOBS:-2}" -I{} sh -c \
  'clang-tidy -p "$1" --quiet -checks="-*,readability-function-size" -header-filter="$2" -config="$3" "$4" \
     >"$5/$(printf %s "$4" | tr / _)" 2>&1 || true' _ "$build" "$filter" "$config" {} "$tmp"

python3 - "$root" "$tmp" <<'PY'
import os, re, sys
root, tmp = sys.argv[1], sys.argv[2]
warning = re.compile(r"^(.+?):(\d+):\d+: warning: function '(.+?)' exceeds recommended size")
lines = re.compile(r": note: (\d+) lines including whitespace and comments")
error = re.compile(r"^(.+?):\d+:\d+: error: ")
found, errors = {}, []
for name in sorted(os.listdir(tmp)):
    last = None
    for text in open(os.path.join(tmp, name), errors="replace"):
        if m := warning.match(text):
            last = (os.path.relpath(m[1], root), int(m[2]), m[3])
            found.setdefault(last, "over the statement or branch limit")
        elif (m := lines.search(text)) and last:
            found[last] = m[1] + " lines"
        elif error.match(text):
            errors.append(text.rstrip())
for (path, line, function), size in sorted(found.items()):
    print(f"{path}:{line}: {function}: {size}")
for text in errors:
    print(text, file=sys.stderr)
sys.exit(2 if errors else 1 if found else 0)
PY
