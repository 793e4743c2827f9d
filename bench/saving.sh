#!/usr/bin/env bash
# The cost of saving results in a sequential CT-XAFS run: the program run
# headless over 5 energies (N = 1024, P = 360, 8 slices per energy, 2 engines),
# once with saving off and once saving ".dat" and float TIFF
# (auto_save_data_format both) and PNG pictures, runs alternating; prints the
# wall times, their medians and the ratio.
#
#   bench/saving.sh [--build DIR] [--data DIR] [--runs R] [--slices S] [--no-png]
#
# --no-png  save ".dat" and TIFF only, no pictures
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/build"
data="${TMPDIR:-/tmp}/orvo2-bench-saving"
runs=3
slices=8
png=1
while [ $# -gt 0 ]; do
    case "$1" in
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    --data) data=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --slices) slices=$2; shift 2 ;;
    --no-png) png=0; shift ;;
    *) echo "usage: $0 [--build DIR] [--data DIR] [--runs R] [--slices S] [--no-png]" >&2; exit 2 ;;
    esac
done
orvo2="$build/orvo2"
demo="$build/tools/orvo2demo"
for exe in "$orvo2" "$demo"; do
    [ -x "$exe" ] || { echo "missing $exe: build first" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
: > "$work/none.cfg"

set_dir="$data/n1024x$slices"
if [ ! -f "$set_dir/geometry.json" ]; then
    echo "# generating $set_dir" >&2
    "$demo" --out "$set_dir" --width 1028 --height "$slices" --proj 360 --energies 5 \
        --no-noise --layout flat >&2
    rm -rf "$set_dir/truth"
fi
cor=$(sed -n 's/^ *"cor": *\([0-9.]*\),*$/\1/p' "$set_dir/geometry.json")

# write_script SAVE RESULTS
write_script() {
    cat <<BAT
ct_rot_ax_is_v 1
seq_exec_dir "$set_dir/proj"
seq_exec_select_i0 "$set_dir/i0" *.img
bg_load "$set_dir/bg/dark-00000.img"
calc_ct2 1
calc_show_res 0
ct_auto_exec 1
ct_threads 2
auto_save_data $1
auto_save_data_format both
auto_save_data_path "$2"
auto_save_data_name bench
auto_save_image $(( $1 * png ))
auto_save_image_path "$2"
auto_save_image_name bench
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

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

saved="dat+tiff+png"
[ "$png" = 1 ] || saved="dat+tiff"
echo "== sequential run, 5 energies, N 1024, P 360, $slices slices each, 2 engines, $runs runs each"
printf '%6s %4s %10s %10s %12s\n' save run "wall s" "CPU s" "MB written"
off=()
on=()
for r in $(seq 1 "$runs"); do
    for save in 0 1; do
        rm -rf "$work/results"
        mkdir -p "$work/results"
        write_script "$save" "$work/results" > "$work/run.bat"
        start=$EPOCHREALTIME
        TIMEFORMAT='%U %S'
        cpu=$( { time "$orvo2" -nw -e -c "$work/none.cfg" -b "$work/run.bat" -x > "$work/run.log" 2>&1; } 2>&1 | awk '{ printf "%.2f", $1 + $2 }')
        end=$EPOCHREALTIME
        t=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')
        mb=$(du -sb "$work/results" | awk '{ printf "%.1f", $1 / 1e6 }')
        printf '%6d %4d %10s %10s %12s\n' "$save" "$r" "$t" "$cpu" "$mb"
        if [ "$save" = 1 ]; then on+=("$t"); else off+=("$t"); fi
    done
done
a=$(printf '%s\n' "${off[@]}" | median)
b=$(printf '%s\n' "${on[@]}" | median)
printf 'median wall time: saving off %.3f s, %s %.3f s, ratio %.3f\n' \
    "$a" "$saved" "$b" "$(awk -v a="$a" -v b="$b" 'BEGIN { print b / a }')"
