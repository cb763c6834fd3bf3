#!/usr/bin/python3
"""The yardstick for bench/compare: a short hand-written numpy pipeline doing the command-line
host's jobs on the quad meshes that bench/compare generates, and the generator of those meshes.

    numpy_baseline.py generate FACES COLOURS STEM [ply]  # STEM.ply, STEM.obj and STEM.mtl
    numpy_baseline.py read IN.ply                   # read only; prints the counts
    numpy_baseline.py obj IN.ply OUT.obj            # group by colour, OBJ + MTL, one g per colour
    numpy_baseline.py json IN.ply OUT.json          # the same groups as JSON geometry
    numpy_baseline.py objobj IN.obj OUT.obj         # OBJ + MTL in, grouped OBJ + MTL out

The reader knows only the layout the generator writes (float x y z; uchar count, four int
indices, uchar red green blue), as a hand-written script for one job would.
"""

import os
import sys

import numpy as np

FACE = np.dtype([("n", "u1"), ("v", "<i4", (4,)), ("r", "u1"), ("g", "u1"), ("b", "u1")])
CHUNK = 200_000


def grid(faces):
    width = 1000
    height = -(-faces // width)
    i = np.arange(faces, dtype=np.int64)
    a = (i // width) * (width + 1) + i % width
    quads = np.stack([a, a + 1, a + width + 2, a + width + 1], axis=1).astype(np.int32)
    xs, ys = np.meshgrid(np.arange(width + 1), np.arange(height + 1))
    points = np.zeros(((width + 1) * (height + 1), 3), dtype=np.float32)
    points[:, 0] = xs.ravel() * 0.5
    points[:, 1] = ys.ravel() * 0.25
    points[:, 2] = (xs.ravel() % 7) * 0.125
    return points, quads


def colour_runs(faces, colours, rng):
    """A palette index per face, in runs of 1 to 15 faces of one colour."""
    lengths = rng.integers(1, 16, size=faces // 4 + 16)
    ends = np.cumsum(lengths)
    runs = int(np.searchsorted(ends, faces)) + 1
    run_colour = rng.integers(0, colours, size=runs)
    return np.repeat(run_colour, lengths[:runs])[:faces]


def write_text(out, fmt, rows):
    """Writes `fmt` once per row, formatting a chunk of rows per % operation."""
    for start in range(0, len(rows), CHUNK):
        chunk = rows[start:start + CHUNK]
        out.write((fmt * len(chunk)) % tuple(chunk.ravel().tolist()))


def generate(faces, colours, stem, ply_only=False):
    rng = np.random.default_rng(faces * 7919 + colours)
    points, quads = grid(faces)
    palette = rng.choice(1 << 24, size=colours, replace=False)
    rgb = np.stack([(palette >> 16) & 255, (palette >> 8) & 255, palette & 255], axis=1)
    # As many colours as faces: every face its own colour, one part per face.
    face_colour = np.arange(faces) if colours >= faces else colour_runs(faces, colours, rng)

    records = np.zeros(faces, dtype=FACE)
    records["n"] = 4
    records["v"] = quads
    records["r"], records["g"], records["b"] = rgb[face_colour].T.astype(np.uint8)
    header = ("ply\nformat binary_little_endian 1.0\nelement vertex %d\n"
              "property float x\nproperty float y\nproperty float z\nelement face %d\n"
              "property list uchar int vertex_indices\nproperty uchar red\n"
              "property uchar green\nproperty uchar blue\nend_header\n") % (len(points), faces)
    with open(stem + ".ply", "wb") as f:
        f.write(header.encode())
        f.write(points.astype("<f4").tobytes())
        f.write(records.tobytes())
    if ply_only:
        return

    name = os.path.basename(stem)
    with open(stem + ".mtl", "w") as f:
        for c in range(colours):
            f.write("newmtl m%d\nKd %.9g %.9g %.9g\n" % ((c,) + tuple(rgb[c] / 255.0)))
    with open(stem + ".obj", "w") as f:
        f.write("mtllib %s.mtl\n" % name)
        write_text(f, "v %g %g %g\n", points)
        starts = np.flatnonzero(np.diff(face_colour, prepend=-1))
        bounds = np.append(starts, faces)
        one_based = quads + 1
        for k in range(0, len(starts), 20_000):
            text = []
            for s, e in zip(bounds[k:k + 20_000], bounds[k + 1:k + 20_001]):
                text.append("usemtl m%d\n" % face_colour[s])
                text.append(("f %d %d %d %d\n" * (e - s)) % tuple(one_based[s:e].ravel().tolist()))
            f.write("".join(text))


def read_ply(path):
    data = np.fromfile(path, dtype=np.uint8)
    end = data[:4096].tobytes().index(b"end_header\n") + len(b"end_header\n")
    counts = {}
    for line in data[:end].tobytes().decode().splitlines():
        words = line.split()
        if words[:1] == ["element"]:
            counts[words[1]] = int(words[2])
    nv, nf = counts["vertex"], counts["face"]
    points = np.frombuffer(data, dtype="<f4", count=3 * nv, offset=end).reshape(nv, 3)
    faces = np.frombuffer(data, dtype=FACE, count=nf, offset=end + 12 * nv)
    if np.any(faces["n"] != 4):
        sys.exit("only quads")
    keys = (faces["r"].astype(np.int32) << 16) | (faces["g"].astype(np.int32) << 8) | faces["b"]
    return points, faces["v"], keys


def group(keys):
    """Distinct colours in key order, and the faces of each colour in file order."""
    distinct, inverse = np.unique(keys, return_inverse=True)
    order = np.argsort(inverse, kind="stable")
    counts = np.bincount(inverse, minlength=len(distinct))
    return distinct, order, np.concatenate([[0], np.cumsum(counts)])


def kd(key):
    return ((key >> 16) & 255) / 255.0, ((key >> 8) & 255) / 255.0, (key & 255) / 255.0


def write_obj(path, points, quads, distinct, order, bounds):
    stem = os.path.splitext(path)[0]
    with open(stem + ".mtl", "w") as f:
        for c, key in enumerate(distinct):
            f.write("newmtl colour_%d\nKd %.9g %.9g %.9g\n" % ((c,) + kd(int(key))))
    with open(path, "w") as f:
        f.write("mtllib %s.mtl\n" % os.path.basename(stem))
        write_text(f, "v %.9g %.9g %.9g\n", points)
        one_based = quads + 1
        for c in range(len(distinct)):
            f.write("g group%d\nusemtl colour_%d\n" % (c + 1, c))
            write_text(f, "f %d %d %d %d\n", one_based[order[bounds[c]:bounds[c + 1]]])


def write_json(path, points, quads, keys, distinct, order, bounds):
    def rows(out, fmt, array, last):
        for start in range(0, len(array), CHUNK):
            chunk = array[start:start + CHUNK]
            text = (fmt * len(chunk)) % tuple(chunk.ravel().tolist())
            out.write(text[:-2] + last if start + CHUNK >= len(array) else text)

    colours = np.stack(kd(keys), axis=1)
    with open(path, "w") as f:
        f.write('{\n  "points": [\n')
        rows(f, "    [%.9g, %.9g, %.9g],\n", points, "\n  ],\n")
        f.write('  "primitives": [\n')
        rows(f, "    [%d, %d, %d, %d],\n", quads, "\n  ],\n")
        f.write('  "primitive_attributes": {\n    "Cd": {"type": "float", "size": 3, "values": [\n')
        rows(f, "[%.9g, %.9g, %.9g],\n", colours, "]}\n  },\n")
        f.write('  "detail_attributes": {},\n  "primitive_groups": {\n')
        for c in range(len(distinct)):
            members = np.sort(order[bounds[c]:bounds[c + 1]])
            f.write('    "group%d": [%s]%s\n' % (c + 1, ", ".join(map(str, members.tolist())),
                                                 "," if c + 1 < len(distinct) else ""))
        f.write("  }\n}\n")


def read_obj(path):
    folder = os.path.dirname(path)
    with open(path, "rb") as f:
        lines = f.read().split(b"\n")
    kinds = np.array([line[:2] for line in lines])
    v_lines = np.flatnonzero(kinds == b"v ")
    f_lines = np.flatnonzero(kinds == b"f ")
    u_lines = np.flatnonzero(kinds == b"us")
    points = np.array(b" ".join(lines[i][2:] for i in v_lines).split(), dtype=np.float32)
    quads = np.array(b" ".join(lines[i][2:] for i in f_lines).split(), dtype=np.int32)
    materials = [lines[i].split()[1] for i in u_lines]
    face_material = np.searchsorted(u_lines, f_lines) - 1

    library = next(line.split()[1] for line in lines if line.startswith(b"mtllib"))
    kd_of = {}
    with open(os.path.join(folder, library.decode()), "rb") as f:
        name = None
        for line in f.read().split(b"\n"):
            words = line.split()
            if words[:1] == [b"newmtl"]:
                name = words[1]
            elif words[:1] == [b"Kd"]:
                rgb = [int(round(float(w) * 255)) for w in words[1:4]]
                kd_of[name] = (rgb[0] << 16) | (rgb[1] << 8) | rgb[2]
    material_keys = np.array([kd_of[m] for m in materials], dtype=np.int32)
    return points.reshape(-1, 3), quads.reshape(-1, 4) - 1, material_keys[face_material]


def main(argv):
    job = argv[1]
    if job == "generate":
        generate(int(argv[2]), int(argv[3]), argv[4], argv[5:] == ["ply"])
    elif job == "read":
        points, quads, keys = read_ply(argv[2])
        print(len(points), "points", len(quads), "faces", len(np.unique(keys)), "colours")
    elif job in ("obj", "json"):
        points, quads, keys = read_ply(argv[2])
        distinct, order, bounds = group(keys)
        if job == "obj":
            write_obj(argv[3], points, quads, distinct, order, bounds)
        else:
            write_json(argv[3], points, quads, keys, distinct, order, bounds)
    elif job == "objobj":
        points, quads, keys = read_obj(argv[2])
        distinct, order, bounds = group(keys)
        write_obj(argv[3], points, quads, distinct, order, bounds)
    else:
        sys.exit("unknown job " + job)


if __name__ == "__main__":
    main(sys.argv)
