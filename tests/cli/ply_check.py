"""Reads the point clouds of quillmere-cli with an independent reader (numpy): the header's
vertex count and properties, the records of the binary form and the text form alike."""
import os
import subprocess
import sys
import tempfile

import numpy as np

VERTEX = np.dtype([("x", "<f4"), ("y", "<f4"), ("z", "<f4"),
                   ("red", "u1"), ("green", "u1"), ("blue", "u1")])


def read_ply(path):
    with open(path, "rb") as f:
        assert f.readline() == b"ply\n", "not a PLY file"
        fmt, count, properties = None, None, []
        while True:
            words = f.readline().decode("ascii").split()
            if words[0] == "end_header":
                break
            if words[0] == "format":
                fmt = words[1]
            elif words[:2] == ["element", "vertex"]:
                count = int(words[2])
            elif words[0] == "property":
                properties.append((words[1], words[2]))
        assert properties == [("float", "x"), ("float", "y"), ("float", "z"),
                              ("uchar", "red"), ("uchar", "green"), ("uchar", "blue")], properties
        if fmt == "binary_little_endian":
            body = f.read()
            assert len(body) == count * VERTEX.itemsize, (len(body), count)
            return count, np.frombuffer(body, dtype=VERTEX)
        assert fmt == "ascii", fmt
        table = np.loadtxt(f, dtype=np.float64, ndmin=2)
        records = np.zeros(len(table), dtype=VERTEX)
        for k, name in enumerate(VERTEX.names):
            records[name] = table[:, k]
        return count, records


def main():
    cli, lorenz = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as folder:
        # The Lorenz example at the default count, in Gaz: grey.
        binary = os.path.join(folder, "lorenz.ply")
        subprocess.run([cli, "points", lorenz, "-o", binary, "--seed", "1", "--quiet"],
                       check=True, stdout=subprocess.DEVNULL)
        count, cloud = read_ply(binary)
        assert count == 1000000 and len(cloud) == count, (count, len(cloud))
        xyz = np.stack([cloud["x"], cloud["y"], cloud["z"]], axis=1)
        assert np.isfinite(xyz).all()
        # The Lorenz attractor's wings: x and y within about +-30, z from 0 to 60, both signs of x.
        assert np.abs(xyz[:, :2]).max() < 40 and xyz[:, 2].min() > -1 and xyz[:, 2].max() < 70
        assert (xyz[:, 0] > 5).any() and (xyz[:, 0] < -5).any()
        assert (cloud["red"] == cloud["green"]).all() and (cloud["green"] == cloud["blue"]).all()
        assert len(np.unique(cloud["red"])) > 20

        # The text form of the first points, in Lumière: the same records.
        text = os.path.join(folder, "lorenz-text.ply")
        light = os.path.join(folder, "lorenz-light.ply")
        for out, extra in ((text, ["--ascii"]), (light, [])):
            subprocess.run([cli, "points", lorenz, "-o", out, "--seed", "1", "--quiet",
                            "--count", "5000", "--mode", "Lumière"] + extra,
                           check=True, stdout=subprocess.DEVNULL)
        count_t, from_text = read_ply(text)
        count_b, from_binary = read_ply(light)
        assert count_t == count_b == 5000
        assert (from_text == from_binary).all()
        assert (from_binary[["x", "y", "z"]] == cloud[:5000][["x", "y", "z"]]).all()
        assert not (from_binary["red"] == from_binary["blue"]).all(), "Lumière gave grey"
    print("ply_check: ok")


if __name__ == "__main__":
    main()
