#!/usr/bin/env bash
# Multi-slice speed of the engine pool and peak memory, measured on the real
# program run headless through batch scripts:
#   1. slices per second for N = 1024, P = 720 over 64 slices with 1 and with 2
#      engines, runs alternating, medians;
#   2. peak resident memory of a run over a 2048-wide, 720-projection stack of
#      16-bit images reconstructing 32 slices with 2 engines, next to the raw
#      stack and engines x N^2 x 8 bytes.
# The stack load rate of the program is printed as well.
#
#   bench/pool.sh [--build DIR] [--data DIR] [--runs R] [--no-pool] [--no-memory] [--show]
#
# --build   build folder holding orvo2 and tools/orvo2demo (default: build)
# --data    where the generated data sets are kept between runs
#           (default: $TMPDIR/orvo2-bench-data)
# --show    leave result display on (the default of a plain run of the program);
#           without it the scripts say calc_show_res 0, as a long headless job would
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/build"
data="${TMPDIR:-/tmp}/orvo2-bench-data"
runs=3
pool=1
memory=1
show=0
while [ $# -gt 0 ]; do
    case "$1" in
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    --data) data=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --no-pool) pool=0; shift ;;
    --no-memory) memory=0; shift ;;
    --show) show=1; shift ;;
    *)
        echo "usage: $0 [--build DIR] [--data DIR] [--runs R] [--no-pool] [--no-memory] [--show]" >&2
        exit 2
        ;;
    esac
done
orvo2="$build/orvo2"
demo="$build/tools/orvo2demo"
for exe in "$orvo2" "$demo"; do
    if [ ! -x "$exe" ]; then
        echo "missing $exe: build first (scripts/build.sh $build -DCMAKE_BUILD_TYPE=Release)" >&2
        exit 1
    fi
done
if [ ! -x /usr/bin/time ]; then
    echo "missing /usr/bin/time (Debian package time)" >&2
    exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
: > "$work/none.cfg"

# make_set NAME WIDTH HEIGHT: a noise-free single-energy stack of 720 projections.
# The width is N + 4, which with the generator's default CoR (width / 2 - 0.75)
# leaves a sinogram of N + 1 samples, i.e. FFT length N.
make_set() {
    local dir="$data/$1"
    if [ ! -f "$dir/geometry.json" ]; then
        echo "# generating $dir" >&2
        "$demo" --out "$dir" --width "$2" --height "$3" --proj 720 --energies 1 --no-noise \
            --layout flat >&2
        # The true slices are not needed here and are large.
        rm -rf "$dir/truth"
    fi
}

json() { sed -n "s/^ *\"$2\": *\"\{0,1\}\([^\",]*\)\"\{0,1\},*$/\1/p" "$1/geometry.json" | head -1; }

# write_script DIR THREADS LAST > script
write_script() {
    local dir=$1
    local set
    set=$(sed -n 's/^ *"\([0-9_]*eV\)": {$/\1/p' "$dir/geometry.json" | head -1)
    cat <<BAT
ct_rot_ax_is_v 1
images_load "$dir/proj" *.img
i0_load "$dir/i0/i0-$set-00000.img"
bg_load "$dir/bg/dark-00000.img"
ct_cor $(json "$dir" cor)
calc_ct2 1
calc_show_res $show
ct_auto_exec 1
ct_threads $2
ct_slice_from 0
ct_slice_to $3
calc_exec
BAT
}

# run_program SCRIPT LOG: every line of the program's log gets the time it was read.
run_program() {
    /usr/bin/time -v -o "$2.time" "$orvo2" -nw -e -c "$work/none.cfg" -b "$1" -x 2>&1 |
        while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done > "$2"
}

# run_sampled SCRIPT LOG: runs the program like run_program and writes to LOG.rss the
# largest anonymous and file-backed resident sizes (kB) seen while it ran: frames
# mapped from their files are page cache, which the kernel may drop and re-read.
run_sampled() {
    /usr/bin/time -v -o "$2.time" "$orvo2" -nw -e -c "$work/none.cfg" -b "$1" -x >"$2" 2>&1 &
    local tpid=$! pid="" anon=0 file=0 a f
    for _ in $(seq 1 400); do
        pid=$(pgrep -P "$tpid" || true)
        [ -n "$pid" ] && break
        sleep 0.01
    done
    while [ -n "$pid" ] && [ -r "/proc/$pid/status" ]; do
        read -r a f < <(awk '/^RssAnon:/ {a = $2} /^RssFile:/ {f = $2} END {print a + 0, f + 0}' \
            "/proc/$pid/status" 2>/dev/null || echo "0 0")
        [ "$a" -gt "$anon" ] && anon=$a
        [ "$f" -gt "$file" ] && file=$f
        sleep 0.02
    done
    wait "$tpid" || true
    echo "$anon $file" > "$2.rss"
}

# stamp LOG PATTERN: time of the first line matching PATTERN
stamp() { grep -m1 -- "$2" "$1" | cut -d' ' -f1; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

if [ "$pool" = 1 ]; then
    make_set n1024 1028 64
    set1024="$data/n1024"
    n=$(json "$set1024" n_fft)
    slices=64
    echo "== engine pool: N $n, P 720, $slices slices, show results $show, $runs runs each"
    printf '%8s %4s %10s %10s %12s\n' engines run "run s" "slices/s" "load MB/s"
    declare -A rates
    for r in $(seq 1 "$runs"); do
        for engines in 1 2; do
            write_script "$set1024" "$engines" $((slices - 1)) > "$work/pool.bat"
            run_program "$work/pool.bat" "$work/pool.log"
            start=$(stamp "$work/pool.log" 'body-cmd "calc_exec"')
            end=$(stamp "$work/pool.log" "slices done $slices / $slices")
            loadStart=$(stamp "$work/pool.log" 'body-cmd "images_load"')
            loadEnd=$(stamp "$work/pool.log" 'body-cmd "i0_load"')
            if [ -z "$start" ] || [ -z "$end" ]; then
                echo "run failed; log:" >&2
                cat "$work/pool.log" >&2
                exit 1
            fi
            t=$(elapsed "$start" "$end")
            rate=$(awk -v t="$t" -v s="$slices" 'BEGIN { printf "%.3f", s / t }')
            mb=$(du -bc "$set1024"/proj/*.img | tail -1 | cut -f1)
            load=$(awk -v b="$mb" -v t="$(elapsed "$loadStart" "$loadEnd")" \
                'BEGIN { printf "%.0f", b / 1e6 / t }')
            rates[$engines]+="$rate "
            printf '%8d %4d %10.2f %10.3f %12s\n' "$engines" "$r" "$t" "$rate" "$load"
        done
    done
    one=$(printf '%s\n' ${rates[1]} | median)
    two=$(printf '%s\n' ${rates[2]} | median)
    printf 'median slices/s: 1 engine %.3f, 2 engines %.3f, ratio %.2f (target >= 1.8)\n' "$one" "$two" \
        "$(awk -v a="$one" -v b="$two" 'BEGIN { print b / a }')"
fi

if [ "$memory" = 1 ]; then
    make_set n2048 2052 32
    set2048="$data/n2048"
    n=$(json "$set2048" n_fft)
    width=$(json "$set2048" width)
    height=$(json "$set2048" height)
    # The program with nothing loaded, for its own baseline.
    echo "ct_threads 1" > "$work/empty.bat"
    run_sampled "$work/empty.bat" "$work/empty.log"
    base=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/empty.log.time")
    read -r baseAnon _ < "$work/empty.log.rss"
    echo "== memory: $width x $height x 720 16-bit stack, N $n, 32 slices, 2 engines"
    awk -v base="$base" -v w="$width" -v h="$height" -v n="$n" 'BEGIN {
        printf "program alone %.0f MiB; raw stack %.0f MiB; engines x N^2 x 8 = %.0f MiB\n",
            base / 1024, w * h * 720 * 2 / 1048576, 2 * n * n * 8 / 1048576 }'
    for show in 0 1; do
        write_script "$set2048" 2 31 > "$work/mem.bat"
        run_sampled "$work/mem.bat" "$work/mem.log"
        grep -q "slices done 32 / 32" "$work/mem.log" || { cat "$work/mem.log" >&2; exit 1; }
        peak=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/mem.log.time")
        read -r anon file < "$work/mem.log.rss"
        awk -v peak="$peak" -v anon="$anon" -v file="$file" -v baseAnon="$baseAnon" -v base="$base" -v w="$width" -v h="$height" -v n="$n" -v show="$show" '
            BEGIN {
                raw = w * h * 720 * 2 / 1048576; e = 2 * n * n * 8 / 1048576
                rest = (peak - base) / 1024 - raw
                printf "show results %d: peak RSS %.0f MiB = alone + raw stack + %.0f MiB (%.2f x engines x N^2 x 8)\n",
                    show, peak / 1024, rest, rest / e
                grown = (anon - baseAnon) / 1024
                printf "show results %d: peak anonymous RSS %.0f MiB (alone %.0f), file-backed %.0f MiB; anonymous growth %.0f MiB = %.2f x engines x N^2 x 8, %.2f x raw stack\n",
                    show, anon / 1024, baseAnon / 1024, file / 1024, grown, grown / e, grown / raw }'
    done
fi
