#!/usr/bin/env bash
# Whole-slice speed against two peers at N = 1024 detectors, P = 720 views over
# 180 degrees, runs alternating between ours and theirs, medians and ratios:
#   - ctsim's pjrec (Debian package ctsim) on a Shepp-Logan projection file made
#     by its phm2pj: abs_bandlimit filter, rfftw filtering, linear interpolation,
#     with 2 OpenMP threads, and also as two single-threaded processes at once
#     (its best use of the 2 cores); against our 2 engines over 64 slices;
#   - scikit-image's iradon (Debian package python3-skimage), ramp filter, linear
#     interpolation, one thread, on a Shepp-Logan sinogram of the same size;
#     against one engine on one slice (sinogram, filter, back projection).
# Ours is measured twice: the program run headless through bench/pool.sh (1 and
# 2 engines over 64 slices of a generated stack) and the core alone through
# orvo2bench (one slice, median of a few).
#
#   bench/peers.sh [--build DIR] [--data DIR] [--runs R] [--no-install]
#
# Installs the peers with apt-get when they are missing (root or sudo needed).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/bench/common.sh"
build="$here/build"
data="${TMPDIR:-/tmp}/orvo2-bench-data"
runs=3
install=1
while [ $# -gt 0 ]; do
    case "$1" in
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    --data) data=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --no-install) install=0; shift ;;
    *)
        echo "usage: $0 [--build DIR] [--data DIR] [--runs R] [--no-install]" >&2
        exit 2
        ;;
    esac
done
bench="$build/bench/orvo2bench"
need_built "$build" bench/orvo2bench orvo2
# Debian's interpreter: scikit-image comes as a Debian package.
python=/usr/bin/python3
if ! command -v pjrec > /dev/null || ! command -v phm2pj > /dev/null ||
    ! "$python" -c "import skimage" 2> /dev/null; then
    install_packages "$install" ctsim python3-skimage time
fi

N=1024
P=720
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
phm2pj shepp.pj "$N" "$P" --phantom shepp-logan

# A Shepp-Logan sinogram from the ellipses' exact projections (N detectors across
# the unit circle, P views over 180 degrees); iradon alone is timed.
cat > iradon.py <<'PY'
import sys, time
import numpy as np
from skimage.transform import iradon

n, p = int(sys.argv[1]), int(sys.argv[2])
# (density, a, b, x0, y0, angle in degrees): the modified Shepp-Logan head
ellipses = [(1.0, .69, .92, 0, 0, 0), (-.8, .6624, .874, 0, -.0184, 0),
            (-.2, .11, .31, .22, 0, -18), (-.2, .16, .41, -.22, 0, 18),
            (.1, .21, .25, 0, .35, 0), (.1, .046, .046, 0, .1, 0),
            (.1, .046, .046, 0, -.1, 0), (.1, .046, .023, -.08, -.605, 0),
            (.1, .023, .023, 0, -.606, 0), (.1, .023, .046, .06, -.605, 0)]
theta = np.arange(p) * 180.0 / p
s = (np.arange(n) - n / 2) / (n / 2)
sino = np.zeros((n, p))
for rho, a, b, x0, y0, phi in ellipses:
    t = np.deg2rad(theta)
    tp = t - np.deg2rad(phi)
    a2 = (a * np.cos(tp)) ** 2 + (b * np.sin(tp)) ** 2
    sp = s[:, None] - (x0 * np.cos(t) + y0 * np.sin(t))[None, :]
    inside = np.maximum(a2[None, :] - sp ** 2, 0.0)
    sino += 2 * rho * a * b * np.sqrt(inside) / a2[None, :] * (n / 2)
start = time.perf_counter()
image = iradon(sino, theta=theta, filter_name='ramp', interpolation='linear', circle=True)
print("%.3f" % (time.perf_counter() - start), image.shape[0], image.shape[1])
PY

pjrec_run() {
    pjrec shepp.pj "$1" "$N" "$N" --filter abs_bandlimit --filter-method rfftw --interp linear
}

echo "== peers: N $N, P $P, $runs rounds; $(nproc) cores"
pj2=() pjpair=() irad=() one=() two=() core=()
for r in $(seq 1 "$runs"); do
    # pjrec with 2 OpenMP threads on one slice
    t0=$EPOCHREALTIME
    OMP_NUM_THREADS=2 pjrec_run a.if
    pj2+=("$(seconds "$t0" "$EPOCHREALTIME")")
    # ours: the program headless, 1 and 2 engines over 64 slices
    line=$("$here/bench/pool.sh" --build "$build" --data "$data" --runs 1 --no-memory |
        grep '^median slices/s')
    one+=("$(echo "$line" | sed -n 's/.*1 engine \([0-9.]*\),.*/\1/p')")
    two+=("$(echo "$line" | sed -n 's/.*2 engines \([0-9.]*\),.*/\1/p')")
    # pjrec as two single-threaded processes on two slices at once
    t0=$EPOCHREALTIME
    OMP_NUM_THREADS=1 pjrec_run b.if &
    OMP_NUM_THREADS=1 pjrec_run c.if
    wait
    pjpair+=("$(seconds "$t0" "$EPOCHREALTIME")")
    # iradon, one thread (the tuning variables of OpenBLAS off, as advised for numpy)
    irad+=("$(env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE OMP_NUM_THREADS=1 \
        OPENBLAS_NUM_THREADS=1 MKL_NUM_THREADS=1 "$python" iradon.py "$N" "$P" | cut -d' ' -f1)")
    # ours: the core alone, one whole slice
    core+=("$("$bench" "$N" "$P" | awk -v n="$N" '$1 == n { print $3 / 1000 }')")
    printf 'round %d: pjrec(2 thr) %.2f s, pjrec x2 %.2f s, iradon %.2f s, ours 1 eng %.2f sl/s, 2 eng %.2f sl/s, core slice %.3f s\n' \
        "$r" "${pj2[-1]}" "${pjpair[-1]}" "${irad[-1]}" "${one[-1]}" "${two[-1]}" "${core[-1]}"
done

m() { printf '%s\n' "$@" | median; }
pj2m=$(m "${pj2[@]}")
pjpairm=$(m "${pjpair[@]}")
iradm=$(m "${irad[@]}")
onem=$(m "${one[@]}")
twom=$(m "${two[@]}")
corem=$(m "${core[@]}")
awk -v pj2="$pj2m" -v pjpair="$pjpairm" -v irad="$iradm" -v one="$onem" -v two="$twom" \
    -v core="$corem" 'BEGIN {
    printf "medians (slices/s): pjrec 2 threads %.3f, pjrec 2 processes %.3f, ours 2 engines %.3f\n",
        1 / pj2, 2 / pjpair, two
    printf "2 cores: ours / pjrec 2 threads %.1fx, ours / pjrec 2 processes %.1fx (target >= 5)\n",
        two * pj2, two * pjpair / 2
    printf "medians (s per slice): iradon %.2f, ours one engine %.3f (program), %.3f (core)\n",
        irad, 1 / one, core
    printf "1 core: iradon / ours %.1fx (program), %.1fx (core) (target >= 15)\n",
        irad * one, irad / core }'
