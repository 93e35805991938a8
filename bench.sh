#!/usr/bin/env bash
# Builds the benchmark (bench/, on Google Benchmark) in release mode, runs it
# and prints the tables of docs/performance.md, which has the method and the
# figures. bench/slow_medium.sh runs the batch on a slow medium through it.
set -euo pipefail
cd "$(dirname "$0")"

usage() {
    cat <<'EOF'
usage: ./bench.sh [--sizes N,N...] [--tiles contour,compact,bigblock] [--repeats N]
                  [--only floor,list,batch,noflush,scripted,containers] [--no-containers] [--window]
                  [--folder DIR] [--slow-medium DIR [--files N]] [--out FILE] [--benchmark_...]
How the options map to ks_bench and Google Benchmark's flags:
  --sizes N,N      folders of N tiles (default 1000,10000)     KS_BENCH_SIZES=N,N
  --tiles A,B      tile forms (default contour,compact)         --benchmark_filter=PART/(A|B)/
  --only A,B       parts (default floor,list,batch,noflush      --benchmark_filter=(PART|...)/
                   and containers): floor = floor, guarded,
                   floor-ro, safe-floor, write-floor; noflush = no-flush; scripted =
                   list-scripted; containers = container;
                   perfile = batch-per-file (flushed per file)
  --no-containers  leaves the containers out of the filter
  --window         adds the window to the filter
  --repeats N      timed runs per measurement (default 7)       --benchmark_repetitions=N, and always
                   --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true
  --folder DIR     where the folders of tiles go                TMPDIR=DIR
  --slow-medium DIR  batch, no-flush and batch-per-file of      TMPDIR=DIR, the filter,
                   contour tiles on DIR, one pass per run       --benchmark_min_time=0.01
                   (--files N: default 1000; --repeats default 3)
  --out FILE       the JSON (default build-bench/bench.json)    --benchmark_out=FILE
  --benchmark_...  passed on as they are (e.g. --benchmark_min_time=0.2)
The tables come from bench/ratios.py FILE.
EOF
}

sizes="" slow="" tiles=contour,compact repeats="" window="" containers=container out=build-bench/bench.json
only=floor,list,batch,noflush pass=()
while [ $# -gt 0 ]; do
    case "$1" in
        --sizes) sizes=$2; shift ;;
        --tiles) tiles=$2; shift ;;
        --repeats) repeats=$2; shift ;;
        --only) only=$2; containers=""; shift ;;
        --no-containers) containers="" ;;
        --window) window="|window" ;;
        --folder) export TMPDIR=$2; shift ;;
        --slow-medium) export TMPDIR=$2 slow=1; tiles=contour; only=batch,noflush,perfile; containers=""; shift ;;
        --files) sizes=$2; shift ;;
        --out) out=$2; shift ;;
        --benchmark_*) pass+=("$1") ;;
        -h|--help) usage; exit 0 ;;
        *) usage >&2; exit 2 ;;
    esac
    shift
done
[ -n "$slow" ] && sizes=${sizes:-1000} repeats=${repeats:-3} pass=(--benchmark_min_time=0.01 "${pass[@]}")
parts=$(echo ",$only," | sed -e 's/,floor,/,floor,guarded,floor-ro,safe-floor,write-floor,/; s/,noflush,/,no-flush,/' \
    -e 's/,scripted,/,list-scripted,/; s/,containers,/,/; s/,perfile,/,batch-per-file,/; s/^,//; s/,$//; s/,/|/g')
[[ ",$only," == *,containers,* ]] && containers=container
filter="^((${parts:-none}${window})/(${tiles//,/|})/"
[ -n "$containers" ] && filter="$filter|container/"
filter="$filter)"

scripts/setup.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKS_BUILD_BENCHMARKS=ON >/dev/null
cmake --build build-bench -j2 --target ks_bench
KS_BENCH_SIZES=${sizes:-1000,10000} build-bench/bench/ks_bench --benchmark_filter="$filter" \
    --benchmark_repetitions="${repeats:-7}" --benchmark_enable_random_interleaving=true \
    --benchmark_report_aggregates_only=true --benchmark_out="$out" --benchmark_out_format=json "${pass[@]}"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
python3 bench/ratios.py "$out"
