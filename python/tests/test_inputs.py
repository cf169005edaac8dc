"""Arrays go in as files of their sample type would, and bad ones are refused."""

import numpy as np
import pytest
import vorn

from conftest import read_pixels, write_pixels


def plate(dtype, channels, h=40, w=56):
    """A premultiplied plate with gradients, values spread over the type's range."""
    y, x = np.mgrid[0:h, 0:w]
    rgba = np.stack([x / (w - 1), y / (h - 1), (x + y) / (w + h - 2),
                     0.25 + 0.75 * ((x * 7 + y * 3) % 11) / 10], axis=-1)
    rgba[..., :3] *= rgba[..., 3:]
    if channels == 3:
        rgba = rgba[..., :3]
    if dtype == np.float32:
        return np.ascontiguousarray(rgba * 1.5, dtype=np.float32)  # some light above 1
    top = np.iinfo(dtype).max
    return np.ascontiguousarray(np.round(rgba * top), dtype=dtype)


@pytest.mark.parametrize("dtype", [np.uint8, np.uint16, np.float32])
@pytest.mark.parametrize("channels", [3, 4])
def test_array_input_matches_the_same_file(dtype, channels, cli, tmp_path):
    image = plate(dtype, channels)
    path = tmp_path / ("in.exr" if dtype == np.float32 else "in.tif")
    write_pixels(path, image)
    cli("render", "Bleb", "--set", "Scale=0.7", "--input", f"Input={path}",
        "--out", str(tmp_path / "out.tif"))
    op = vorn.Tool("Bleb")
    op["Scale"] = 0.7
    with pytest.warns(UserWarning, match="clipped") if dtype == np.float32 else nullcontext():
        got = op.render(0, inputs={"Input": image})
    np.testing.assert_array_equal(got, read_pixels(tmp_path / "out.tif", np.uint8))


class nullcontext:
    def __enter__(self):
        return self

    def __exit__(self, *exc):
        return False


def with_nan():
    a = plate(np.float32, 4)
    a[3, 5, 1] = np.nan
    return a


def with_inf():
    a = plate(np.float32, 3)
    a[0, 0, 0] = np.inf
    return a


REFUSED = [
    ("not an array", [[1, 2, 3]], TypeError, "numpy array"),
    ("2 dimensions", np.zeros((8, 8), np.uint8), ValueError, "2 dimensions"),
    ("2 channels", np.zeros((8, 8, 2), np.uint8), ValueError, "got 2"),
    ("empty", np.zeros((0, 8, 4), np.uint8), ValueError, "empty"),
    ("int32", np.zeros((8, 8, 4), np.int32), TypeError, "int32"),
    ("float64", np.zeros((8, 8, 4), np.float64), TypeError, "float64"),
    ("non-contiguous", np.zeros((8, 16, 4), np.uint8)[:, ::2], ValueError, "contiguous"),
    ("NaN", with_nan(), ValueError, "row 3, column 5"),
    ("infinity", with_inf(), ValueError, "NaN or infinity"),
]


@pytest.mark.parametrize("what,array,error,text", REFUSED, ids=[r[0] for r in REFUSED])
def test_refused_arrays_raise_naming_the_input(what, array, error, text):
    with pytest.raises(error, match=text) as caught:
        vorn.Tool("Bleb").render(0, inputs={"Input": array})
    assert 'input "Input"' in str(caught.value)


def test_refused_requests_raise():
    op = vorn.Tool("Bleb")
    good = plate(np.uint8, 4)
    cases = [
        (lambda: op.render(0, inputs={"Nope": good}), ValueError, "Nope"),
        (lambda: op.render(0, size=(0, 10)), ValueError, "size"),
        (lambda: op.render(0, size=(70000, 10)), ValueError, "size"),
        (lambda: op.render(0, workers=0), ValueError, "workers"),
        (lambda: op.__setitem__("Nope", 1), KeyError, "Nope"),
        (lambda: op.__setitem__("Scale", 0), ValueError, "Scale"),
        (lambda: op.__setitem__("Fill Option", 3), ValueError, "Fill Option"),
        (lambda: op.__setitem__("Scale", float("nan")), ValueError, "finite"),
        (lambda: op.__setitem__("Fill Option", "Mirror"), ValueError, "Fill Option"),
        (lambda: op.__setitem__("XY Center", (1, 2, 3)), ValueError, "point"),
        (lambda: op.__setitem__("Rotate", object()), TypeError, "control value"),
        (lambda: op.press("Rotate"), ValueError, "not a button"),
        (lambda: op.preset(0), ValueError, "preset"),
        (lambda: op.render_range(5, 4), ValueError, "before"),
        (lambda: vorn.Tool("Nope"), ValueError, "unknown tool"),
        (lambda: vorn.load("/nonexistent.vcomp"), ValueError, "composition"),
        (lambda: vorn.Tool("Bubbles").set_key("Preroll Bubbles", 0, 1), ValueError, "button"),
    ]
    for call, error, text in cases:
        with pytest.raises(error, match=text):
            call()


def test_values_keys_undo_and_redo():
    op = vorn.Tool("Bleb")
    op["Rotate"] = 90
    op["XY Center"] = (0.25, 0.75)
    assert op["Rotate"] == 90 and op["XY Center"] == (0.25, 0.75)
    op.set_key("Rotate", 0, 0)
    op.set_key("Rotate", 10, 100)
    assert op.value("Rotate", 5) == pytest.approx(50)
    assert op.undo() and op.value("Rotate", 10) == 0  # the second key undone: the first holds
    assert op.redo() and op.value("Rotate", 10) == pytest.approx(100)
    while op.undo():
        pass
    assert op["Rotate"] == 0 and op["XY Center"] == (0.5, 0.5)
    controls = {c["caption"]: c for c in op.controls["controls"]}
    assert controls["Fill Option"]["items"] == ["Duplicate Edges", "Black Edges", "Wrap Edges"]
    assert vorn.Tool("Candle").presets and "Bleb" in vorn.tools()
