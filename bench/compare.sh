#!/bin/sh
# Runs the analysis benchmarks of the Linux build: realFft against FFTW at 2048, 4096 and
# 8192 points (the ratio lines at the end) and analyseFrame per frame length.
set -eu
cd "$(dirname "$0")/.."
exec build/linux/bench/kelvatone_bench --benchmark_min_time=0.5 "$@"
