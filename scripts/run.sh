#!/usr/bin/env bash
# The main job: installs what is missing, builds the plug-in and the tools,
# simulates an SLC pair with a known quadratic offset field, co-registers it
# with finecoreg, compares the fitted offset polynomials with the truth, and
# resamples the slave onto the master grid to show the coherence it gains.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/bootstrap.sh

# The build directory and configuration of scripts/test.sh, so nothing is
# built twice; only what the job runs is built here.
echo "== build =="
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target finecoreg finecoreg_tool slcsim_tool fcimport_tool fc_python_package \
  resample_tool

slcsim=build/tools/slcsim/slcsim
finecoreg=build/tools/finecoreg/finecoreg
demo=out/demo
width=2048
lines=2048

# Offsets of 2 to 4 samples in range and -0.8 to -2 lines in azimuth, curved
# in both directions.
echo
echo "== simulate a ${width} x ${lines} pair =="
rm -rf "$demo"
"$slcsim" --out-dir "$demo" --width "$width" --lines "$lines" --format FCOMPLEX \
  --range-poly 2.6,1.1e-3,-7e-4,3e-7,-4e-7,2.5e-7 \
  --azimuth-poly -1.8,-5e-4,1.2e-3,-2.5e-7,3e-7,-3.5e-7 \
  --coherence 0.7 --seed 1

cp "$demo/pair.off" "$demo/pair.off.orig"

# The module's diagnostics go to a log; the progress display stays on the
# terminal.
echo
echo "== co-register (64 x 64 windows, 32 x 32 grid) =="
log="$demo/finecoreg.log"
if ! "$finecoreg" --master "$demo/master.slc" --slave "$demo/slave.slc" --off "$demo/pair.off" \
  --window-width 64 --window-height 64 --range-samples 32 --azimuth-samples 32 >"$log"; then
  tail -n 20 "$log"
  exit 1
fi
sed -n '/^finecoreg summary/,$p' "$log"
echo "  (module diagnostics: $log)"

echo
echo "== fitted against true offsets =="
"$slcsim" --compare --truth "$demo/truth.off" --fitted "$demo/pair_new.off" \
  --width "$width" --lines "$lines" --tolerance 0.1
echo "The fitted offsets agree with the simulated ones to within a tenth of a sample."

# The same run from Python, on a copy of the inputs: the same fitted file,
# and the QA picture of the offset field, residuals and culling.
echo
echo "== QA picture (the same run from Python) =="
qa="$demo/python"
mkdir -p "$qa"
cp "$demo"/master.slc "$demo"/master.xml "$demo"/slave.slc "$demo"/slave.xml "$qa"/
cp "$demo/pair.off.orig" "$qa/pair.off"
PYTHONPATH=build/python /usr/bin/python3 -m finecoreg coregister \
  "$qa/master.slc" "$qa/slave.slc" "$qa/pair.off" --log "$qa/finecoreg.log" \
  --result "$qa/result.json" --plot "$qa/qa.png"
cmp "$demo/pair_new.off" "$qa/pair_new.off"
echo "Python wrote the same fitted offset parameter file byte for byte."
echo "QA picture: $(realpath "$qa/qa.png")"

# The co-registered product: the slave on the master grid, and the
# interferogram's coherence against that of the coarse shift alone.
echo
echo "== resample the slave onto the master grid (coherence over 5 x 5 looks) =="
PYTHONPATH=build/python /usr/bin/python3 -m finecoreg resample "$demo/master.slc" "$demo/slave.slc" \
  "$demo/pair_new.off" "$demo/resampled.slc" --looks 5 5 --coherence-plot "$demo/coherence.png"
