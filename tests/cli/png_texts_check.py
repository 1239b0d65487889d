"""Reads the PNG images of quillmere-cli with an independent decoder (Pillow): the scene
text chunk, the Software and Description texts, and the 16-bit sample depth."""
import os
import struct
import subprocess
import sys
import tempfile

from PIL import Image


def chunks(path):
    with open(path, "rb") as f:
        data = f.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    at = 8
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        yield kind.decode("ascii"), data[at + 8:at + 8 + length]
        at += 12 + length


def main():
    cli, attractor = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as folder:
        images = {}
        for depth in ("8", "16"):
            out = os.path.join(folder, "image%s.png" % depth)
            subprocess.run([cli, "render", attractor, "-o", out, "--mode", "Plasma", "--size", "64x48",
                            "--iterations", "50000", "--seed", "3", "--builtin-gradients", "--depth", depth,
                            "--quiet"], check=True, stdout=subprocess.DEVNULL)
            images[depth] = out
        scenes = set()
        for depth, path in images.items():
            image = Image.open(path)
            image.load()
            scene = image.text.get("quillmere-scene", "")
            assert scene.startswith("attractor {\n\ttype lorenz\n"), scene[:40]
            assert "\nrender {\n\tversion 1\n\tmode plasma\n\twidth 64\n\theight 48\n" in scene, scene
            assert image.text.get("Software", "").startswith("Quillmere "), image.text
            assert "lorenz" in image.text.get("Description", ""), image.text
            assert image.size == (64, 48)
            scenes.add(scene)
            kinds = [k for k, _ in chunks(path)]
            assert any(k in ("tEXt", "zTXt", "iTXt") for k in kinds), kinds
            ihdr = dict(chunks(path))["IHDR"]
            bit_depth = ihdr[8]
            assert bit_depth == int(depth), (depth, bit_depth)
        # Both depths carry the one scene they were rendered from.
        assert len(scenes) == 1
    print("PNG texts read back by Pillow")


if __name__ == "__main__":
    main()
