#!/usr/bin/python3
"""The quality yardstick for `bench/compare --jobs palette`: the same printable-palette job done
with scikit-learn's KMeans (k-means++, n_init=10) in CIELAB over the distinct colours weighted
by area, then every colour snapped to the nearest centre (rounded to 8 bits) by CIEDE2000.

    sklearn_palette.py generate FACES STEM   # STEM.ply: quads, ~200,000 scan-like shades
    sklearn_palette.py reduce IN.ply K       # prints the area-weighted mean CIEDE2000
"""

import sys

import numpy as np
from sklearn.cluster import KMeans

from numpy_baseline import FACE, grid, read_ply

SHADES = 200_000
PAINTS = np.array([[0.85, 0.15, 0.15], [0.20, 0.65, 0.25], [0.15, 0.30, 0.80],
                   [0.95, 0.85, 0.20], [0.80, 0.80, 0.78], [0.12, 0.12, 0.12],
                   [0.55, 0.20, 0.70], [0.10, 0.60, 0.65]])


def generate(faces, stem):
    rng = np.random.default_rng(faces)
    points, quads = grid(faces)
    paint = PAINTS[np.arange(SHADES) % 8]
    light = rng.uniform(0.7, 1.3, size=(SHADES, 1))
    shades = np.clip(paint * light + rng.normal(0, 10 / 255, size=(SHADES, 3)), 0, 1)
    shades = np.rint(shades * 255).astype(np.uint8)
    rgb = shades[(np.arange(faces, dtype=np.int64) * 7919) % SHADES]
    rows = np.zeros(faces, dtype=FACE)
    rows["n"], rows["v"] = 4, quads
    rows["r"], rows["g"], rows["b"] = rgb[:, 0], rgb[:, 1], rgb[:, 2]
    with open(stem + ".ply", "wb") as f:
        f.write(("ply\nformat binary_little_endian 1.0\nelement vertex %d\nproperty float x\n"
                 "property float y\nproperty float z\nelement face %d\n"
                 "property list uchar int vertex_indices\nproperty uchar red\n"
                 "property uchar green\nproperty uchar blue\nend_header\n"
                 % (len(points), faces)).encode())
        f.write(points.astype("<f4").tobytes())
        f.write(rows.tobytes())


def lab(rgb):
    c = rgb / 255.0
    lin = np.where(c <= 0.04045, c / 12.92, ((c + 0.055) / 1.055) ** 2.4)
    m = np.array([[0.4124564, 0.3575761, 0.1804375], [0.2126729, 0.7151522, 0.0721750],
                  [0.0193339, 0.1191920, 0.9503041]])
    xyz = lin @ m.T / np.array([0.95047, 1.0, 1.08883])
    d = 6 / 29
    f = np.where(xyz > d ** 3, np.cbrt(xyz), xyz / (3 * d * d) + 4 / 29)
    return np.stack([116 * f[:, 1] - 16, 500 * (f[:, 0] - f[:, 1]), 200 * (f[:, 1] - f[:, 2])], 1)


def srgb8(lab_rows):
    fy = (lab_rows[:, 0] + 16) / 116
    f = np.stack([fy + lab_rows[:, 1] / 500, fy, fy - lab_rows[:, 2] / 200], 1)
    d = 6 / 29
    xyz = np.where(f > d, f ** 3, 3 * d * d * (f - 4 / 29)) * np.array([0.95047, 1.0, 1.08883])
    m = np.array([[3.2404542, -1.5371385, -0.4985314], [-0.9692660, 1.8760108, 0.0415560],
                  [0.0556434, -0.2040259, 1.0572252]])
    lin = np.clip(xyz @ m.T, 0, 1)
    s = np.where(lin <= 0.0031308, 12.92 * lin, 1.055 * lin ** (1 / 2.4) - 0.055)
    return np.rint(np.clip(s, 0, 1) * 255)


def ciede2000(x, y):
    """CIEDE2000 between rows of x and the single colour y, the textbook way."""
    L1, a1, b1 = x[:, 0], x[:, 1], x[:, 2]
    L2, a2, b2 = y
    cbar = (np.hypot(a1, b1) + np.hypot(a2, b2)) / 2
    g = 0.5 * (1 - np.sqrt(cbar ** 7 / (cbar ** 7 + 25.0 ** 7)))
    a1p, a2p = (1 + g) * a1, (1 + g) * a2
    c1p, c2p = np.hypot(a1p, b1), np.hypot(a2p, b2)
    h1p = np.degrees(np.arctan2(b1, a1p)) % 360
    h2p = np.degrees(np.arctan2(b2, a2p)) % 360
    dl, dc = L2 - L1, c2p - c1p
    dh = h2p - h1p
    dh = np.where(dh > 180, dh - 360, np.where(dh < -180, dh + 360, dh))
    dh = np.where(c1p * c2p == 0, 0, dh)
    dH = 2 * np.sqrt(c1p * c2p) * np.sin(np.radians(dh) / 2)
    lbar, cpbar = (L1 + L2) / 2, (c1p + c2p) / 2
    hsum = h1p + h2p
    hbar = np.where(np.abs(h1p - h2p) <= 180, hsum / 2,
                    np.where(hsum < 360, (hsum + 360) / 2, (hsum - 360) / 2))
    hbar = np.where(c1p * c2p == 0, hsum, hbar)
    t = (1 - 0.17 * np.cos(np.radians(hbar - 30)) + 0.24 * np.cos(np.radians(2 * hbar))
         + 0.32 * np.cos(np.radians(3 * hbar + 6)) - 0.20 * np.cos(np.radians(4 * hbar - 63)))
    dtheta = 30 * np.exp(-((hbar - 275) / 25) ** 2)
    rc = 2 * np.sqrt(cpbar ** 7 / (cpbar ** 7 + 25.0 ** 7))
    sl = 1 + 0.015 * (lbar - 50) ** 2 / np.sqrt(20 + (lbar - 50) ** 2)
    sc, sh = 1 + 0.045 * cpbar, 1 + 0.015 * cpbar * t
    rt = -np.sin(np.radians(2 * dtheta)) * rc
    return np.sqrt((dl / sl) ** 2 + (dc / sc) ** 2 + (dH / sh) ** 2 + rt * (dc / sc) * (dH / sh))


def reduce(path, k):
    points, quads, keys = read_ply(path)
    p = points[quads]
    area = 0.5 * np.linalg.norm(np.cross(p[:, 2] - p[:, 0], p[:, 3] - p[:, 1]), axis=1)
    distinct, inverse = np.unique(keys, return_inverse=True)
    weight = np.bincount(inverse, weights=area, minlength=len(distinct))
    rgb = np.stack([(distinct >> 16) & 255, (distinct >> 8) & 255, distinct & 255], 1)
    points_lab = lab(rgb.astype(np.float64))
    km = KMeans(n_clusters=k, init="k-means++", n_init=10, random_state=0)
    km.fit(points_lab, sample_weight=weight)
    palette = lab(np.unique(srgb8(km.cluster_centers_), axis=0))
    distances = np.stack([ciede2000(points_lab, c) for c in palette], 1).min(axis=1)
    print("%.4f" % (np.sum(distances * weight) / np.sum(weight)))


def main(argv):
    if argv[1] == "generate":
        generate(int(argv[2]), argv[3])
    elif argv[1] == "reduce":
        reduce(argv[2], int(argv[3]))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
