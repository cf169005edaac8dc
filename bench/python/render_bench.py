#!/usr/bin/python3
"""op.render of Bleb at 1920 x 1080 against `vorn render --no-write`.

    PYTHONPATH=build/release/python bench/python/render_bench.py [ROUNDS] [VORN]

Each round times one Python render (a uint8 plate in as a numpy array, the
array out included) and one `vorn render` run of the same frame with the same
plate as a TIFF, alternated so that a busy spell on a shared machine hits both.
Prints the medians: the Python call, the CLI's own render time of the frame
(its --stats line) and the CLI process from start to end; then the median
frame of one `vorn render` run of ROUNDS frames (a warm process, as the
Python one is).
"""

import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np
import OpenImageIO as oiio
import vorn

ROUNDS = int(sys.argv[1]) if len(sys.argv) > 1 else 20
VORN = sys.argv[2] if len(sys.argv) > 2 else "build/release/bin/vorn"
W, H = 1920, 1080
LOBES = {f"Amplitude {i}": a for i, a in enumerate([0.5, 0.8, 0.3, 1.0, 0.6, 0.4, 0.7], 1)}


def main():
    y, x = np.mgrid[0:H, 0:W]
    plate = np.stack([x * 255 // W, y * 255 // H, (x + y) % 256, np.full_like(x, 255)],
                     axis=-1).astype(np.uint8)
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "plate.tif")
        out = oiio.ImageOutput.create(path)
        out.open(path, oiio.ImageSpec(W, H, 4, oiio.UINT8))
        out.write_image(plate)
        out.close()
        op = vorn.Tool("Bleb")
        for caption, value in LOBES.items():
            op[caption] = value
        cli = [VORN, "render", "Bleb", "--input", f"Input={path}", "--frame", "0",
               "--no-write", "--stats", "--quiet"]
        for caption, value in LOBES.items():
            cli += ["--set", f"{caption}={value}"]
        op.render(0, inputs={"Input": plate})  # the heap and the pool warm up
        py, cli_render, cli_wall = [], [], []
        for _ in range(ROUNDS):
            start = time.perf_counter()
            image = op.render(0, inputs={"Input": plate})
            py.append((time.perf_counter() - start) * 1000)
            assert image.shape == (H, W, 4)
            start = time.perf_counter()
            done = subprocess.run(cli, capture_output=True, text=True, check=True)
            cli_wall.append((time.perf_counter() - start) * 1000)
            found = re.search(r"render ([0-9.]+) ms/frame", done.stdout + done.stderr)
            cli_render.append(float(found.group(1)))
        steady_cli = [a if a != "0" else f"0-{ROUNDS - 1}" for a in cli]
        steady_cli[steady_cli.index("--frame")] = "--frames"
        done = subprocess.run(steady_cli, capture_output=True, text=True, check=True)
        steady = float(re.search(r"median ([0-9.]+) ms", done.stdout + done.stderr).group(1))
    print(f"Bleb {W}x{H}, {ROUNDS} rounds, medians:")
    print(f"  op.render (array in and out)       {statistics.median(py):8.1f} ms")
    print(f"  vorn render --no-write, render     {statistics.median(cli_render):8.1f} ms")
    print(f"  vorn render --no-write, process    {statistics.median(cli_wall):8.1f} ms")
    print(f"  vorn render --no-write --frames 0-{ROUNDS - 1}, median frame "
          f"{steady:8.1f} ms")


if __name__ == "__main__":
    main()
