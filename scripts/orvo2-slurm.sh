#!/usr/bin/env bash
# shellcheck disable=SC2016 # the task scripts written below keep their variables unexpanded
# Runs a sequential CT-XAFS batch script on a SLURM cluster: one array task per
# data set, each task the same script headless on one set
# (orvo2 -nw -b SCRIPT -x -set K -threads C), optionally followed by a task that
# builds the spectra once every set succeeded.
set -euo pipefail

usage() {
    cat <<'EOF'
Usage: orvo2-slurm.sh [--wait] [--xafs] [--sets LIST] [--partition P] [--cpus C] SCRIPT.bat

  --wait         wait for the job; exit 0 only when every task succeeded, otherwise
                 list the failed sets, their logs and the command that resubmits them
  --xafs         add a task that runs after all sets succeeded and builds the
                 spectra (xafs_build with the script's auto_save_* and xafs_* lines)
  --sets LIST    submit only these sets (0-based, as -sets lists them): 3,7 or 2-5
  --partition P  SLURM partition
  --cpus C       CPUs per task, the engines of each task (default 1)

The program is $ORVO2 when set, else build/orvo2 of the source tree this wrapper
belongs to, else orvo2 on the PATH; the wrapper says which it chose. Logs go to
SCRIPT-slurm/ beside the script, one per set (SCRIPT-setK.log). Further sbatch settings through its environment variables
(SBATCH_TIMELIMIT, SBATCH_MEM_PER_NODE, SBATCH_ACCOUNT, ...).
EOF
}

fail() {
    echo "orvo2-slurm: $*" >&2
    exit 2
}

wait_for_job=0
xafs=0
sets=""
partition=""
cpus=1
script=""
while [ $# -gt 0 ]; do
    case $1 in
    --wait) wait_for_job=1 ;;
    --xafs) xafs=1 ;;
    --sets | --partition | --cpus)
        [ $# -ge 2 ] || fail "$1 needs a value"
        case $1 in
        --sets) sets=$2 ;;
        --partition) partition=$2 ;;
        --cpus) cpus=$2 ;;
        esac
        shift
        ;;
    -h | --help)
        usage
        exit 0
        ;;
    -*) fail "unknown option $1 (--help lists them)" ;;
    *)
        [ -z "$script" ] || fail "one script only: $script and $1"
        script=$1
        ;;
    esac
    shift
done
[ -n "$script" ] || { usage >&2; exit 2; }
[ -f "$script" ] || fail "no such script: $script"
[[ $cpus =~ ^[1-9][0-9]*$ ]] || fail "--cpus needs a whole number of 1 or more: $cpus"
[ -z "$sets" ] || [[ $sets =~ ^[0-9]+(-[0-9]+)?(,[0-9]+(-[0-9]+)?)*$ ]] ||
    fail "--sets needs set numbers like 3,7 or 2-5: $sets"

script=$(cd "$(dirname "$script")" && pwd)/$(basename "$script")
name=$(basename "$script")
name=${name%.*}

# The program: as named, the build of the source tree this wrapper belongs to, or
# the PATH's. Nothing is looked for above the script: a build/orvo2 found there may
# be any program.
if [ -n "${ORVO2:-}" ]; then
    program=$ORVO2
    chosen="ORVO2"
else
    tree=$(dirname "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")")
    if [ -x "$tree/build/orvo2" ] && [ ! -d "$tree/build/orvo2" ]; then
        program=$tree/build/orvo2
        chosen="the build of the wrapper's source tree"
    else
        program=$(command -v orvo2 || true)
        chosen="PATH"
    fi
fi
[ -n "$program" ] || fail "no program: set ORVO2, build the project, or put orvo2 on the PATH"
case $program in
*/*) program=$(cd "$(dirname "$program")" && pwd)/$(basename "$program") ;;
*) program=$(command -v "$program") || fail "no such program: $program" ;;
esac
if [ ! -x "$program" ] || [ -d "$program" ]; then
    fail "not a program: $program"
fi
echo "Program: $program (from $chosen)"

logs=$(dirname "$script")/$name-slurm
mkdir -p "$logs"

# The sets, from the script itself: index, tag, file count, I0.
listing=$("$program" -e -b "$script" -sets 2>"$logs/$name-sets.log") ||
    fail "listing the sets failed (status $?), see $logs/$name-sets.log"
declare -A tag_of=()
count=0
while IFS=$'\t' read -r index tag _; do
    [[ $index =~ ^[0-9]+$ ]] || continue
    tag_of[$index]=$tag
    count=$((count + 1))
done <<<"$listing"
[ "$count" -gt 0 ] || fail "the script selects no data sets, see $logs/$name-sets.log"

# The sets to submit, each checked against the listing.
chosen=()
if [ -z "$sets" ]; then
    for ((k = 0; k < count; k++)); do chosen+=("$k"); done
    array="0-$((count - 1))"
else
    IFS=, read -r -a parts <<<"$sets"
    for part in "${parts[@]}"; do
        first=${part%-*}
        last=${part#*-}
        [ "$((10#$first))" -le "$((10#$last))" ] || fail "--sets: $part runs backwards"
        for ((k = 10#$first; k <= 10#$last; k++)); do
            [ -n "${tag_of[$k]+set}" ] || fail "--sets: no set $k, the script selects sets 0 to $((count - 1))"
            chosen+=("$k")
        done
    done
    array=$sets
fi

log_of() { echo "$logs/$name-set$1.log"; }
status_of() { echo "$logs/$name-set$1.status"; }
for k in "${chosen[@]}"; do rm -f "$(status_of "$k")"; done

# Each task records its exit status beside its log: a task that SLURM ended
# (time limit, memory, node failure) leaves none and counts as failed.
task=$logs/$name-task.sh
{
    echo '#!/usr/bin/env bash'
    echo "# One set of $name: written by orvo2-slurm.sh."
    printf 'status=%q/%q-set$SLURM_ARRAY_TASK_ID.status\n' "$logs" "$name"
    printf '%q -nw -b %q -x -set "$SLURM_ARRAY_TASK_ID" -threads %q\n' "$program" "$script" "$cpus"
    echo 'code=$?'
    echo 'echo "$code" >"$status"'
    echo 'exit "$code"'
} >"$task"
chmod +x "$task"

# sbatch reads --output, --error and --input as file-name patterns, where % starts
# a replacement: a % of the folder or script name must reach it as %% (--chdir is
# taken as it is).
sbatch_pattern() {
    printf '%s' "${1//%/%%}"
}

sbatch_common=(--parsable --cpus-per-task="$cpus" --chdir="$PWD")
[ -z "$partition" ] || sbatch_common+=(--partition="$partition")

job=$(sbatch "${sbatch_common[@]}" --job-name="orvo2-$name" --array="$array" \
    --output="$(sbatch_pattern "$logs/$name-set")%a.log" "$task") || fail "sbatch did not take the array"
job=${job%%;*}
echo "Submitted $name: job $job, sets $array of 0-$((count - 1)), logs in $logs"

xafs_job=""
if [ "$xafs" -eq 1 ]; then
    # The spectra task needs the save settings of the script and its spectra lines,
    # not its loop over the sets.
    xafs_script=$logs/$name-xafs.bat
    grep -iE '^[[:space:]]*(auto_save_|xafs_)' "$script" >"$xafs_script" || true
    grep -qiE '^[[:space:]]*xafs_build' "$xafs_script" || echo "xafs_build" >>"$xafs_script"
    rm -f "$logs/$name-xafs.status"
    xafs_task=$logs/$name-xafs.sh
    {
        echo '#!/usr/bin/env bash'
        echo "# Spectra of $name after all its sets: written by orvo2-slurm.sh."
        printf '%q -nw -b %q -x\n' "$program" "$xafs_script"
        echo 'code=$?'
        printf 'echo "$code" >%q\n' "$logs/$name-xafs.status"
        echo 'exit "$code"'
    } >"$xafs_task"
    chmod +x "$xafs_task"
    xafs_job=$(sbatch "${sbatch_common[@]}" --job-name="orvo2-$name-xafs" \
        --dependency="afterok:$job" --kill-on-invalid-dep=yes \
        --output="$(sbatch_pattern "$logs/$name-xafs.log")" "$xafs_task") ||
        fail "sbatch did not take the spectra task (the array, job $job, is submitted)"
    xafs_job=${xafs_job%%;*}
    echo "Submitted the spectra of $name: job $xafs_job, after job $job succeeds"
fi

[ "$wait_for_job" -eq 1 ] || exit 0

poll=${ORVO2_SLURM_POLL:-5}
# A job is over when squeue lists none of its tasks or no longer knows it; a
# controller that does not answer is asked again.
running() {
    local out
    if out=$(squeue -h -j "$1" -o %i 2>&1); then
        [ -n "$out" ]
        return
    fi
    case $out in *"Invalid job id"*) return 1 ;; esac
    echo "orvo2-slurm: squeue: $out (asking again)" >&2
    return 0
}
while running "$job"; do sleep "$poll"; done

failed=()
for k in "${chosen[@]}"; do
    status=$(cat "$(status_of "$k")" 2>/dev/null || true)
    [ "$status" = 0 ] || failed+=("$k")
done

if [ ${#failed[@]} -gt 0 ]; then
    # With a failed set the spectra task can never start.
    [ -z "$xafs_job" ] || scancel "$xafs_job" 2>/dev/null || true
    echo "Failed: ${#failed[@]} of ${#chosen[@]} sets of $name (job $job)"
    for k in "${failed[@]}"; do
        status=$(cat "$(status_of "$k")" 2>/dev/null || echo "none, ended by SLURM or never run")
        echo "  set $k (${tag_of[$k]}): exit status $status, log $(log_of "$k")"
    done
    again=("$(cd "$(dirname "$0")" && pwd)/$(basename "$0")" --wait)
    [ "$xafs" -eq 0 ] || again+=(--xafs)
    again+=(--sets "$(
        IFS=,
        echo "${failed[*]}"
    )")
    [ -z "$partition" ] || again+=(--partition "$partition")
    again+=(--cpus "$cpus" "$script")
    echo "Resubmit only these sets with:"
    printf '  %s\n' "$(printf '%q ' "${again[@]}" | sed 's/ $//')"
    exit 2
fi
echo "All ${#chosen[@]} sets of $name succeeded (job $job)"

if [ -n "$xafs_job" ]; then
    while running "$xafs_job"; do sleep "$poll"; done
    status=$(cat "$logs/$name-xafs.status" 2>/dev/null || echo none)
    if [ "$status" != 0 ]; then
        echo "The spectra task failed (exit status $status), log $logs/$name-xafs.log"
        echo "Run it again with:"
        printf '  sbatch %q\n' "$xafs_task"
        exit 2
    fi
    echo "Spectra of $name built (job $xafs_job)"
fi
exit 0
