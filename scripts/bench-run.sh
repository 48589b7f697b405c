#!/usr/bin/env bash
# End-to-end timing of a discharge: the bundled example case (examples/sustain)
# run for a fixed number of steps. Prints, for each run, the wall time and the
# processor time of the three phases of a step as the program sums them
# (field: densities, charge, potential solve and field; ions; electrons), and
# the median of each over the repetitions.
#
#   scripts/bench-run.sh [STEPS] [REPETITIONS] [OTHER_PDPCELL]
#
# STEPS defaults to 4601 (the discharge fills the ion store near step 4700;
# the phase sums, printed every 20 steps, then cover steps 1 to 4600),
# REPETITIONS to 3. Given a second binary (e.g. a build of an older commit),
# the two are run alternately, so that both see the same load of the machine,
# and the ratio of their medians is printed. Uses build/pdpcell (built with
# the release flags if missing); runs in a scratch folder.
#
# PDPCELL_ARGS (environment) are passed to build/pdpcell, OTHER_ARGS to the
# other binary (default: the same as PDPCELL_ARGS). The parallel mode on two
# threads against the exact mode of the same build:
#   PDPCELL_ARGS="--parallel --threads 2" OTHER_ARGS=" " scripts/bench-run.sh 4401 3 build/pdpcell
# (with --parallel the phase columns sum the processor time of every thread;
# compare the wall times).
set -euo pipefail
cd "$(dirname "$0")/.."
STEPS="${1:-4601}"
REPS="${2:-3}"
OTHER="${3:-}"
THIS_ARGS="${PDPCELL_ARGS:-}"
OTHER_ARGS="${OTHER_ARGS:-$THIS_ARGS}"
ROOT="$(pwd)"
BIN="$ROOT/build/pdpcell"
if [ ! -x "$BIN" ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build -j "$(nproc)" --target pdpcell >/dev/null
fi
if [ -n "$OTHER" ]; then
  OTHER="$(cd "$(dirname "$OTHER")" && pwd)/$(basename "$OTHER")"
  [ -x "$OTHER" ] || { echo "bench-run: $OTHER is not an executable" >&2; exit 2; }
fi

WORK="$(mktemp -d "${TMPDIR:-/tmp}/pdpcell-bench-run-XXXXXX")"
trap 'rm -rf "$WORK"' EXIT
echo "# $STEPS steps of examples/sustain, $REPS repetitions, $(nproc) processors, load: $(cut -d' ' -f1-3 /proc/loadavg)"

# One run: prints "wall field ions electrons" in seconds.
run_once() {
  local bin="$1" args="$2" dir="$WORK/run"
  rm -rf "$dir"
  mkdir -p "$dir"
  cp "$ROOT/examples/sustain/input_file.txt" "$ROOT/examples/sustain/Vdata.txt" "$dir"
  local start end
  start=$(date +%s.%N)
  (cd "$dir" && "$bin" $args --max-steps "$STEPS" </dev/null >console.txt 2>&1) || {
    echo "bench-run: $bin failed, see its last lines:" >&2
    tail -n 3 "$dir/console.txt" >&2
    exit 1
  }
  end=$(date +%s.%N)
  # Every 20th step the console shows the line " t11,t22,t33" and the three
  # sums below it; the last such block covers all steps before it.
  local phases
  phases=$(awk '/t11,t22,t33/ { getline; last = $1 " " $2 " " $3 } END { print last }' "$dir/console.txt")
  echo "$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }') $phases"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

labels=("this")
bins=("$BIN")
arguments=("$THIS_ARGS")
if [ -n "$OTHER" ]; then
  labels=("other" "this")
  bins=("$OTHER" "$BIN")
  arguments=("$OTHER_ARGS" "$THIS_ARGS")
fi
for label in "${labels[@]}"; do : >"$WORK/$label.times"; done
printf '%-6s %3s %10s %10s %10s %10s\n' build rep wall_s field_s ions_s electrons_s
for rep in $(seq "$REPS"); do
  for n in "${!bins[@]}"; do
    read -r wall field ions electrons <<<"$(run_once "${bins[$n]}" "${arguments[$n]}")"
    echo "$wall $field $ions $electrons" >>"$WORK/${labels[$n]}.times"
    printf '%-6s %3d %10.3f %10.3f %10.3f %10.3f\n' "${labels[$n]}" "$rep" "$wall" "$field" "$ions" "$electrons"
  done
done

echo "# medians"
for label in "${labels[@]}"; do
  f="$WORK/$label.times"
  printf '%-6s %3s %10.3f %10.3f %10.3f %10.3f\n' "$label" "" \
    "$(cut -d' ' -f1 "$f" | median)" "$(cut -d' ' -f2 "$f" | median)" \
    "$(cut -d' ' -f3 "$f" | median)" "$(cut -d' ' -f4 "$f" | median)"
done
if [ -n "$OTHER" ]; then
  echo "# speed-up of this build over the other (ratio of medians)"
  for col in 1 2 3 4; do
    o=$(cut -d' ' -f$col "$WORK/other.times" | median)
    t=$(cut -d' ' -f$col "$WORK/this.times" | median)
    awk -v o="$o" -v t="$t" 'BEGIN { printf "%.2f ", (t > 0) ? o / t : 0 }'
  done
  echo "(wall field ions electrons)"
fi
