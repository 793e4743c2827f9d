#!/usr/bin/python3
"""Accuracy of the CT-XAFS spectra on the demo phantom.

Generates the demo CT-XAFS data set with 2 eV steps across the edge, reconstructs
every energy in a sequential run headless (float TIFF results, padded filter when
the program has them), builds the energy stacks with xafs_build and writes the
spectrum of an absorber region with xafs_spectrum. The phantom's true slices go
through the same xafs_build, so the figures compare like with like:
  - correlation of the edge-jump map with the true one inside the object disc,
  - E0 error in absorber voxels (against the phantom's edge energy),
  - largest difference of the region's normalised mu(E) from the true one.
Results written by a program without TIFF results (.dat only) are converted to the
TIFF results first, so the chain can be measured with either.

    scripts/xafs_accuracy.py [--build build] [--work demo/xafs-accuracy]
                             [--width 256] [--proj 360] [--energies 41] [--step 2]
                             [--no-noise] [--flux 20000] [--i0-frames 1]
                             [--defects] [--ring-removal n] [--cor-auto m]
"""
import argparse
import glob
import json
import os
import re
import subprocess
import sys

import numpy as np
import tifffile


def run_script(exe, work, name, lines):
    path = os.path.join(work, name)
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")
    log = subprocess.run([exe, "-nw", "-e", "-c", os.path.join(work, "none.cfg"), "-b", path, "-x"],
                         capture_output=True, text=True)
    with open(path + ".log", "w") as f:
        f.write(log.stdout + log.stderr)
    return log.stdout + log.stderr


def write_result(path, values, x0, z0, meta):
    tifffile.imwrite(path, values.astype("<f4"), description=json.dumps(meta), metadata=None,
                     resolution=(1, 1), resolutionunit=1,
                     extratags=[(286, 5, 1, (int(x0), 1), False), (287, 5, 1, (int(z0), 1), False)])


def write_record(folder, name, tag, energy, projections, n, cor):
    record = {"program": "Orvo2", "data_name": name, "tag": tag, "energy_eV": energy,
              "projections": projections, "n": n, "cor": cor,
              "scale": "value / (2P) = attenuation per pixel"}
    with open(os.path.join(folder, "%s-%s.json" % (name, tag)), "w") as f:
        json.dump(record, f)


def convert_dat(results, name, geometry):
    """.dat results of every energy folder to float TIFF results and run records."""
    p, n, cor = geometry["proj"], geometry["n_fft"], geometry["cor"]
    for tag, s in geometry["sets"].items():
        folder = os.path.join(results, tag)
        for dat in sorted(glob.glob(os.path.join(folder, "%s-%s-*.dat" % (name, tag)))):
            rows = np.loadtxt(dat, comments="#")
            xs, zs = rows[:, 0].astype(int), rows[:, 1].astype(int)
            x0, z0 = xs.min(), zs.min()
            img = np.zeros((zs.max() - z0 + 1, xs.max() - x0 + 1))
            img[zs - z0, xs - x0] = rows[:, 2]
            write_result(dat[:-4] + ".tif", img, x0, z0,
                         {"orvo2": "ct-slice", "n": n, "projections": p, "energy_eV": s["energy"],
                          "converted_from": "dat"})
        write_record(folder, name, tag, s["energy"], p, n, cor)


def write_truth(data, out, name, geometry):
    p, n, cor = geometry["proj"], geometry["n_fft"], geometry["cor"]
    shape = geometry["truth"]["shape"]
    for tag, s in geometry["sets"].items():
        mu = np.fromfile(os.path.join(data, s["truth"]), dtype="<f8").reshape(shape)
        folder = os.path.join(out, tag)
        os.makedirs(folder, exist_ok=True)
        for slice_no in range(shape[0]):
            write_result(os.path.join(folder, "%s-%s-%05d.tif" % (name, tag, slice_no)),
                         mu[slice_no] * 2 * p, 0, 0,
                         {"orvo2": "ct-slice", "n": n, "projections": p, "energy_eV": s["energy"]})
        write_record(folder, name, tag, s["energy"], p, n, cor)


def position(value):
    return int(round(value[0] / value[1])) if isinstance(value, tuple) else int(value)


def read_map(folder, name, kind, slice_no):
    with tifffile.TiffFile(os.path.join(folder, "xafs", "%s-%s-%05d.tif" % (name, kind, slice_no))) as t:
        page = t.pages[0]
        x0, z0 = (position(page.tags[t].value) if t in page.tags else 0
                  for t in ("XPosition", "YPosition"))
        return page.asarray().astype(float), x0, z0


def read_csv(path):
    # "#" lines first, then the column labels, then the numbers.
    with open(path) as f:
        lines = [line for line in f if not line.startswith("#")]
    rows = np.loadtxt(lines[1:], delimiter=",", ndmin=2)
    return rows[:, 0], rows[:, 1], rows[:, 2]


def main():
    here = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(here, "build"))
    ap.add_argument("--work", default=os.path.join(here, "demo", "xafs-accuracy"))
    ap.add_argument("--width", type=int, default=256)
    ap.add_argument("--height", type=int, default=4)
    ap.add_argument("--proj", type=int, default=360)
    ap.add_argument("--energies", type=int, default=41)
    ap.add_argument("--step", type=float, default=2.0)
    ap.add_argument("--no-noise", action="store_true")
    ap.add_argument("--flux", type=float, default=20000, help="photons per pixel of the open beam")
    ap.add_argument("--i0-frames", type=int, default=1, help="frames averaged into each I0")
    ap.add_argument("--defects", action="store_true",
                    help="detector defects in the projections (orvo2demo --defects)")
    ap.add_argument("--ring-removal", type=int, default=0, help="ct_ring_removal window (0: off)")
    ap.add_argument("--cor-auto", type=int, default=0,
                    help="seq_exec_cor_auto mode instead of the true centre (0: the true one)")
    args = ap.parse_args()
    work = os.path.abspath(args.work)
    data, results, truth = (os.path.join(work, d) for d in ("data", "results", "truth"))
    exe = os.path.join(args.build, "orvo2")
    os.makedirs(work, exist_ok=True)
    if not os.path.exists(os.path.join(data, "geometry.json")):
        subprocess.run([os.path.join(args.build, "tools", "orvo2demo"), "--out", data,
                        "--width", str(args.width), "--height", str(args.height),
                        "--proj", str(args.proj), "--energies", str(args.energies),
                        "--step", str(args.step), "--layout", "flat",
                        "--flux", str(args.flux), "--i0-frames", str(args.i0_frames)]
                       + (["--no-noise"] if args.no_noise else [])
                       + (["--defects"] if args.defects else []), check=True)
    geometry = json.load(open(os.path.join(data, "geometry.json")))
    last = geometry["height"] - 1
    name = "demo"
    if not glob.glob(os.path.join(results, "*", "*.dat")) and not glob.glob(
            os.path.join(results, "*", "*.tif")):
        run_script(exe, work, "reconstruct.bat", [
            "ct_rot_ax_is_v 1", 'seq_exec_dir "%s/proj"' % data,
            'seq_exec_select_i0 "%s/i0" *.img' % data, 'bg_load "%s/%s"' % (data, geometry["bg"]),
            "calc_ct2 1", "ct_auto_exec 1", "ct_threads 2", "ct_filter_padded 1",
            "auto_save_data 1", 'auto_save_data_path "%s"' % results, "auto_save_data_name demo",
            "auto_save_data_format tiff", "auto_save_in_sub_folders 1",
            "auto_save_in_sub_folders_of_energy 1", "ct_ring_removal %d" % args.ring_removal,
            "ct_proc_slice %d" % (last // 2), "seq_exec_cor_auto %d" % args.cor_auto,
            "EnergyLoop", "seq_exec_set"]
            + ([] if args.cor_auto else ["ct_cor %s" % geometry["cor"]])
            + ["ct_slice_from 0", "ct_slice_to %d" % last, "calc_exec",
               "seq_exec_next", ":ifok :goto EnergyLoop"])
    if not glob.glob(os.path.join(results, "*", "*.tif")):
        convert_dat(results, name, geometry)
    with tifffile.TiffFile(sorted(glob.glob(os.path.join(results, "*", "*.tif")))[0]) as t:
        converted = "converted_from" in json.loads(t.pages[0].description)
    if not os.path.isdir(truth):
        write_truth(data, truth, name, geometry)

    n, c = geometry["n_fft"], geometry["centre"]
    radius = 0.9 * c  # the object's disc (the phantom fills 0.9 of the half width)
    print("N = %d, P = %d, %d energies, %g eV steps, %s results%s" % (
        n, geometry["proj"], len(geometry["energies"]), args.step,
        ".dat converted to TIFF" if converted else "TIFF",
        "" if not converted else " (no padded filter: the program has no TIFF results)"))
    noise = ("photon noise, %g photons per open-beam pixel, I0 of %d frame(s)" % (
        geometry["flux"], geometry.get("i0_frames", 1)) if geometry["noise"] else "noise-free")
    print("%s, padded filter %s" % (noise, "no" if converted else "yes"))
    print("E0 |err| (eV) of all absorber voxels, and of the interior ones (the 3 x 3 around"
          " them absorber too)")
    print("slice  jump corr.  E0 median / 95% / max     (voxels)  interior median / 95% / max"
          "  (voxels)  (true stack)  max |norm err|  mu dev. RMS %  region")
    for slice_no in range(geometry["height"]):
        # A 9 x 9 region inside the grain that holds the absorbing element.
        h = (slice_no + 0.5) / geometry["height"]
        gx, gz = c + (0.32 - 0.25 * h) * radius, c + (-0.18 + 0.1 * h) * radius
        region = [int(gx) - 4, int(gz) - 4, int(gx) + 5, int(gz) + 5]
        for folder in (results, truth):
            run_script(exe, work, "spectra.bat", [
                'auto_save_data_path "%s"' % folder, "auto_save_data_name demo",
                "auto_save_in_sub_folders 1", "auto_save_in_sub_folders_of_energy 1"]
                + (["xafs_build"] if not os.path.isdir(os.path.join(folder, "xafs")) else [])
                + ["xafs_spectrum %d %d %d %d %d spectrum-%05d.csv" % (*region, slice_no, slice_no)])
        jump, x0, z0 = read_map(results, name, "jump", slice_no)
        true_jump, tx0, tz0 = read_map(truth, name, "jump", slice_no)
        e0, _, _ = read_map(results, name, "e0", slice_no)
        true_e0, _, _ = read_map(truth, name, "e0", slice_no)
        true_e0 = true_e0[z0 - tz0:z0 - tz0 + jump.shape[0], x0 - tx0:x0 - tx0 + jump.shape[1]]
        true_jump = true_jump[z0 - tz0:z0 - tz0 + jump.shape[0], x0 - tx0:x0 - tx0 + jump.shape[1]]
        zz, xx = np.mgrid[z0:z0 + jump.shape[0], x0:x0 + jump.shape[1]]
        disc = (xx + 0.5 - c) ** 2 + (zz + 0.5 - c) ** 2 < radius ** 2
        ok = disc & np.isfinite(jump)
        corr = np.corrcoef(jump[ok], true_jump[ok])[0, 1]
        absorber = disc & (true_jump > 0.5 * true_jump.max())
        # The reconstruction spreads a voxel over its neighbours: at the grain's rim a
        # voxel holds part of the matrix's spectrum and a smaller jump.
        padded = np.pad(absorber, 1)
        interior = absorber.copy()
        for dz in (-1, 0, 1):
            for dx in (-1, 0, 1):
                interior &= padded[1 + dz:1 + dz + absorber.shape[0],
                                   1 + dx:1 + dx + absorber.shape[1]]
        errors = np.abs(e0 - geometry["edge_energy"])
        errors = np.where(np.isfinite(errors), errors, np.inf)
        e0_err, e0_inner = errors[absorber], errors[interior]
        true_e0_err = np.abs(true_e0[absorber] - geometry["edge_energy"])
        e, mu, norm = read_csv(os.path.join(results, "xafs", "spectrum-%05d.csv" % slice_no))
        _, true_mu, true_norm = read_csv(os.path.join(truth, "xafs", "spectrum-%05d.csv" % slice_no))
        # The region's mu(E) off the truth, less its mean over the energies (an offset
        # the same at every energy leaves the normalised spectrum as it is), relative
        # to the true mu(E).
        deviation = mu - true_mu
        deviation -= deviation.mean()
        mu_rms = 100.0 * np.sqrt(np.mean((deviation / true_mu) ** 2))
        print("%5d  %10.4f  %6.3f / %5.3f / %5.3f  (%5d)  %6.3f / %5.3f / %5.3f  (%5d)  %10.3f"
              "  %14.4f  %13.2f  %s" % (
                  slice_no, corr, np.median(e0_err), np.percentile(e0_err, 95), e0_err.max(),
                  absorber.sum(), np.median(e0_inner), np.percentile(e0_inner, 95),
                  e0_inner.max(), interior.sum(), np.median(true_e0_err),
                  np.max(np.abs(norm - true_norm)), mu_rms, region))


if __name__ == "__main__":
    sys.exit(main())
