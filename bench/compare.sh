#!/bin/sh
# Builds the benchmarks and runs the four performance comparisons, then prints one table:
#   1. realFft forward + inverse against FFTW's r2c + c2r at 2048, 4096 and 8192 points;
#   2. analyseFrame per frame length (voiced, silent) and one display picture (empty
#      history; full history with a trace and bars) on the Linux drawing layer;
#   3. the duration of every processReplacing call of kelvatone.so with its editor open
#      under a virtual X server: 64-frame blocks at 44100 Hz, N = 8192, back to back and
#      paced in real time; then, paced with the editor open, the audio thread's CPU time per
#      call as a share of the block period against the real-time goals: 64-frame blocks,
#      32-frame blocks, and 16 instances (16 editors) processed in turn by one audio thread
#      (the CPU time of each round of 16 calls); and setParameter called on the audio
#      thread between process calls (automation of all six parameters, Resolution flipping
#      between High, Mid and Low), every call timed;
#   4. whole-process CPU time over a 60-second take: kelvatone-analyse against aubiopitch
#      -p yinfft at equal frame length and hop, and kelvatone-host run with the editor open;
#   5. analyseFrame in WebAssembly (the web preset's build, run in Node) against the native
#      figure of part 2, per frame length, in CPU time per frame; and the web page's
#      worklet work per 128-frame render quantum at 48 kHz (its module in Node, wall time
#      of every quantum over the audio length of parts 3 and 4); then the same inside
#      headless Chromium: the real page at High and at Mid resolution listening to the demo take
#      through the fake microphone for that audio length, every quantum's
#      AudioWorkletProcessor::Process event from Chrome's tracing (wall and thread time,
#      the first 5 s left out; bench/web/worklet-trace.py).
# The machine may be shared: every figure is the median of several repetitions of CPU
# time, the repetitions of the Google benchmarks interleaved in random order so that a
# change of load meets both sides of a ratio alike (the latency shows wall and CPU time
# of each call).
#
# Environment: KELVATONE_BENCH_BUILD  build folder (default build/linux, the linux preset)
#              KELVATONE_BENCH_SECONDS  audio length of every run of parts 3 and 4
#                (default 60; part 3 runs five times, four of them paced in real time)
#              KELVATONE_BENCH_RUNS  repetitions of every figure (default 5)
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
build=${KELVATONE_BENCH_BUILD:-build/linux}
seconds=${KELVATONE_BENCH_SECONDS:-60}
runs=${KELVATONE_BENCH_RUNS:-5}

if [ "${1:-}" = "--help" ]; then
    # The header: every comment line after the first line, up to the first other line.
    awk 'NR > 1 && !/^#/ { exit } NR > 1 { sub(/^# ?/, ""); print }' "$0"
    exit 0
fi
for tool in aubiopitch cmake node em++ chromium; do
    if ! command -v "$tool" >/dev/null; then
        echo "compare.sh: $tool not found (scripts/install-deps installs it)" >&2
        exit 2
    fi
done

if [ "$build" = build/linux ]; then
    cmake --preset linux >/dev/null
else
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVATONE_BENCH=ON >/dev/null
fi
cmake --build "$build" -j 2 --target kelvatone_bench kelvatone-latency-bench kelvatone-bench-take \
    kelvatone-cputime kelvatone_module kelvatone-host kelvatone-analyse kelvatone-demo-take >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
results="$work/results.txt"
if [ -n "${DISPLAY:-}" ]; then x11=""; else x11="$root/scripts/with-xvfb"; fi
cputime="$build/bench/kelvatone-cputime --runs $runs"

echo "1-2. Google Benchmark: FFT, frame analysis, display picture ($runs repetitions)" >&2
"$build/bench/kelvatone_bench" --benchmark_repetitions="$runs" --benchmark_min_time=0.2 \
    --benchmark_color=false --benchmark_enable_random_interleaving=true >"$work/gbench.txt" 2>&1
sed -n 's/.*\(RESULT .*\)/\1/p' "$work/gbench.txt" >>"$results"

echo "3. latency of every process call, editor open ($seconds s of audio, five runs)" >&2
latency() { # options...: one run of the latency benchmark, its output added to latency.txt
    $x11 "$build/bench/kelvatone-latency-bench" "$build/kelvatone.so" --seconds "$seconds" "$@" \
        >>"$work/latency.txt"
}
latency
latency --paced
latency --paced --block 32
latency --paced --instances 16
latency --paced --automate
grep '^RESULT' "$work/latency.txt" >>"$results"

echo "4. whole-file CPU time on a $seconds-second take ($runs runs each)" >&2
"$build/bench/kelvatone-bench-take" "$work/take.wav" "$work/take.mid" "$seconds"
cpu() { # key command...: the median CPU seconds of the command
    key=$1
    shift
    echo "RESULT $key $("$@")" >>"$results"
}
cpu analyse_4096 $cputime "$build/kelvatone-analyse" "$work/take.wav" --resolution mid
cpu aubio_4096 $cputime aubiopitch -p yinfft -B 4096 -H 1470 -i "$work/take.wav"
cpu analyse_8192 $cputime "$build/kelvatone-analyse" "$work/take.wav" --resolution high
cpu aubio_8192 $cputime aubiopitch -p yinfft -B 8192 -H 1470 -i "$work/take.wav"
cpu host_8192 $x11 $cputime "$build/kelvatone-host" run "$build/kelvatone.so" \
    --input "$work/take.wav" --midi "$work/take.mid" --param 2=0.0 --snapshot "$work/editor.png"
# The host's own figure: the audio thread's processing time alone, without start-up, file
# reading and the snapshot.
$x11 "$build/kelvatone-host" run "$build/kelvatone.so" --input "$work/take.wav" \
    --midi "$work/take.mid" --param 2=0.0 --snapshot "$work/editor.png" |
    sed -n 's/.*, \([0-9.]*\)x faster than real time.*/RESULT host_own factor \1/p' >>"$results"

echo "5. analyseFrame in WebAssembly, in Node ($runs repetitions)" >&2
# Debian's emscripten finds its Node modules (acorn) there also under a Node that is not
# Debian's.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
cmake --preset web >/dev/null
cmake --build build/web-wasm --target kelvatone_frame_bench -j 2 >/dev/null
node bench/web/frame-bench.js build/web-wasm/kelvatone-frame-bench.wasm "$runs" >>"$results"
cmake --build build/web-wasm --target kelvatone_web -j 2 >/dev/null
node bench/web/quantum-bench.js build/web-wasm/kelvatone.wasm "$seconds" >>"$results"
scripts/make-web-page build/web-wasm/kelvatone.wasm web/page "$work/kelvatone.html"
for resolution in high mid; do
    /usr/bin/python3 bench/web/worklet-trace.py "$work/kelvatone.html" \
        "$build/kelvatone-demo-take" "$work/chromium" "$seconds" $resolution >>"$results"
done

# value KEY FIELD: the number after FIELD on the RESULT line of KEY.
value() {
    awk -v key="$1" -v field="$2" '$1 == "RESULT" && $2 == key {
        for (i = 3; i < NF; i += 2) if ($i == field) print $(i + 1) }' "$results"
}
row() { printf '%-44s %12s %12s %9s  %s\n' "$@"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
percent() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f%%", 100 * a / b }'; }

model=$(lscpu | sed -n 's/^Model name: *//p' | head -n 1)
echo
echo "Machine: $model, $(nproc) cores; load average before the run: $(cut -d' ' -f1-3 /proc/loadavg)"
row "Benchmark" "Kelvatone" "Peer" "Ratio" "Goal"
for n in 2048 4096 8192; do
    ours=$(value "BM_RealFftForwardInverse/$n" median_us)
    fftw=$(value "BM_FftwR2cC2r/$n" median_us)
    row "realFft fwd+inv n=$n (us, FFTW r2c+c2r)" "$ours" "$fftw" "$(ratio "$ours" "$fftw")" \
        "<= 1.20"
done
for kind in Voiced Silent; do
    for n in 2048 4096 8192; do
        row "analyseFrame, $kind frame, N=$n (us)" "$(value "BM_AnalyseFrame$kind/$n" median_us)" \
            "" "" ""
    done
done
for n in 2048 4096 8192; do
    wasm=$(value "wasm_analyse/$n" median_us)
    native=$(value "BM_AnalyseFrameVoiced/$n" median_us)
    row "analyseFrame in wasm (Node), N=$n (us, native)" "$wasm" "$native" \
        "$(ratio "$wasm" "$native")" "<= 1.50"
done
quantum=$(value wasm_quantum period_us)
for field in median_us p99_us p999_us max_us; do
    row "worklet per quantum, wasm in Node, $field" "$(value wasm_quantum $field)" "" \
        "$(percent "$(value wasm_quantum $field)" "$quantum")" "p99.9 <= 10%"
done
for key in chromium_quantum chromium_quantum_cpu chromium_quantum_mid chromium_quantum_mid_cpu; do
    case $key in *_cpu) kind="CPU" ;; *) kind="wall" ;; esac
    case $key in *_mid*) resolution="Mid" ;; *) resolution="High" ;; esac
    for field in median_us p99_us p999_us max_us; do
        row "worklet in Chromium, $resolution, $kind, $field" "$(value $key $field)" "" \
            "$(percent "$(value $key $field)" "$(value $key period_us)")" "p99.9 <= 10%"
    done
done
echo "(Chromium: $(value chromium_quantum quanta) and $(value chromium_quantum_mid quanta) quanta of 128 frames at 48 kHz, the demo take)"
row "picture (UI thread), empty history (us)" "$(value BM_RenderEmptyHistory median_us)" "" "" ""
row "picture (UI thread), trace + bars (us)" "$(value BM_RenderFullHistory median_us)" "" "" ""
echo
printf '%-40s %8s %8s %8s %8s %7s %7s\n' "Process calls, 64 frames, N=8192, editor" \
    "median" "p99" "p99.9" "max" "p99.9" "max"
for mode in latency_wall latency_cpu latency_wall_paced latency_cpu_paced; do
    case $mode in
    latency_wall) label="back to back, wall time (us)" ;;
    latency_cpu) label="back to back, CPU time (us)" ;;
    latency_wall_paced) label="paced in real time, wall time (us)" ;;
    *) label="paced in real time, CPU time (us)" ;;
    esac
    period=$(value $mode period_us)
    printf '%-40s %8s %8s %8s %8s %7s %7s\n' "$label" "$(value $mode median_us)" \
        "$(value $mode p99_us)" "$(value $mode p999_us)" "$(value $mode max_us)" \
        "$(percent "$(value $mode p999_us)" "$period")" "$(percent "$(value $mode max_us)" "$period")"
done
echo "(percentages of the $(value latency_wall period_us) us block period; the real-time goals are in the next part)"
echo
rt() { printf '%-56s %8s %8s  %s\n' "$@"; }
rt_percent() { # label key goal: p99.9 and max of a RESULT line as shares of its block period
    period=$(value "$2" period_us)
    rt "$1" "$(percent "$(value "$2" p999_us)" "$period")" \
        "$(percent "$(value "$2" max_us)" "$period")" "$3"
}
rt "Real time: paced, editor open, N=8192, CPU time" "p99.9" "max" "Goal (p99.9 / max)"
rt_percent "64-frame blocks (% of the block period)" latency_cpu_paced "<= 4% / <= 8%"
rt_percent "32-frame blocks (% of the block period)" latency_cpu_paced_b32 "<= 4% / <= 8%"
rt_percent "16 instances, one audio thread, 64 frames (% per round)" latency_cpu_paced_x16 \
    "<= 60% / < 100%"
rt "automation: setParameter on the audio thread (us)" "$(value setparam_cpu_paced p999_us)" \
    "$(value setparam_cpu_paced max_us)" "max <= 20 us"
echo "(CPU time of the audio thread per process call, per round of the 16 instances' calls and per"
echo "setParameter call, one call every 4 blocks of 64 frames; each timing includes about"
echo "$(value setparam_cpu_paced clock_us) us of reading the CPU clock)"
echo
row "Whole file, $seconds s of audio" "Kelvatone" "Peer" "Ratio" "Goal"
for n in 4096 8192; do
    ours=$(value analyse_$n median_s)
    aubio=$(value aubio_$n median_s)
    row "kelvatone-analyse vs aubio yinfft $n/1470 (s)" "$ours" "$aubio" "$(ratio "$aubio" "$ours")x" \
        ">= 2x faster"
done
host=$(value host_8192 median_s)
row "kelvatone-host run, editor open, N=8192 (s)" "$host" "" \
    "$(ratio "$seconds" "$host")x" ">= 500x real time"
row "  the same, the host's own figure (processing)" "" "" "$(value host_own factor)x" ""
echo "CPU times are medians of $runs runs (user + system of the whole process); the ratio of the"
echo "host run is audio seconds per CPU second; its own figure counts the audio thread's time only."
