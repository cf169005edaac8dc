#!/usr/bin/python3
"""flow.render of a 1920 x 1080 flow against `vorn render --comp FLOW --no-write`.

    PYTHONPATH=build/release/python bench/python/flow_bench.py [FRAMES] [VORN]

The flow: a TIFF plate read, warped by Bleb, a Candle flame over it (Merge
over). Times flow.render of frames 0..FRAMES-1 one call each (the array out
included; every call copies the flow and prepares its nodes afresh, the
plate read again), flow.render_range of the same frames (one copy, the plate
read once), and one `vorn render --comp` run of them (its --stats line: the
run's wall time over its frames).
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

FRAMES = int(sys.argv[1]) if len(sys.argv) > 1 else 10
VORN = sys.argv[2] if len(sys.argv) > 2 else "build/release/bin/vorn"
W, H = 1920, 1080


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
        flow = vorn.Flow()
        flow.shot = (0, FRAMES - 1)
        read = flow.add("Read", file=path)
        warp = flow.add("Bleb", **{"Amplitude 1": 0.8, "Amplitude 2": 0.5})
        flame = flow.add("Candle")
        flame.preset(1)
        flow.add("Merge", name="Over")
        flow.connect(read, warp, "Input")
        flow.connect(warp, "Over", "B")
        flow.connect(flame, "Over", "A")
        saved = os.path.join(tmp, "bench.flow.json")
        flow.save(saved)

        flow.render(0)  # the heap and the pool warm up
        py = []
        for f in range(FRAMES):
            start = time.perf_counter()
            image = flow.render(f)
            py.append((time.perf_counter() - start) * 1000)
            assert image.shape == (H, W, 4)
        ranged = []
        start = time.perf_counter()
        for image in flow.render_range(0, FRAMES - 1):
            ranged.append((time.perf_counter() - start) * 1000)
            start = time.perf_counter()
        done = subprocess.run([VORN, "render", "--comp", saved, "--no-write",
                               "--stats", "--quiet"], capture_output=True, text=True, check=True)
        wall = float(re.search(r"rendered, ([0-9.]+) s", done.stdout).group(1))
    print(f"Read -> Bleb -> Merge over <- Candle, {W}x{H}, {FRAMES} frames, "
          f"NUM_PROC_VORN={os.environ.get('NUM_PROC_VORN', 'unset')}, {os.cpu_count()} processors:")
    print(f"  flow.render, median frame             {statistics.median(py):8.1f} ms")
    print(f"  flow.render_range, median frame       {statistics.median(ranged):8.1f} ms")
    print(f"  vorn render --comp --no-write, frame  {wall * 1000 / FRAMES:8.1f} ms (run mean)")


if __name__ == "__main__":
    main()
