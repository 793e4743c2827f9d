#!/usr/bin/env bash
# The cost of saving results in a sequential CT-XAFS run: the program headless
# over 5 generated energies (N = 1024, P = 720, 64 slices per energy, 2
# engines), once with saving off and once saving ".dat" and float TIFF
# (auto_save_data_format both) and PNG pictures, runs alternating; prints the
# medians and the ratio of the times. The runs are bench/endtoend.sh's.
#
#   bench/saving.sh [--build DIR] [--data DIR] [--runs R] [--slices S] [--proj P] [--no-png]
#
# --no-png  save ".dat" and TIFF only, no pictures
set -euo pipefail
modes="off both+png"
args=()
while [ $# -gt 0 ]; do
    case "$1" in
    --no-png) modes="off both"; shift ;;
    --build | --data | --runs | --slices | --proj) args+=("$1" "$2"); shift 2 ;;
    *) echo "usage: $0 [--build DIR] [--data DIR] [--runs R] [--slices S] [--proj P] [--no-png]" >&2; exit 2 ;;
    esac
done
exec "$(dirname "$0")/endtoend.sh" --no-pjrec --modes "$modes" "${args[@]}"
