#!/usr/bin/env python3
"""Scan geometry figures end to end: scans written by orvo2demo, reconstructed by
orvo2 -nw through batch scripts, compared with the generator's true slices.
Prints figures; passes or fails nothing.

    bench/geometry_check.py [--build DIR] [--work DIR] [--width W] [--unpadded]

AXIS=X in the environment puts the half acquisition's axis at X (default 0.9 W).

The RMSE is taken in attenuation per pixel (saved value / 2P) inside 0.9 of the
sample's radius, over the middle slice.
"""
import argparse
import json
import math
import os
import struct
import subprocess
import sys


def read_tiff(path):
    data = open(path, 'rb').read()
    offset = struct.unpack_from('<I', data, 4)[0]
    tags = {}
    for i in range(struct.unpack_from('<H', data, offset)[0]):
        tag, kind, count, value = struct.unpack_from('<HHII', data, offset + 2 + 12 * i)
        if kind == 3 and count == 1:
            value = struct.unpack_from('<H', data, offset + 2 + 12 * i + 8)[0]
        tags[tag] = value
    width, height = tags[256], tags[257]
    values = struct.unpack_from('<%df' % (width * height), data, tags[273])
    return width, height, tags.get(286, 0), values


class Scan:
    def __init__(self, args, name, options):
        self.args = args
        self.dir = os.path.join(args.work, name)
        subprocess.run(['rm', '-rf', self.dir], check=True)
        subprocess.run([os.path.join(args.build, 'tools', 'orvo2demo'), '--out', self.dir,
                        '--height', '3', '--energies', '1', '--layout', 'flat'] + options,
                       check=True, stdout=subprocess.DEVNULL)
        self.geometry = json.load(open(os.path.join(self.dir, 'geometry.json')))

    def reconstruct(self, lines, tag):
        results = os.path.join(self.dir, 'res-' + tag)
        os.makedirs(results, exist_ok=True)
        script = os.path.join(self.dir, tag + '.bat')
        with open(script, 'w') as f:
            f.write('\n'.join([
                'ct_rot_ax_is_v 1',
                'seq_exec_dir "%s/proj"' % self.dir,
                'seq_exec_select_i0 "%s/i0" *.img' % self.dir,
                'bg_load "%s/bg/dark-00000.img"' % self.dir,
                'calc_ct2 1', 'ct_auto_exec 1', 'ct_threads 2',
                'ct_filter_padded %d' % (0 if self.args.unpadded else 1),
                'auto_save_data 1', 'auto_save_data_path "%s"' % results,
                'auto_save_data_name demo', 'auto_save_data_format tiff',
                'seq_exec_set'] + lines + ['ct_slice_from 1', 'ct_slice_to 1', 'calc_exec', '']))
        log = subprocess.run([os.path.join(self.args.build, 'orvo2'), '-nw', '-e', '-c',
                              os.path.join(self.dir, 'none.cfg'), '-b', script, '-x'],
                             capture_output=True, text=True).stderr
        tiffs = [f for f in os.listdir(results) if f.endswith('.tif')]
        if len(tiffs) != 1:
            sys.exit('no result in %s:\n%s' % (results, log))
        found = [l for l in log.splitlines() if 'CoR found' in l]
        return read_tiff(os.path.join(results, tiffs[0])), (found[0] if found else '')

    def truth(self):
        t = self.geometry['truth']
        slices, n, _ = t['shape']
        path = os.path.join(self.dir, list(self.geometry['sets'].values())[0]['truth'])
        data = open(path, 'rb').read()
        return n, t.get('centre', self.geometry.get('centre')), struct.unpack_from('<%dd' % (n * n), data, 8 * n * n * 1)

    def sample_radius(self):
        return 0.9 * 0.9 * self.geometry.get('sample_width', self.geometry['n_fft']) / 2


def rmse(result, scan, projections, against=None):
    width, height, x_position, values = result
    n, centre, truth = scan.truth()
    radius = scan.sample_radius()
    total, count = 0.0, 0
    c = width / 2.0
    for z in range(height):
        for x in range(width):
            if math.hypot(x - c, z - c) >= radius:
                continue
            v = values[z * width + x] / (2.0 * projections)
            if against is None:
                tz, tx = int(round(z - c + centre)), int(round(x - c + centre))
                ref = truth[tz * n + tx]
            else:
                ref = against[3][z * width + x] / (2.0 * projections)
            total += (v - ref) ** 2
            count += 1
    return math.sqrt(total / max(count, 1))


def main():
    parser = argparse.ArgumentParser()
    here = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser.add_argument('--build', default=os.path.join(here, 'build'))
    parser.add_argument('--work', default='/tmp/orvo2-geometry-check')
    parser.add_argument('--width', type=int, default=128)
    parser.add_argument('--unpadded', action='store_true')
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    w = args.width
    cor = w / 2 - 0.75
    p = int(math.ceil(1.4 * w))
    print('scan geometry, detector %d, %s ramp, RMSE in attenuation per pixel'
          % (w, 'unpadded' if args.unpadded else 'padded'))

    even = Scan(args, 'even', ['--width', str(w), '--proj', str(p), '--no-noise'])
    e = rmse(even.reconstruct(['ct_cor %g' % cor], 'even')[0], even, p)
    jit = Scan(args, 'jitter', ['--width', str(w), '--proj', str(p), '--no-noise',
                                '--angles-jitter', '0.3'])
    angles = os.path.join(jit.dir, 'angles.txt')
    j = rmse(jit.reconstruct(['ct_cor %g' % cor, 'ct_angles_file %s' % angles], 'given')[0], jit, p)
    ja = rmse(jit.reconstruct(['ct_cor %g' % cor], 'even')[0], jit, p)
    print('jitter +-30 %%, P %d: even scan %.6g; jittered, angles given %.6g (ratio %.4f); '
          'jittered taken as even %.6g' % (p, e, j, j / e, ja))

    drop = Scan(args, 'drop', ['--width', str(w), '--proj', str(p), '--no-noise',
                               '--drop-block', '0.1'])
    angles = os.path.join(drop.dir, 'angles.txt')
    kept = sum(1 for l in open(angles) if l.strip() and not l.startswith('#'))
    dg = rmse(drop.reconstruct(['ct_cor %g' % cor, 'ct_angles_file %s' % angles], 'given')[0],
              drop, kept)
    de = rmse(drop.reconstruct(['ct_cor %g' % cor], 'even')[0], drop, kept)
    print('10 %% of %d frames dropped in a block: remaining angles given %.6g, taken as even %.6g'
          % (p, dg, de))

    results = {}
    for turn, frames in ((180, p), (360, 2 * p)):
        for noise in (False, True):
            scan = Scan(args, 'turn%d%s' % (turn, 'n' if noise else ''),
                        ['--width', str(w), '--proj', str(frames), '--scan-range', str(turn)] +
                        ([] if noise else ['--no-noise']))
            results[turn, noise] = (scan, scan.reconstruct(
                ['ct_cor %g' % cor, 'ct_scan_range %d' % turn], 'r')[0], frames)
    noise = {t: rmse(results[t, True][1], results[t, True][0], results[t, True][2],
                     results[t, False][1]) for t in (180, 360)}
    clean = {t: rmse(results[t, False][1], results[t, False][0], results[t, False][2])
             for t in (180, 360)}
    print('360 degrees at the same step and dose: noise RMSE 180 %.6g, 360 %.6g (ratio %.4f); '
          'noise-free 180 %.6g, 360 %.6g (ratio %.4f)'
          % (noise[180], noise[360], noise[360] / noise[180], clean[180], clean[360],
             clean[360] / clean[180]))

    axis = float(os.environ.get("AXIS", 0.9 * w))
    width = int(2 * math.ceil(max(axis, w - axis)))
    frames = 2 * int(math.ceil(1.4 * width))
    wide = Scan(args, 'wide', ['--width', str(width + 3), '--axis', str(width / 2 + 1),
                               '--sample-width', str(width), '--proj', str(frames // 2),
                               '--no-noise'])
    ew = rmse(wide.reconstruct(['ct_cor %g' % (width / 2 + 1)], 'r')[0], wide, frames // 2)
    for decay in (0.0, 0.02):
        half = Scan(args, 'half%g' % decay, ['--width', str(w), '--axis', str(axis),
                                             '--scan-range', '360', '--proj', str(frames),
                                             '--no-noise', '--beam-decay', str(decay)])
        result, found = half.reconstruct(['ct_scan_range 360', 'ct_cor_auto'], 'r')
        eh = rmse(result, half, frames)
        print('half acquisition, axis %.1f of %d, N %d, P %d, beam falling %g %%: RMSE %.6g '
              'against %.6g of a wide detector (ratio %.4f); %s (true %.2f)'
              % (axis, w, result[0], frames, 100 * decay, eh, ew, eh / ew, found.strip(), axis))


if __name__ == '__main__':
    main()
