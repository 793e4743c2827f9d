#!/usr/bin/python3
"""The normalisation of xafs_build checked on a chain's mu stacks.

Takes the results of a reconstructed CT-XAFS scan (as scripts/xafs_accuracy.py leaves
them in WORK/results, data name "demo", energy sub folders), builds them again with E0
fixed, relative ranges, nnorm 0-3 and flattening, and compares every valid voxel's
edge step, normalised and flattened mu with the rule worked out here with numpy on
the same float mu (least squares over the measured energies inside the ranges, ends
included). With python3-xraylarch installed it also runs Larch's pre_edge on a sample
of voxels, giving it range ends that make it pick the same energies.

    scripts/xafs_norm_check.py --work WORK [--build build] [--e0 7112] [--voxels 200]
"""
import argparse
import glob
import json
import os
import subprocess

import numpy as np
import tifffile


def run_script(exe, work, lines):
    path = os.path.join(work, "norm-check.bat")
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")
    out = subprocess.run([exe, "-nw", "-e", "-c", os.path.join(work, "none.cfg"), "-b", path, "-x"],
                         capture_output=True, text=True)
    return out.stdout + out.stderr


def read_stack(folder, kind, slice_no):
    with tifffile.TiffFile(os.path.join(folder, "demo-%s-%05d.tif" % (kind, slice_no))) as t:
        pages = [p.asarray().astype(np.float64) for p in t.pages]
        meta = [json.loads(p.description) for p in t.pages]
    return np.array(pages), meta


def rule(energy, mu, e0, ranges, nnorm):
    """Step, normalised and flattened mu of every voxel (mu: energies x voxels)."""
    pre = (energy >= e0 + ranges[0]) & (energy <= e0 + ranges[1])
    post = (energy >= e0 + ranges[2]) & (energy <= e0 + ranges[3])
    a = np.vstack([np.ones(pre.sum()), energy[pre] - e0]).T
    line = np.linalg.lstsq(a, mu[pre], rcond=None)[0]
    pre_e = line[0][None, :] + np.outer(energy - e0, line[1])
    x = (energy[post] - e0) / 100.0
    v = np.vstack([x ** j for j in range(nnorm + 1)]).T
    curve = np.linalg.lstsq(v, (mu - pre_e)[post], rcond=None)[0]
    xs = (energy - e0) / 100.0
    post_e = sum(np.outer(xs ** j, curve[j]) for j in range(nnorm + 1))
    step = curve[0]
    norm = (mu - pre_e) / step
    flat = np.where((energy > e0)[:, None], norm - (post_e / step - 1.0), norm)
    return step, norm, flat


def main():
    here = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(here, "build"))
    ap.add_argument("--work", required=True)
    ap.add_argument("--e0", type=float, default=7112.0)
    ap.add_argument("--voxels", type=int, default=200)
    args = ap.parse_args()
    work = os.path.abspath(args.work)
    results = os.path.join(work, "results")
    exe = os.path.join(args.build, "orvo2")
    try:
        from larch.xafs import pre_edge
        from larch import Group
    except ImportError:
        pre_edge = None
    # Range ends on measured energies (2 eV steps about an even E0) and between them; the
    # post-edge ends before the last energy, which Larch never includes.
    range_sets = {"ends on energies": (-40.0, -10.0, 10.0, 30.0),
                  "ends between energies": (-39.0, -9.0, 11.0, 39.0)}
    print("nnorm  ranges                  voxels  max step diff  max |norm diff|  max |flat diff|"
          "  Larch: voxels  step diff  |norm diff|  |flat diff|")
    for name, ranges in range_sets.items():
        for nnorm in range(4):
            log = run_script(exe, work, [
                'auto_save_data_path "%s"' % results, "auto_save_data_name demo",
                "auto_save_in_sub_folders 1", "auto_save_in_sub_folders_of_energy 1",
                "xafs_e0 %g" % args.e0, "xafs_norm_relative %g %g %g %g" % ranges,
                "xafs_nnorm %d" % nnorm, "xafs_flatten 1", "xafs_build"])
            folder = os.path.join(results, "xafs")
            slices = sorted(glob.glob(os.path.join(folder, "demo-mu-*.tif")))
            if not slices:
                print("nothing built:\n" + log)
                return 1
            worst = [0, 0.0, 0.0, 0.0]
            larch_worst = [0, 0.0, 0.0, 0.0]
            for path in slices:
                slice_no = int(path[-9:-4])
                mu, meta = read_stack(folder, "mu", slice_no)
                energy = np.array([m["energy_eV"] for m in meta])
                norm = read_stack(folder, "norm", slice_no)[0]
                flat = read_stack(folder, "flat", slice_no)[0]
                jump = read_stack(folder, "jump", slice_no)[0][0]
                e, v = mu.shape[0], mu.shape[1] * mu.shape[2]
                mu, norm, flat, jump = (mu.reshape(e, v), norm.reshape(e, v),
                                        flat.reshape(e, v), jump.reshape(v))
                # Voxels with a clear edge: a step of a tenth of the largest at least.
                valid = np.isfinite(jump) & (jump > 0.1 * np.nanmax(jump))
                step, n, f = rule(energy, mu[:, valid], args.e0, ranges, nnorm)
                worst[0] += int(valid.sum())
                worst[1] = max(worst[1], float(np.max(np.abs(jump[valid] / step - 1.0))))
                worst[2] = max(worst[2], float(np.max(np.abs(norm[:, valid] - n))))
                worst[3] = max(worst[3], float(np.max(np.abs(flat[:, valid] - f))))
                if pre_edge is None:
                    continue
                # Larch takes from the energy at or below E0 + pre1 (+ norm1) up to, and
                # without, the one nearest E0 + pre2 (+ norm2): the ends given to it
                # pick the energies this program fits.
                def larch_ends(low, high):
                    inside = energy[(energy >= args.e0 + low) & (energy <= args.e0 + high)]
                    after = energy[energy > inside[-1]]
                    end = after[0] if len(after) else inside[-1] + 1e3
                    return inside[0] - args.e0, end - args.e0

                pre1, pre2 = larch_ends(ranges[0], ranges[1])
                norm1, norm2 = larch_ends(ranges[2], ranges[3])
                for j in np.flatnonzero(valid)[:args.voxels]:
                    g = Group()
                    pre_edge(energy, mu[:, j], group=g, e0=args.e0, pre1=pre1, pre2=pre2,
                             norm1=norm1, norm2=norm2, nnorm=nnorm, nvict=0)
                    larch_worst[0] += 1
                    larch_worst[1] = max(larch_worst[1], abs(jump[j] / g.edge_step - 1.0))
                    larch_worst[2] = max(larch_worst[2], float(np.max(np.abs(norm[:, j] - g.norm))))
                    larch_worst[3] = max(larch_worst[3], float(np.max(np.abs(flat[:, j] - g.flat))))
            print("%5d  %-22s  %6d  %12.2e  %15.2e  %15.2e  %13s  %9s  %11s  %11s" % (
                nnorm, name, worst[0], worst[1], worst[2], worst[3],
                larch_worst[0] if pre_edge else "-",
                "%.2e" % larch_worst[1] if pre_edge else "-",
                "%.2e" % larch_worst[2] if pre_edge else "-",
                "%.2e" % larch_worst[3] if pre_edge else "-"))
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
