#!/usr/bin/env bash
# The demo generator against the program on what it writes: orvo2demo writing the
# accuracy set of scripts/xafs_accuracy.py (256 wide, 4 rows, 360 projections,
# 41 energies 2 eV apart, flat layout), then the program reconstructing every
# energy as that script does (2 engines, padded filter, float TIFF results), in
# turns, R rounds; prints each round and the medians in seconds.
# Each round writes into a folder of its own, all deleted at the end: ext4 here passes
# over inodes freed in the last few minutes when it creates files, which makes a set
# written within minutes of deleting the last one 3 to 6 times slower to write (a run
# soon after another, or after other mass deletions, shows it in its first round).
#
#   bench/demodata.sh [--build DIR] [--work DIR] [--runs R]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/bench/common.sh"
build="$here/build"
work="${TMPDIR:-/tmp}/orvo2-bench-demodata"
runs=3
while [ $# -gt 0 ]; do
    case "$1" in
    --build) build=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
    esac
done
need_built "$build" orvo2 tools/orvo2demo
mkdir -p "$work"
rm -rf "$work"/round-*
trap 'rm -rf "$work"/round-*' EXIT
# The batch script of a round, reading $data and writing $results.
batch() {
    cat <<BAT
ct_rot_ax_is_v 1
seq_exec_dir "$data/proj"
seq_exec_select_i0 "$data/i0" *.img
bg_load "$data/bg/dark-00000.img"
calc_ct2 1
ct_auto_exec 1
ct_threads 2
ct_filter_padded 1
auto_save_data 1
auto_save_data_path "$results"
auto_save_data_name demo
auto_save_data_format tiff
auto_save_in_sub_folders 1
auto_save_in_sub_folders_of_energy 1
EnergyLoop
seq_exec_set
ct_cor 127.25
ct_slice_from 0
ct_slice_to 3
calc_exec
seq_exec_next
:ifok :goto EnergyLoop
BAT
}
: > "$work/gen.txt"
: > "$work/rec.txt"
for round in $(seq "$runs"); do
    data="$work/round-$round/data"
    results="$work/round-$round/results"
    mkdir -p "$work/round-$round"
    batch > "$work/reconstruct.bat"
    start=$EPOCHREALTIME
    "$build/tools/orvo2demo" --out "$data" --width 256 --height 4 --proj 360 \
        --energies 41 --step 2 --layout flat > /dev/null
    gen=$(seconds "$start" "$EPOCHREALTIME")
    start=$EPOCHREALTIME
    "$build/orvo2" -nw -e -c "$work/none.cfg" -b "$work/reconstruct.bat" -x > "$work/run.log" 2>&1
    rec=$(seconds "$start" "$EPOCHREALTIME")
    files=$(find "$results" -name '*.tif' | wc -l)
    echo "round $round: generator $gen s, reconstruction $rec s ($files slices)"
    echo "$gen" >> "$work/gen.txt"
    echo "$rec" >> "$work/rec.txt"
done
echo "median: generator $(median < "$work/gen.txt") s, reconstruction $(median < "$work/rec.txt") s"
