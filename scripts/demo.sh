#!/usr/bin/env bash
# The main job: builds if needed, makes the bundled demo CT-XAFS data set if it is
# absent, and reconstructs a range of slices of every energy headless through a
# batch script, saving data files and pictures into one sub folder per energy.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh" "$here/build" -DCMAKE_BUILD_TYPE=Release

demo="$here/demo"
data="$demo/data"
results="$demo/results"
if [ ! -f "$data/geometry.json" ]; then
    "$here/build/tools/orvo2demo" --out "$data" --width 256 --height 16 --proj 180 --energies 5
fi
cor=$(sed -n 's/^ *"cor": *\([0-9.]*\),*$/\1/p' "$data/geometry.json")
last=$(( $(sed -n 's/^ *"height": *\([0-9]*\),*$/\1/p' "$data/geometry.json") - 1 ))
# One sub-directory per energy (the generator's default) is read with add_inf_show 0;
# a data set made with --layout flat, all energies in one directory, with 1.
layout=$(sed -n 's/^ *"layout": *"\([a-z]*\)",*$/\1/p' "$data/geometry.json")
if [ "$layout" = flat ]; then setsByName=1; else setsByName=0; fi

mkdir -p "$results"
cat > "$demo/demo.bat" <<BAT
# Reconstructs slices 0..$last of every energy of the demo data set.
ct_rot_ax_is_v 1
add_inf_show $setsByName
seq_exec_file_pattern *.img
seq_exec_dir "$data/proj"
seq_exec_select_i0 "$data/i0" *.img
bg_load "$data/bg/dark-00000.img"
calc_ct2 1
ct_auto_exec 1
ct_threads 2
auto_save_data 1
auto_save_data_path "$results"
auto_save_data_name demo
auto_save_image 1
auto_save_image_path "$results"
auto_save_image_name demo
auto_save_in_sub_folders 1
auto_save_in_sub_folders_of_energy 1
EnergyLoop
seq_exec_set
# After the load, which sets the centre and the slice range to the image's.
ct_cor $cor
ct_slice_from 0
ct_slice_to $last
calc_exec
seq_exec_next
:ifok :goto EnergyLoop
BAT

"$here/build/orvo2" -nw -e -c "$demo/none.cfg" -b "$demo/demo.bat" -x 2>&1 |
    grep -E "Stage|slices done|Can|not" || true
echo "Results: $results"
ls "$results"
