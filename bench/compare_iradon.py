#!/usr/bin/python3
"""Compares this program's slices of analytic phantoms with scikit-image's
iradon (filter "ramp", its own zero padding to a power of two, linear
interpolation) on the same sinograms.

    build/bench/orvo2resultbench --out DIR
    bench/compare_iradon.py DIR

For each N it prints, inside the phantom's body, the mean bias over the
phantom's RMS and the RMSE of attenuation per pixel, and across the edge the
error of the mean edge jump in absorber voxels and the largest jump in
absorber-free voxels (both 3 px or more from the absorber's boundary), for the
plain ramp, the padded ramp and iradon.
"""
import glob
import os
import sys

import numpy as np
from skimage.transform import iradon


def load(path, n):
    return np.fromfile(path, dtype="<f8").reshape(-1, n)


def figures(name, pre, post, truth, kinds, jump):
    body = kinds > -1
    err = pre[body] - truth[body]
    rms = np.sqrt(np.mean(truth[body] ** 2))
    dj = post - pre
    inside = dj[kinds == 2]
    free = dj[kinds == 1]
    return (name, np.mean(err) / rms, np.sqrt(np.mean(err ** 2)),
            100 * (np.mean(inside) / jump - 1), 100 * np.mean(free) / jump,
            100 * np.percentile(np.abs(free), 99) / jump)


def iradon_slice(sgm, n, p):
    # Rows of n + 1 samples with the centre on sample n / 2: the first n
    # samples put it on n // 2, iradon's centre.
    radon_image = sgm[:, :n].T
    theta = np.arange(p) * 180.0 / p
    return iradon(radon_image, theta=theta, output_size=n, filter_name="ramp",
                  interpolation="linear", circle=True)


def oriented(image, truth, body):
    # iradon's angle and axis conventions differ from this program's: take
    # the flip or rotation of its slice that best matches the truth.
    best = None
    for k in range(4):
        for flip in (False, True):
            c = np.rot90(image, k)
            c = np.fliplr(c) if flip else c
            e = np.mean((c[body] - truth[body]) ** 2)
            if best is None or e < best[0]:
                best = (e, k, flip)
    return best[1], best[2]


def apply(image, k, flip):
    c = np.rot90(image, k)
    return np.fliplr(c) if flip else c


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "bench-results"
    for info in sorted(glob.glob(os.path.join(out, "n*.txt")), key=lambda s: int(s.split("n")[-1][:-4])):
        tag = os.path.basename(info)[:-4]
        n, p, jump = open(info).read().split()
        n, p, jump = int(n), int(p), float(jump)
        f = lambda s: load(os.path.join(out, f"{tag}-{s}.f64"), n)
        truth, kinds = f("truth-pre"), f("kinds")
        sgm_pre = load(os.path.join(out, f"{tag}-sgm-pre.f64"), n + 1)
        sgm_post = load(os.path.join(out, f"{tag}-sgm-post.f64"), n + 1)
        rows = [figures("ramp", f("ramp-pre"), f("ramp-post"), truth, kinds, jump),
                figures("padded ramp", f("padded-pre"), f("padded-post"), truth, kinds, jump)]
        sk_pre = iradon_slice(sgm_pre, n, p)
        k, flip = oriented(sk_pre, truth, kinds > -1)
        sk_post = apply(iradon_slice(sgm_post, n, p), k, flip)
        rows.append(figures("iradon ramp", apply(sk_pre, k, flip), sk_post, truth, kinds, jump))
        print(f"\nN {n}, P {p}")
        print(f"{'filter':14s} {'bias/RMS':>10s} {'RMSE':>11s} {'RMSE/iradon':>12s} "
              f"{'jump absorber':>14s} {'free: mean':>11s} {'free: 99%':>10s}")
        ref = rows[-1][2]
        for name, bias, rmse, jin, jmean, j99 in rows:
            print(f"{name:14s} {bias:10.5f} {rmse:11.4g} {rmse / ref:12.3f} "
                  f"{jin:13.3f}% {jmean:10.3f}% {j99:9.3f}%")
        ours = f("padded-pre")
        theirs = apply(sk_pre, k, flip)
        print(f"largest |padded ramp - iradon| inside the body: "
              f"{np.max(np.abs(ours - theirs)[kinds > -1]):.3g} "
              f"({np.max(np.abs(ours - theirs)[kinds > -1]) / np.max(truth):.2g} of the maximum)")


if __name__ == "__main__":
    main()
