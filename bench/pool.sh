#!/usr/bin/env bash
# Multi-slice speed of the engine pool and peak memory, measured on the real
# program run headless through batch scripts:
#   1. slices per second for N = 1024, P = 720 over 64 slices with 1 and with 2
#      engines, runs alternating, medians;
#   2. peak resident memory of a run over a 2048-wide, 720-projection stack of
#      16-bit images reconstructing 32 slices with 2 engines, next to the raw
#      stack and engines x N^2 x 8 bytes.
#   3. with --big only: a stack of 1.5 x the machine's memory (MemTotal) of
#      2052 x 2048 16-bit ITEX frames (N 2048), as many frames as that takes, from
#      which 1 engine reconstructs a middle and the last slice (1025, 2047); peak
#      anonymous and file-backed resident sizes, major page faults, pages swapped
#      out, load and slice times, and both slices compared bit for bit (float
#      TIFF results) with slices 1 and 3 of a 4-row stack of the same rows.
#      The stack's pages are dropped from the page cache before the run, so
#      that it reads from the disk.
# The stack load rate of the program is printed as well.
#
#   bench/pool.sh [--build DIR] [--data DIR] [--runs R] [--no-pool] [--no-memory] [--show]
#                 [--precision single|double] [--big] [--big-keep] [--big-frames F]
#
# --build   build folder holding orvo2 and tools/orvo2demo (default: build)
# --data    where the generated data sets are kept between runs
#           (default: $TMPDIR/orvo2-bench-data)
# --show    leave result display on (the default of a plain run of the program);
#           without it the scripts say calc_show_res 0, as a long headless job would
# --precision  ct_precision of the program's runs (default double)
# --big     add part 3 (`--big --no-pool --no-memory` runs it alone). It needs free
#           disk under --data for the whole stack (36 GiB on a 24 GiB machine; the
#           script refuses to start without it) and writes it at the disk's speed.
#           The generator makes only 4 rows of every projection (it is far too slow
#           for 2048); each big frame repeats those rows 512 times. The big stack is
#           deleted at the end (also after a failure); the 4-row stack is kept.
# --big-keep  keep the big stack under --data; the next --big run uses it again
# --big-frames F  make the big stack F frames instead (a quick trial of part 3)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/build"
data="${TMPDIR:-/tmp}/orvo2-bench-data"
runs=3
pool=1
memory=1
show=0
big=0
bigKeep=0
bigFrames=0
precision=double
while [ $# -gt 0 ]; do
    case "$1" in
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    --data) data=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --no-pool) pool=0; shift ;;
    --no-memory) memory=0; shift ;;
    --show) show=1; shift ;;
    --precision) precision=$2; shift 2 ;;
    --big) big=1; shift ;;
    --big-keep) big=1; bigKeep=1; shift ;;
    --big-frames) big=1; bigFrames=$2; shift 2 ;;
    *)
        echo "usage: $0 [--build DIR] [--data DIR] [--runs R] [--no-pool] [--no-memory] [--show] [--precision single|double] [--big] [--big-keep] [--big-frames F]" >&2
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
bigDir=""
cleanup() {
    rm -rf "$work"
    if [ -n "$bigDir" ] && [ "$bigKeep" = 0 ]; then
        rm -rf "$bigDir"
    fi
}
trap cleanup EXIT
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

# write_script DIR THREADS LAST [FIRST [STEP [LINES]]] > script; LINES go before calc_exec.
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
ct_slice_from ${4:-0}
ct_slice_to $3
ct_slice_step ${5:-1}
BAT
    if [ "$precision" != double ]; then
        echo "ct_precision $precision"
    fi
    if [ -n "${6:-}" ]; then
        printf '%s\n' "$6"
    fi
    echo calc_exec
}

# run_program SCRIPT LOG: every line of the program's log gets the time it was read.
run_program() {
    /usr/bin/time -v -o "$2.time" "$orvo2" -nw -e -c "$work/none.cfg" -b "$1" -x 2>&1 |
        while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done > "$2"
}

# run_sampled SCRIPT LOG: runs the program like run_program (lines stamped with the
# time they were read) and writes to LOG.rss the largest anonymous and file-backed
# resident sizes (kB) seen while it ran: frames mapped from their files are page
# cache, which the kernel may drop and re-read.
run_sampled() {
    rm -f "$work/fifo"
    mkfifo "$work/fifo"
    while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done \
        < "$work/fifo" > "$2" &
    local spid=$!
    /usr/bin/time -v -o "$2.time" "$orvo2" -nw -e -c "$work/none.cfg" -b "$1" -x >"$work/fifo" 2>&1 &
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
    wait "$spid" || true
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
    echo "== memory: $width x $height x 720 16-bit stack, N $n, 32 slices, 2 engines, $precision precision"
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

if [ "$big" = 1 ]; then
    bw=2052
    bh=2048
    rows=4
    memKiB=$(awk '/^MemTotal:/ { print $2 }' /proc/meminfo)
    frameBytes=$((bw * bh * 2))
    frames=$(((memKiB * 1024 * 3 / 2 + frameBytes - 1) / frameBytes))
    [ "$bigFrames" -gt 0 ] && frames=$bigFrames
    small="$data/big-rows$rows-p$frames"
    python=/usr/bin/python3
    if ! "$python" -c "import numpy, tifffile" 2> /dev/null; then
        echo "missing python3-numpy or python3-tifffile" >&2
        exit 1
    fi
    mkdir -p "$data"
    if [ ! -f "$small/geometry.json" ]; then
        echo "# generating $small" >&2
        "$demo" --out "$small" --width "$bw" --height "$rows" --proj "$frames" --energies 1 \
            --no-noise --layout flat >&2
        rm -rf "$small/truth"
    fi
    target="$data/big-p$frames"
    if [ ! -f "$target/complete" ]; then
        # The projections, I0 and BG, each with its header, and 1 GiB to spare.
        need=$(((frames + 2) * (frameBytes + 4096) + (1 << 30)))
        have=$(df --output=avail -B1 "$data" | tail -1)
        [ -d "$target" ] && have=$((have + $(du -sb "$target" | cut -f1)))
        if [ "$have" -lt "$need" ]; then
            awk -v n="$need" -v h="$have" -v d="$data" 'BEGIN {
                printf "big stack: %.1f GiB needed under %s, %.1f GiB free; not written\n",
                    n / 2^30, d, h / 2^30 }' >&2
            exit 1
        fi
        bigDir=$target
        rm -rf "$target"
        echo "# writing $frames frames of $bw x $bh to $target" >&2
        # Every frame of the small set becomes one of bh rows: its rows repeated
        # bh / rows times, so that row y of a big frame is row y % rows of the small one.
        "$python" - "$small" "$target" "$bh" <<'PY'
import json, os, struct, sys, time

src, dst, height = sys.argv[1], sys.argv[2], int(sys.argv[3])


def expand(a, b):
    with open(a, "rb") as f:
        d = f.read()
    comment_length, width, rows = struct.unpack_from("<HHH", d, 2)
    if d[:2] != b"IM" or struct.unpack_from("<H", d, 12)[0] != 2 or height % rows:
        sys.exit("unexpected ITEX file " + a)
    start = 64 + comment_length
    pixels = d[start:start + width * rows * 2]
    if len(pixels) != width * rows * 2:
        sys.exit("short ITEX file " + a)
    comment = ("Prop_ImageWidth=%d,Prop_ImageHeight=%d,BytesPerPixel=2,Prop_ExposureTime1=1,"
               'areSource="0,0,%d,%d",' % (width, height, width, height)).encode()
    head = bytearray(d[:64])
    struct.pack_into("<HHH", head, 2, len(comment), width, height)
    with open(b, "wb") as f:
        f.write(head)
        f.write(comment)
        f.write(pixels * (height // rows))


t0 = time.time()
done = 0
for sub in ("i0", "bg", "proj"):
    os.makedirs(os.path.join(dst, sub))
    for name in sorted(os.listdir(os.path.join(src, sub))):
        expand(os.path.join(src, sub, name), os.path.join(dst, sub, name))
        done += 1
        if done % 500 == 0:
            print("# %d files, %.0f MB/s" % (done, done * 8.4e6 / 1e6 / (time.time() - t0)),
                  file=sys.stderr)
with open(os.path.join(src, "geometry.json")) as f:
    geometry = json.load(f)
geometry["height"] = height
geometry.pop("truth", None)
with open(os.path.join(dst, "geometry.json"), "w") as f:
    json.dump(geometry, f, indent=4)
print("# %d files in %.0f s" % (done, time.time() - t0), file=sys.stderr)
PY
        touch "$target/complete"
    fi
    bigDir=$target
    stackBytes=$(du -bc "$target"/proj/*.img | tail -1 | cut -f1)
    save() {
        printf 'auto_save_data 1\nauto_save_data_format tiff\nauto_save_data_path "%s"\nauto_save_data_name big' "$1"
    }
    # The run starts cold: the stack's own pages are dropped from the page cache
    # (as after writing more than memory holds; the rest of the cache is left alone).
    "$python" - "$target" <<'PY'
import os, sys

for root, _, names in os.walk(sys.argv[1]):
    for name in names:
        fd = os.open(os.path.join(root, name), os.O_RDONLY)
        os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
        os.close(fd)
PY
    swapBefore=$(awk '/^pswpout / { print $2 }' /proc/vmstat)
    write_script "$target" 1 $((bh - 1)) $((bh / 2 + 1)) $((bh / 2 - 2)) "$(save "$work/big-res")" > "$work/big.bat"
    run_sampled "$work/big.bat" "$work/big.log"
    swapAfter=$(awk '/^pswpout / { print $2 }' /proc/vmstat)
    if ! grep -q "slices done 2 / 2" "$work/big.log"; then
        echo "big stack run failed; log:" >&2
        cat "$work/big.log" "$work/big.log.time" >&2
        exit 1
    fi
    loadStart=$(stamp "$work/big.log" 'body-cmd "images_load"')
    loadEnd=$(stamp "$work/big.log" 'body-cmd "i0_load"')
    start=$(stamp "$work/big.log" 'body-cmd "calc_exec"')
    end=$(stamp "$work/big.log" "slices done 2 / 2")
    read -r anon file < "$work/big.log.rss"
    majors=$(sed -n 's/.*Major (requiring I\/O) page faults: //p' "$work/big.log.time")
    peak=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/big.log.time")
    # The same rows from the 4-row stack: slices 1 and 3 are rows 1025 % 4 and 2047 % 4.
    write_script "$small" 1 3 1 2 "$(save "$work/small-res")" > "$work/small.bat"
    run_program "$work/small.bat" "$work/small.log"
    grep -q "slices done 2 / 2" "$work/small.log" || { cat "$work/small.log" >&2; exit 1; }
    smallRun=$(elapsed "$(stamp "$work/small.log" 'body-cmd "calc_exec"')" \
        "$(stamp "$work/small.log" "slices done 2 / 2")")
    same=$("$python" - "$work/big-res" "$work/small-res" <<'PY'
import os, sys
import numpy, tifffile


def slices(folder):
    names = sorted(os.path.join(r, n) for r, _, ns in os.walk(folder) for n in ns
                   if n.endswith((".tif", ".tiff")))
    return [tifffile.imread(n) for n in names]


big, small = slices(sys.argv[1]), slices(sys.argv[2])
if len(big) != 2 or len(small) != 2:
    print("missing results: %d and %d TIFF files" % (len(big), len(small)))
else:
    worst = max(float(numpy.nanmax(numpy.abs(a.astype(float) - b))) for a, b in zip(big, small))
    equal = all(numpy.array_equal(a, b) for a, b in zip(big, small))
    spread = min(float(numpy.nanmax(numpy.abs(a))) for a in big)
    print("%s (largest difference %g, largest value %g)" %
          ("bit-identical" if equal else "DIFFERENT", worst, spread))
PY
)
    echo "== big stack: $frames frames of $bw x $bh 16-bit (N 2048), 1 engine, slices $((bh / 2 + 1)) and $((bh - 1))"
    awk -v mem="$memKiB" -v stack="$stackBytes" -v anon="$anon" -v file="$file" -v peak="$peak" \
        -v load="$(elapsed "$loadStart" "$loadEnd")" -v run="$(elapsed "$start" "$end")" \
        -v majors="$majors" -v swapped=$((swapAfter - swapBefore)) -v small="$smallRun" 'BEGIN {
        printf "MemTotal %.1f GiB; stack %.1f GiB = %.2f x MemTotal\n",
            mem / 2^20, stack / 2^30, stack / 1024 / mem
        printf "peak RSS %.0f MiB: anonymous %.0f MiB, file-backed %.0f MiB; %d major page faults; %d pages swapped out\n",
            peak / 1024, anon / 1024, file / 1024, majors, swapped
        printf "load %.2f s; 2 slices %.2f s (%.2f s a slice, saving included); the same 2 slices from the 4-row stack %.2f s\n",
            load, run, run / 2, small }'
    echo "slices 1025 and 2047 against slices 1 and 3 of the 4-row stack: $same"
fi
