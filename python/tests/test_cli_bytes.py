"""A render in Python gives the bytes `vorn render` writes for the same settings."""

import numpy as np
import pytest
import vorn

from conftest import read_pixels

SIZE = (96, 64)

# Per tool: settings as Python calls and as the command line's options.
CASES = {
    "Bleb": ([("set", "Rotate", 30), ("set", "XY Center", (0.4, 0.6)),
              ("set", "Fill Option", "Wrap Edges")],
             ["--set", "Rotate=30", "--set", "XY Center=0.4,0.6",
              "--set", "Fill Option=Wrap Edges"]),
    "Candle": ([("preset", 1), ("set", "Turbulence", 70)],
               ["--preset", "1", "--set", "Turbulence=70"]),
    "Bubbles": ([("set", "Bubble Quantity", 200), ("set", "Preroll Frames", 12),
                 ("press", "Preroll Bubbles")],
                ["--set", "Bubble Quantity=200", "--set", "Preroll Frames=12",
                 "--set", "Preroll Bubbles=1"]),
}


def configured(name):
    op = vorn.Tool(name)
    for action, *args in CASES[name][0]:
        if action == "set":
            op[args[0]] = args[1]
        elif action == "preset":
            op.preset(args[0])
        else:
            op.press(args[0])
    return op


@pytest.mark.parametrize("name", sorted(CASES))
def test_frame_matches_cli_tiff_and_exr(name, cli, tmp_path):
    op = configured(name)
    got = op.render(3, size=SIZE)
    assert got.shape == (SIZE[1], SIZE[0], 4) and got.dtype == np.uint8
    size = f"{SIZE[0]}x{SIZE[1]}"
    cli("render", name, "--frame", "3", "--size", size, *CASES[name][1],
        "--out", str(tmp_path / "f.tif"))
    # An 8-bit TIFF holds the tools' bytes, premultiplied.
    np.testing.assert_array_equal(got, read_pixels(tmp_path / "f.tif", np.uint8))

    # Scene-linear floats: as a float EXR of the same frame holds them.
    linear = configured(name).render(3, size=SIZE, linear=True)
    cli("render", name, "--frame", "3", "--size", size, *CASES[name][1],
        "--out", str(tmp_path / "f.exr"), "--bit-depth", "float")
    assert linear.dtype == np.float32
    np.testing.assert_array_equal(linear, read_pixels(tmp_path / "f.exr", np.float32))


def test_sequential_range_steps_from_the_shot_start(cli, tmp_path):
    op = configured("Bubbles")
    frames = list(op.render_range(2, 4, size=SIZE, shot_start=0))
    assert len(frames) == 3
    cli("render", "Bubbles", "--frames", "2-4", "--shot-start", "0",
        "--size", f"{SIZE[0]}x{SIZE[1]}", *CASES["Bubbles"][1],
        "--out", str(tmp_path / "b.#.tif"))
    for frame, got in zip(range(2, 5), frames):
        np.testing.assert_array_equal(got, read_pixels(tmp_path / f"b.{frame:04d}.tif", np.uint8))


def test_saved_composition_renders_as_the_cli_does(cli, tmp_path):
    op = configured("Bleb")
    op.set_key("Rotate", 0, -45)
    op.set_key("Rotate", 10, 45)
    op.save(str(tmp_path / "shot.vcomp"))
    cli("render", "--comp", str(tmp_path / "shot.vcomp"), "--frame", "5",
        "--size", f"{SIZE[0]}x{SIZE[1]}", "--out", str(tmp_path / "c.tif"))
    expected = read_pixels(tmp_path / "c.tif", np.uint8)
    np.testing.assert_array_equal(op.render(5, size=SIZE), expected)
    np.testing.assert_array_equal(vorn.load(str(tmp_path / "shot.vcomp")).render(5, size=SIZE),
                                  expected)
