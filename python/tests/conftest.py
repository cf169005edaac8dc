"""Shared helpers: the built `vorn` binary and image files read back."""

import os
import subprocess
from pathlib import Path

import numpy as np
import OpenImageIO as oiio
import pytest

ROOT = Path(__file__).resolve().parents[2]


@pytest.fixture(scope="session")
def vorn_bin():
    path = os.environ.get("VORN_BIN", str(ROOT / "build/release/bin/vorn"))
    if not os.access(path, os.X_OK):
        pytest.skip(f"no vorn binary at {path}")
    return path


@pytest.fixture(scope="session")
def cli(vorn_bin):
    def run(*args):
        done = subprocess.run([vorn_bin, *args, "--quiet"], capture_output=True, text=True)
        assert done.returncode == 0, done.stderr
    return run


def read_pixels(path, dtype):
    """A file's pixels as stored, H x W x C, without any conversion."""
    buf = oiio.ImageBuf(str(path))
    pixels = buf.get_pixels(oiio.UINT8 if dtype == np.uint8 else oiio.FLOAT)
    assert pixels is not None, buf.geterror()
    return np.asarray(pixels, dtype=dtype)


def write_pixels(path, array):
    """Writes an array as a file of its sample type (alpha premultiplied)."""
    kinds = {np.dtype(np.uint8): oiio.UINT8, np.dtype(np.uint16): oiio.UINT16,
             np.dtype(np.float32): oiio.FLOAT}
    h, w, c = array.shape
    layout = oiio.ImageSpec(w, h, c, kinds[array.dtype])
    out = oiio.ImageOutput.create(str(path))
    assert out.open(str(path), layout), out.geterror()
    assert out.write_image(array), out.geterror()
    out.close()
