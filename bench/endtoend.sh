#!/usr/bin/env bash
# From projection files to saved results: a sequential CT-XAFS run of the program,
# headless, over 5 generated energies x 64 slices (N = 1024, P = 720, ITEX files,
# 2 engines), timed from the program's start to its exit (loading, I0 choice,
# reconstruction, and every result file written), for
#   off      no result saving
#   dat+png  auto_save_data_format dat with PNG pictures
#   dat      auto_save_data_format dat, no pictures
#   tiff     auto_save_data_format tiff, no pictures
#   both     auto_save_data_format both (".dat" and TIFF), no pictures
#   both+png the same with PNG pictures
# rounds alternating between the modes, medians. Next to it ctsim's pjrec on
# slices of the same size (N = 1024 detectors, P = 720 views, a Shepp-Logan
# projection file of its phm2pj: ctsim reads no ITEX files), run as two
# single-threaded processes at once (its best use of 2 cores), each writing its
# result image, as slices per second.
#
#   bench/endtoend.sh [--build DIR] [--data DIR] [--runs R] [--pjrec-slices K]
#                     [--modes "off dat+png dat tiff"] [--slices S] [--proj P]
#                     [--no-pjrec] [--no-install] [--precision single|double]
#
# --data          where the generated data set is kept between runs
#                 (default: $TMPDIR/orvo2-bench-data; about 480 MB)
# --pjrec-slices  slices pjrec reconstructs per round (default 8, half per process)
# --slices, --proj  slices per energy (default 64) and projections (default 720)
# --no-pjrec      the program only
# --precision     ct_precision of the program's runs (default double)
# A mode whose format this build does not know (no auto_save_data_format) writes
# no files of that format; it is then reported as missing, not timed.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/bench/common.sh"
build="$here/build"
data="${TMPDIR:-/tmp}/orvo2-bench-data"
runs=3
pjSlices=8
modes="off dat+png dat tiff"
install=1
pjrec=1
N=1024
P=720
energies=5
slices=64
precision=double
while [ $# -gt 0 ]; do
    case "$1" in
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    --data) data=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --pjrec-slices) pjSlices=$2; shift 2 ;;
    --modes) modes=$2; shift 2 ;;
    --no-install) install=0; shift ;;
    --no-pjrec) pjrec=0; shift ;;
    --slices) slices=$2; shift 2 ;;
    --proj) P=$2; shift 2 ;;
    --precision) precision=$2; shift 2 ;;
    *)
        echo "usage: $0 [--build DIR] [--data DIR] [--runs R] [--pjrec-slices K] [--modes LIST] [--slices S] [--proj P] [--no-pjrec] [--no-install] [--precision single|double]" >&2
        exit 2
        ;;
    esac
done
orvo2="$build/orvo2"
demo="$build/tools/orvo2demo"
need_built "$build" orvo2 tools/orvo2demo
if [ "$pjrec" = 1 ] && { ! command -v pjrec > /dev/null || ! command -v phm2pj > /dev/null; }; then
    install_packages "$install" ctsim
fi

set="$data/xafs${N}p${P}s$slices"
# Width N + 4: with the generator's default CoR (width / 2 - 0.75) the sinogram
# has N + 1 samples, i.e. FFT length N.
if [ ! -f "$set/geometry.json" ]; then
    echo "# generating $set" >&2
    "$demo" --out "$set" --width $((N + 4)) --height "$slices" --proj "$P" \
        --energies "$energies" --no-noise --layout flat >&2
    rm -rf "$set/truth"
fi
cor=$(sed -n 's/^ *"cor": *\([0-9.]*\),*$/\1/p' "$set/geometry.json" | head -1)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
: > "$work/none.cfg"
results="$work/results"

# write_script MODE > script: every energy of the set, slices 0 .. 63.
write_script() {
    local data=0 image=0 format=dat
    case "$1" in
    off) ;;
    dat+png) data=1 image=1 ;;
    dat) data=1 ;;
    tiff) data=1 format=tiff ;;
    both) data=1 format=both ;;
    both+png) data=1 image=1 format=both ;;
    esac
    cat <<BAT
ct_rot_ax_is_v 1
seq_exec_dir "$set/proj"
seq_exec_select_i0 "$set/i0" *.img
bg_load "$set/bg/dark-00000.img"
calc_ct2 1
calc_show_res 0
$([ "$precision" = double ] || echo "ct_precision $precision")
ct_auto_exec 1
ct_threads 2
auto_save_data $data
auto_save_data_format $format
auto_save_data_path "$results"
auto_save_data_name e2e
auto_save_image $image
auto_save_image_path "$results"
auto_save_image_name e2e
auto_save_in_sub_folders 1
auto_save_in_sub_folders_of_energy 1
EnergyLoop
seq_exec_set
ct_cor $cor
ct_slice_from 0
ct_slice_to $((slices - 1))
calc_exec
seq_exec_next
:ifok :goto EnergyLoop
BAT
}

count_files() { find "$results" -type f -name "*.$1" 2> /dev/null | wc -l; }

# run_mode MODE: prints the seconds of one run, or "missing" when the mode's
# files were not written.
run_mode() {
    rm -rf "$results"
    mkdir -p "$results"
    write_script "$1" > "$work/run.bat"
    local t0 t1
    t0=$EPOCHREALTIME
    "$orvo2" -nw -e -c "$work/none.cfg" -b "$work/run.bat" -x > "$work/run.log" 2>&1
    t1=$EPOCHREALTIME
    local done
    done=$(grep -c "slices done $slices / $slices" "$work/run.log" || true)
    if [ "$done" != "$energies" ]; then
        echo "run $1 did not finish all energies; log:" >&2
        tail -30 "$work/run.log" >&2
        exit 1
    fi
    local want=0 ext=""
    case "$1" in
    dat+png) [ "$(count_files png)" = $((energies * slices)) ] || want=1; ext=dat ;;
    both | both+png)
        [ "$1" = both ] || [ "$(count_files png)" = $((energies * slices)) ] || want=1
        [ "$(count_files tif)" = $((energies * slices)) ] || want=1
        ext=dat
        ;;
    dat) ext=dat ;;
    tiff) ext=tif ;;
    esac
    if [ -n "$ext" ] && [ "$(count_files "$ext")" != $((energies * slices)) ]; then
        want=1
    fi
    if [ "$want" = 1 ]; then
        echo missing
    else
        seconds "$t0" "$t1"
    fi
    rm -rf "$results"
}

cd "$work"
[ "$pjrec" = 1 ] && phm2pj shepp.pj "$N" "$P" --phantom shepp-logan > /dev/null
pjrec_pair() {
    local half=$(((pjSlices + 1) / 2)) i
    for p in a b; do
        (for i in $(seq 1 "$half"); do
            OMP_NUM_THREADS=1 pjrec shepp.pj "$p$i.if" "$N" "$N" --filter abs_bandlimit \
                --filter-method rfftw --interp linear > /dev/null
        done) &
    done
    wait
    rm -f ./*.if
}

echo "== end to end: $energies energies x $slices slices, N $N, P $P, 2 engines, $precision precision; $runs rounds; $(nproc) cores"
echo "   $(lscpu | sed -n 's/^Model name: *//p')"
declare -A times
pj=()
for r in $(seq 1 "$runs"); do
    line="round $r:"
    for m in $modes; do
        t=$(run_mode "$m")
        times[$m]+="$t "
        [ "$t" = missing ] && line+=" $m missing," || line+=" $m $t s,"
    done
    if [ "$pjrec" = 1 ]; then
        t0=$EPOCHREALTIME
        pjrec_pair
        t=$(seconds "$t0" "$EPOCHREALTIME")
        pj+=("$t")
        line+=" pjrec x2 $t s for $(((pjSlices + 1) / 2 * 2)) slices"
    fi
    echo "$line"
done

total=$((energies * slices))
pjRate=0
if [ "$pjrec" = 1 ]; then
    pjm=$(printf '%s\n' "${pj[@]}" | median)
    pjRate=$(awk -v t="$pjm" -v s="$(((pjSlices + 1) / 2 * 2))" 'BEGIN { printf "%.3f", s / t }')
fi
echo "medians over $runs rounds ($total slices per run):"
printf '  %-8s %9s %10s %12s\n' mode "run s" "slices/s" "x pjrec"
offT=""
for m in $modes; do
    if echo "${times[$m]}" | grep -q missing; then
        printf '  %-8s %9s  (this build writes no files of that format)\n' "$m" missing
        continue
    fi
    t=$(printf '%s\n' ${times[$m]} | median)
    [ "$m" = off ] && offT=$t
    awk -v m="$m" -v t="$t" -v s="$total" -v pj="$pjRate" \
        'BEGIN { printf "  %-8s %9.2f %10.3f %11s\n", m, t, s / t, (pj > 0 ? sprintf("%.1fx", s / t / pj) : "-") }'
done
[ "$pjrec" = 1 ] && printf '  %-8s %9s %10.3f %12s\n' pjrec - "$pjRate" "1.0x"
for m in $modes; do
    [ -n "$offT" ] && [ "$m" != off ] || continue
    echo "${times[$m]}" | grep -q missing && continue
    t=$(printf '%s\n' ${times[$m]} | median)
    awk -v m="$m" -v t="$t" -v off="$offT" 'BEGIN { printf "  %s / saving off: %.2fx time\n", m, t / off }'
done
want=10
[ "$precision" = single ] && want=15
echo "targets: tiff without pictures >= ${want}x pjrec's slices/s; dat+png and both+png <= 1.25x the time of saving off"
