#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs every benchmark of a build folder and keeps the results as JSON.
#   bench/run.sh BUILD_DIR [OUT_DIR]
# The sender workload (bench/workload.sh: idle, typing, 50 lines/s, as fast
# as possible, 1 and 4 receivers; about 3 minutes) follows the benchmarks;
# QC_WORKLOAD=0 skips it. Then the web gateway's cost (bench/web/) and the
# freshness and join workload (bench/freshness.sh, lossy links and late
# joiners; QC_FRESHNESS=0 skips it). With QC_SOAK=1 the soak run (bench/soak.sh,
# 10 minutes; SOAK_SECONDS shortens it) comes last.
# The capture and intake benchmarks start a private Xvfb and private network
# namespaces of their own (root needed); nothing leaves the machine.
set -euo pipefail
BUILD=${1:?usage: bench/run.sh BUILD_DIR [OUT_DIR]}
OUT=${2:-$BUILD/bench-results}
mkdir -p "$OUT"
cmake --build "$BUILD" --target bench
for b in codec/codec_bench receiver/receiver_decode_bench viewer_window/viewer_window_bench \
         capture/capture_bench receiver/receiver_intake_bench web/web_wire_bench; do
  exe=$BUILD/bench/$b
  [ -x "$exe" ] || { echo "skipped: $b (not built)"; continue; }
  name=$(basename "$b")
  echo "== $name"
  "$exe" --benchmark_out="$OUT/$name.json" --benchmark_out_format=json
done
if [ -x "$BUILD/receiver/web/qvweb" ]; then
  echo "== web gateway"
  cmake --build "$BUILD" --target qcsend qvweb
  bash "$(dirname "$0")/web/gateway_bench.sh" "$BUILD" "$OUT"
fi
if [ "${QC_WORKLOAD:-1}" != 0 ]; then
  echo "== workload"
  cmake --build "$BUILD" --target qcsend qvrecv
  bash "$(dirname "$0")/workload.sh" "$BUILD" "$OUT"
fi
if [ "${QC_FRESHNESS:-1}" != 0 ]; then
  echo "== freshness"
  cmake --build "$BUILD" --target qcsend qvrecv qc_compare_png
  bash "$(dirname "$0")/freshness.sh" "$BUILD" "$OUT"
fi
if [ "${QC_VIDEO:-1}" != 0 ]; then
  echo "== video"
  cmake --build "$BUILD" --target qcsend qvrecv qc_compare_png
  bash "$(dirname "$0")/video.sh" "$BUILD" "$OUT"
fi
if [ "${QC_SOAK:-0}" = 1 ]; then
  echo "== soak"
  cmake --build "$BUILD" --target qcsend qvrecv qc_compare_png
  bash "$(dirname "$0")/soak.sh" "$BUILD" "$OUT"
fi
echo "results: $OUT"
