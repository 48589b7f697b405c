#!/usr/bin/env bash
# Builds pdpcell and runs the bundled example case in run/example/, bounded by
# a step limit so that it finishes in a few minutes, and draws its results
# into run/example/plots/.
set -euo pipefail
cd "$(dirname "$0")/.."
STEPS="${1:-4200}"
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" --target pdpcell
rm -rf run/example
mkdir -p run/example
cp examples/sustain/input_file.txt examples/sustain/Vdata.txt run/example/
cd run/example
../../build/pdpcell --max-steps "$STEPS" --vtk-every 1000 </dev/null > console.txt
echo "Example run finished after $STEPS steps. Outputs are in run/example/:"
echo "  console.txt (console output), general.txt (run log), control_file.txt,"
echo "  SUSTAIN_STATE.txt, OUT_*.2Ddata (slices), vtk/ (3D state for ParaView, every 1000 steps)"
tail -n 5 general.txt

# The pictures: the last slice of each file, the run log, and the currents
# and pulses (currents.csv, pulses.csv) as PNG images.
if /usr/bin/python3 -c 'import numpy, matplotlib' >/dev/null 2>&1; then
  /usr/bin/python3 ../../scripts/plot_results.py . --out plots
  echo "Plots are in run/example/plots/."
  [ -f currents.csv ] && echo "  currents.png: electrode voltages, currents and real particle numbers against time;" \
    "pulses.png and pulse_NNNN.png once a pulse has completed."
else
  echo "No plots: /usr/bin/python3 lacks numpy or matplotlib (run scripts/install-deps.sh)."
fi

# The 3D picture of the last write of the 3D state, beside the 2D plots.
if /usr/bin/python3 -c 'import vtk' >/dev/null 2>&1; then
  render=(/usr/bin/python3 ../../scripts/render_3d.py . --out plots)
  [ -z "${DISPLAY:-}" ] && render=(xvfb-run -a "${render[@]}")
  "${render[@]}"
else
  echo "No 3D picture: /usr/bin/python3 lacks vtk (run scripts/install-deps.sh)."
fi
