#!/usr/bin/env bash
# Long fuzzing, by hand and never in CI: every target (or those named) runs until it has tried
# EXECUTIONS inputs, one target at a time so that a machine of two cores keeps one for other
# work. Of what a run finds, only the inputs that reach new edges join the committed corpus;
# docs/fuzzing.md gets each target's figures.
#
#   tests/fuzz/long.sh BUILD_DIR [EXECUTIONS [TARGET...]]
#
# EXECUTIONS defaults to 10000000. FUZZ_MAX_SECONDS (default 0: none) stops a target early; its
# row then says how far it got. A crashing input is kept in BUILD_DIR/fuzz-crashes and stops that
# target; fix the fault, add the input to the target's corpus and run it again.
set -uo pipefail

if [ $# -lt 1 ]; then
  echo "usage: $0 BUILD_DIR [EXECUTIONS [TARGET...]]" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
build=$1
executions=${2:-10000000}
shift $(( $# >= 2 ? 2 : 1 ))
max_seconds=${FUZZ_MAX_SECONDS:-0}
report="$source_dir/docs/fuzzing.md"

# Configuring and building is run.sh's business; with no time to fuzz it does just that.
"$here/run.sh" "$build" 0 >/dev/null || { echo "$0: the fuzz build failed" >&2; exit 1; }

targets=${*:-$(sed -n 's/^add_fuzz_target(\([a-z_0-9]*\).*/\1/p' "$here/CMakeLists.txt")}
crashes="$build/fuzz-crashes"
mkdir -p "$crashes"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
today=$(date -u +%Y-%m-%d)
rows="$scratch/rows"
: >"$rows"

status=0
for name in $targets; do
  binary="$build/tests/fuzz/fuzz_$name"
  corpus="$here/corpus/$name"
  found="$scratch/found-$name"
  mkdir -p "$found" "$corpus"
  echo "fuzz_$name: $executions executions"
  limit=()
  [ "$max_seconds" -gt 0 ] && limit=(-max_total_time="$max_seconds")
  log="$scratch/$name.log"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    "$binary" -runs="$executions" "${limit[@]}" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -print_pcs=0 -artifact_prefix="$crashes/$name-" \
    "$found" "$corpus" >"$log" 2>&1
  result=$?

  ran=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)

  # Only what reaches edges the committed corpus does not joins it (hit counts are left out of
  # this choice, or it would take several times as many); nothing committed is dropped, since
  # the corpus also keeps the real files and every past crash.
  merged="$scratch/merged-$name"
  mkdir -p "$merged"
  cp "$corpus"/* "$merged/" 2>/dev/null
  "$binary" -merge=1 -use_counters=0 -timeout=10 -rss_limit_mb=2048 "$merged" "$found" \
    >"$scratch/$name-merge.log" 2>&1
  added=0
  for file in "$merged"/*; do
    [ -e "$corpus/$(basename "$file")" ] && continue
    cp "$file" "$corpus/"
    added=$((added + 1))
  done
  size=$(find "$corpus" -type f | wc -l)

  if [ "$result" -ne 0 ]; then
    findings="crash, input in fuzz-crashes"
    status=1
    echo "fuzz_$name FAILED; the log ends:" >&2
    tail -n 30 "$log" >&2
  else
    findings="none"
  fi
  note=""
  [ "${ran:-0}" -lt "$executions" ] && note=" (not yet at $executions)"
  echo "  ${ran:-0} executions, ${speed:-0}/s, cov ${cov:-?} ft ${ft:-?}, corpus $size (+$added)"
  printf '| `%s` | %s%s | %s | %s | %s | %s | %s | %s |\n' "$name" "${ran:-0}" "$note" \
    "${speed:-0}" "${cov:-?}" "${ft:-?}" "$size" "$findings" "$today" >>"$rows"
done

# The table keeps the rows of targets not run this time, and the notes below it stay.
if [ -f "$report" ]; then
  grep '^| `' "$report" | while IFS= read -r line; do
    name=$(echo "$line" | sed 's/^| `\([a-z_0-9]*\)`.*/\1/')
    grep -q "^| \`$name\` " "$rows" || echo "$line"
  done >>"$rows"
  sed -n '/^## /,$p' "$report" >"$scratch/notes"
fi
{
  cat <<'HEAD'
# Fuzzing

Every reader of bytes from outside has a libFuzzer target in `tests/fuzz/`. CI runs them all
briefly (`tests/fuzz/run.sh BUILD 60`); `tests/fuzz/long.sh BUILD [EXECUTIONS [TARGET...]]`
runs them long, one at a time, merges what adds coverage into the committed corpus and
rewrites the table below. Coverage is libFuzzer's own count at the end of the run: `cov` the
edges of instrumented code reached (the system's image, sound and web libraries are not
instrumented and not counted), `ft` the features. Speeds are from a machine of two cores with
other work going on, and vary by a third or so between runs.

| target | executions | exec/s | cov | ft | corpus files | findings | date |
|---|---|---|---|---|---|---|---|
HEAD
  sort "$rows"
  if [ -s "$scratch/notes" ]; then
    echo
    cat "$scratch/notes"
  fi
} >"$scratch/report"
mkdir -p "$(dirname "$report")"
cp "$scratch/report" "$report"
exit $status
