"""Flows built, saved and loaded in Python render the bytes `vorn render --comp` writes."""

import numpy as np
import pytest
import vorn

from conftest import ROOT, read_pixels, write_pixels


def plate(h=48, w=80):
    """An opaque 8-bit plate with gradients."""
    y, x = np.mgrid[0:h, 0:w]
    rgb = np.stack([x / (w - 1), y / (h - 1), ((x * 5 + y * 3) % 17) / 16], axis=-1)
    rgba = np.concatenate([rgb, np.ones((h, w, 1))], axis=-1)
    return np.ascontiguousarray(np.round(rgba * 255), dtype=np.uint8)


def built_flow(plate_path):
    """Plate -> Bleb; a Candle flame over it; Bubbles over that, simulated from frame 1."""
    flow = vorn.Flow()
    flow.shot = (2, 6, 1)
    read = flow.add("Read", name="Plate", file=str(plate_path))
    warp = flow.add("Bleb", name="Warp", **{"Amplitude 1": 1.5})
    warp.set_key("Rotate", 1, 0)
    warp.set_key("Rotate", 6, 40)
    flame = flow.add("Candle")
    flame.preset(1)
    bubbles = flow.add("Bubbles")
    bubbles["Bubble Quantity"] = 300
    bubbles.press("Preroll Bubbles", frame=1)
    flow.add("Merge", name="Over")
    flow.add("Merge", name="Top", mix=0.75)
    flow.add("Write", file="never/written.####.png")
    flow.connect(read, warp, "Input")
    flow.connect(warp, "Over", "B")
    flow.connect(flame, "Over", "A")
    flow.connect("Over", "Top", "B")
    flow.connect(bubbles, "Top", "A")
    flow.connect("Top", "Write", "Image")
    return flow


def test_built_flow_renders_as_the_cli_does(cli, tmp_path):
    write_pixels(tmp_path / "plate.tif", plate())
    flow = built_flow(tmp_path / "plate.tif")
    saved = tmp_path / "saved.flow.json"
    flow.save(str(saved))
    # Frames 4 and 5 step Bubbles from the simulation start, frame 1.
    cli("render", "--comp", str(saved), "--frames", "4-5", "--out", str(tmp_path / "x.#.tif"))
    cli("render", "--comp", str(saved), "--frame", "5", "--node", "Warp",
        "--out", str(tmp_path / "warp.tif"))
    expected = [read_pixels(tmp_path / f"x.{f:04d}.tif", np.uint8) for f in (4, 5)]
    assert expected[0].shape == (48, 80, 4)
    assert not np.array_equal(expected[0], expected[1])

    np.testing.assert_array_equal(flow.render(5), expected[1])
    np.testing.assert_array_equal(flow.render(5, node="Top"), expected[1])  # what Write is fed
    np.testing.assert_array_equal(flow.render(5, workers=1), expected[1])  # afresh, any workers
    frames = flow.render_range(4, 5)
    assert len(frames) == 2
    for got, want in zip(frames, expected):
        np.testing.assert_array_equal(got, want)
    np.testing.assert_array_equal(flow.render(5, node="Warp"),
                                  read_pixels(tmp_path / "warp.tif", np.uint8))
    # The saved file, loaded, renders the same.
    np.testing.assert_array_equal(vorn.load(str(saved)).render(5), expected[1])

    cli("render", "--comp", str(saved), "--frame", "5", "--out", str(tmp_path / "x.exr"),
        "--bit-depth", "float")
    np.testing.assert_array_equal(flow.render(5, linear=True),
                                  read_pixels(tmp_path / "x.exr", np.float32))


def test_a_press_without_a_frame_acts_at_the_first_step(tmp_path):
    flows = []
    for frame in (None, 1):
        flow = vorn.Flow()
        flow.shot = (3, 4, 1)
        node = flow.add("Bubbles", **{"Bubble Quantity": 300, "Preroll Frames": 15})
        node.press("Preroll Bubbles", frame=frame)
        flows.append(flow)
    pressed_later, pressed_at_1 = (f.render(3, size=(64, 48)) for f in flows)
    np.testing.assert_array_equal(pressed_later, pressed_at_1)
    for i, flow in enumerate(flows):
        flow.save(str(tmp_path / f"{i}.flow.json"))
    assert (tmp_path / "0.flow.json").read_text() == (tmp_path / "1.flow.json").read_text()


def test_example_flow_renders_as_the_cli_does(cli, tmp_path):
    example = ROOT / "examples/plate-flame-bubbles.flow.json"
    flow = vorn.load(str(example))
    assert isinstance(flow, vorn.Flow)
    assert [n.name for n in flow.nodes] == ["Plate", "Flame", "Bubbles", "Over", "Out"]
    assert flow.shot == (1, 48, 1) and flow.size == (640, 360)
    cli("render", "--comp", str(example), "--frame", "3", "--out", str(tmp_path / "e.tif"))
    np.testing.assert_array_equal(flow.render(3), read_pixels(tmp_path / "e.tif", np.uint8))


def test_values_and_settings_round_trip_through_the_file(tmp_path):
    flow = vorn.Flow()
    flow.shot = (10, 20)
    flow.size = (64, 32)
    read = flow.add("Read", file="plate.####.exr", frame_offset=-9, missing_frame="nearest",
                    colorspace="linear")
    warp = flow.add("Bleb")
    warp["XY Center"] = (0.25, 0.75)
    warp["Fill Option"] = "Wrap Edges"
    warp.set_key("Rotate", 10, -30)
    warp.set_key("Rotate", 20, 30)
    merge = flow.add("Merge", operation="screen", mix=0.5)
    flow.connect(read, warp, "Input")
    flow.connect(warp, merge, "A")
    warp.name = "Warp"
    flow.save(str(tmp_path / "a.flow.json"))

    back = vorn.load(str(tmp_path / "a.flow.json"))
    assert back.shot == (10, 20, 10) and back.size == (64, 32)
    assert back.connections == [("Read", "Warp", "Input"), ("Warp", "Merge", "A")]
    assert back["Read"].settings == {"file": "plate.####.exr", "frame_offset": -9,
                                     "colorspace": "linear", "layer": "",
                                     "missing_frame": "nearest"}
    assert (back["Merge"].operation, back["Merge"].mix) == ("screen", 0.5)
    node = back["Warp"]
    assert node["XY Center"] == pytest.approx((0.25, 0.75))
    assert node.value("Rotate", 15) == pytest.approx(0.0)
    assert node.value("Rotate", 20) == pytest.approx(30.0)
    assert node["Fill Option"] == warp["Fill Option"]
    back.save(str(tmp_path / "b.flow.json"))
    assert (tmp_path / "a.flow.json").read_text() == (tmp_path / "b.flow.json").read_text()

    # A composition of one tool still loads as an operator.
    vorn.Tool("Bleb").save(str(tmp_path / "one.vcomp"))
    assert isinstance(vorn.load(str(tmp_path / "one.vcomp")), vorn.Tool)


def small_flow():
    flow = vorn.Flow()
    flow.add("Bleb", name="A")
    flow.add("Bleb", name="B")
    flow.add("Merge", name="M")
    flow.connect("A", "B", "Input")
    flow.connect("B", "M", "B")
    return flow


REFUSED = [
    ("a loop", lambda f: f.connect("M", "A", "Input"), ValueError, "would close a loop"),
    ("unknown input", lambda f: f.connect("A", "M", "C"), ValueError, "no image input \"C\""),
    ("unknown node", lambda f: f.connect("Z", "M", "A"), ValueError, "no node is named \"Z\""),
    ("name taken", lambda f: f.add("Candle", name="A"), ValueError, "already a node named"),
    ("unknown class", lambda f: f.add("Nothing"), ValueError, "Read, Merge and Write"),
    ("Read without file", lambda f: f.add("Read"), TypeError, "needs file="),
    ("mix out of range", lambda f: f.add("Merge", mix=2), ValueError, "mix must be"),
    ("bad operation", lambda f: setattr(f["M"], "operation", "add"), ValueError, "over, under"),
    ("setting of another kind", lambda f: setattr(f["M"], "file", "x.png"), AttributeError,
     "no setting \"file\""),
    ("controls of a Merge", lambda f: f["M"].__setitem__("Rotate", 3), TypeError, "no controls"),
    ("unknown caption", lambda f: f["A"].__setitem__("Nope", 3), KeyError, "Nope"),
    ("unknown node to render", lambda f: f.render(0, node="Z"), ValueError, "nodes: \"A\""),
    ("shot backwards", lambda f: setattr(f, "shot", (5, 1)), ValueError, "before \"first\""),
    ("simulation after the frame", lambda f: (f.add("Bubbles"), setattr(f, "shot", (3, 9, 2)),
                                              f.render(1)), ValueError, "simulation starts"),
]


@pytest.mark.parametrize("case", REFUSED, ids=[c[0] for c in REFUSED])
def test_refused_edits_and_requests_raise(case):
    _, act, error, message = case
    flow = small_flow()
    with pytest.raises(error, match=message.replace("(", r"\(")):
        act(flow)
    assert flow.connections == [("A", "B", "Input"), ("B", "M", "B")]
    assert len(flow) in (3, 4)
