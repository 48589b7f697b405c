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
#
# SEEDS (environment), a list of first seeds: repetition r runs both binaries
# with --seed SEEDS[r] 550, so that REPETITIONS is the number of seeds. Two
# modes, or two builds that draw differently, break down at different steps
# for one seed (the breakdown step varies by some 20 % from seed to seed), so
# compare them over several seeds, by the means; the last column, the ions
# in the store at the last step, shows how much work each run had:
# AFTER_BREAKDOWN=N (environment) runs each run only to the same stage of its
# discharge, N steps past the first logged step with more than 10,000 ions
# (STEPS then only bounds the run), and times it to there: with SEEDS, the
# fair end-to-end comparison of two modes, or of builds that draw differently:
#   AFTER_BREAKDOWN=400 SEEDS="1101 1102 1103 1104 1105 1106 1107 1108 1109 1110" \
#     PDPCELL_ARGS="--parallel --threads 2" OTHER_ARGS=" " scripts/bench-run.sh 30000 10 build/pdpcell
set -euo pipefail
cd "$(dirname "$0")/.."
STEPS="${1:-4601}"
REPS="${2:-3}"
OTHER="${3:-}"
THIS_ARGS="${PDPCELL_ARGS:-}"
OTHER_ARGS="${OTHER_ARGS:-$THIS_ARGS}"
AFTER="${AFTER_BREAKDOWN:-}"
read -r -a SEED_LIST <<<"${SEEDS:-}"
if [ "${#SEED_LIST[@]}" -gt 0 ] && [ "${#SEED_LIST[@]}" -lt "$REPS" ]; then
  echo "bench-run: SEEDS names ${#SEED_LIST[@]} seeds for $REPS repetitions" >&2
  exit 2
fi
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
if [ -n "$AFTER" ]; then
  echo "# examples/sustain to $AFTER steps past breakdown (at most $STEPS steps), $REPS repetitions, $(nproc) processors, load: $(cut -d' ' -f1-3 /proc/loadavg)"
else
  echo "# $STEPS steps of examples/sustain, $REPS repetitions, $(nproc) processors, load: $(cut -d' ' -f1-3 /proc/loadavg)"
fi

# One run: prints "wall field ions electrons" in seconds, then the ions in the
# store at the last step.
run_once() {
  local bin="$1" args="$2" dir="$WORK/run"
  rm -rf "$dir"
  mkdir -p "$dir"
  cp "$ROOT/examples/sustain/input_file.txt" "$ROOT/examples/sustain/Vdata.txt" "$dir"
  local start end
  start=$(date +%s.%N)
  if [ -z "$AFTER" ]; then
    (cd "$dir" && "$bin" $args --max-steps "$STEPS" </dev/null >console.txt 2>&1) || {
      echo "bench-run: $bin failed, see its last lines:" >&2
      tail -n 3 "$dir/console.txt" >&2
      exit 1
    }
  else
    # Watched: stopped once the run log reaches AFTER steps past the first
    # logged step with more than 10,000 ions.
    (cd "$dir" && exec "$bin" $args --max-steps "$STEPS" </dev/null >console.txt 2>&1) &
    local pid=$! stage=""
    while kill -0 "$pid" 2>/dev/null; do
      stage=$(awk -v after="$AFTER" 'NR > 1 && b == "" && $6 > 10000 { b = $1 }
                                    NR > 1 && b != "" && $1 >= b + after { print $1; exit }' "$dir/general.txt" 2>/dev/null)
      if [ -n "$stage" ]; then
        kill -INT "$pid" 2>/dev/null
        break
      fi
      sleep 0.05
    done
    end=$(date +%s.%N)
    wait "$pid" 2>/dev/null || true
    if [ -z "$stage" ]; then
      echo "bench-run: $bin stopped before $AFTER steps past its breakdown, see its last lines:" >&2
      tail -n 3 "$dir/console.txt" >&2
      exit 1
    fi
  fi
  [ -n "${end:-}" ] || end=$(date +%s.%N)
  # Every 20th step the console shows the line " t11,t22,t33" and the three
  # sums below it; the last such block covers all steps before it.
  local phases
  phases=$(awk '/t11,t22,t33/ { getline; last = $1 " " $2 " " $3 } END { print last }' "$dir/console.txt")
  local ions
  ions=$(awk 'END { print $6 }' "$dir/general.txt")
  echo "$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }') $phases $ions"
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
printf '%-6s %3s %10s %10s %10s %10s %10s\n' build rep wall_s field_s ions_s electrons_s ions_last
for rep in $(seq "$REPS"); do
  seed_args=""
  [ "${#SEED_LIST[@]}" -gt 0 ] && seed_args=" --seed ${SEED_LIST[$((rep - 1))]} 550"
  for n in "${!bins[@]}"; do
    result=$(run_once "${bins[$n]}" "${arguments[$n]}$seed_args") || exit 1
    read -r wall field ions electrons last <<<"$result"
    echo "$wall $field $ions $electrons $last" >>"$WORK/${labels[$n]}.times"
    printf '%-6s %3d %10.3f %10.3f %10.3f %10.3f %10d\n' "${labels[$n]}" "$rep" "$wall" "$field" "$ions" "$electrons" "$last"
  done
done

echo "# medians"
for label in "${labels[@]}"; do
  f="$WORK/$label.times"
  printf '%-6s %3s %10.3f %10.3f %10.3f %10.3f\n' "$label" "" \
    "$(cut -d' ' -f1 "$f" | median)" "$(cut -d' ' -f2 "$f" | median)" \
    "$(cut -d' ' -f3 "$f" | median)" "$(cut -d' ' -f4 "$f" | median)"
done
mean() { awk '{ s += $1 } END { print (NR > 0) ? s / NR : 0 }'; }
echo "# means"
for label in "${labels[@]}"; do
  f="$WORK/$label.times"
  printf '%-6s %3s %10.3f %10.3f %10.3f %10.3f %10.0f\n' "$label" "" \
    "$(cut -d' ' -f1 "$f" | mean)" "$(cut -d' ' -f2 "$f" | mean)" \
    "$(cut -d' ' -f3 "$f" | mean)" "$(cut -d' ' -f4 "$f" | mean)" "$(cut -d' ' -f5 "$f" | mean)"
done
if [ -n "$OTHER" ]; then
  echo "# speed-up of this build over the other (ratio of medians, then of means)"
  for stat in median mean; do
    for col in 1 2 3 4; do
      o=$(cut -d' ' -f$col "$WORK/other.times" | $stat)
      t=$(cut -d' ' -f$col "$WORK/this.times" | $stat)
      awk -v o="$o" -v t="$t" 'BEGIN { printf "%.2f ", (t > 0) ? o / t : 0 }'
    done
    echo "(wall field ions electrons; $stat)"
  done
fi
