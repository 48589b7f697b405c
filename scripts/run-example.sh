#!/usr/bin/env bash
# Builds pdpcell and runs the bundled example case in run/example/, bounded by
# a step limit so that it finishes in a few minutes.
set -euo pipefail
cd "$(dirname "$0")/.."
STEPS="${1:-3000}"
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DPDPCELL_TESTS=OFF >/dev/null
cmake --build build -j "$(nproc)" --target pdpcell
rm -rf run/example
mkdir -p run/example
cp examples/sustain/input_file.txt examples/sustain/Vdata.txt run/example/
cd run/example
../../build/pdpcell --max-steps "$STEPS" </dev/null > console.txt
echo "Example run finished after $STEPS steps. Outputs are in run/example/:"
echo "  console.txt (console output), general.txt (run log), control_file.txt,"
echo "  SUSTAIN_STATE.txt, OUT_*.2Ddata (slices)"
tail -n 5 general.txt
