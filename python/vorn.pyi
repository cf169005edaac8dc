"""The vorn tools from Python: operators and flows rendering frames to numpy arrays."""

from typing import Any, Iterator, Mapping, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

Value = Union[bool, int, float, str, Tuple[float, float], Sequence[float]]
Image = npt.NDArray[Any]

def tools() -> list[str]:
    """The names of the tools the loaded plug-ins register, in name order."""

def plugin_folders() -> list[str]:
    """The folders plug-ins were looked for in."""

def load(path: str) -> Union[Tool, Flow]:
    """A saved file, recognised by its content: a flow file (JSON text) as a Flow;
    a composition of one tool (a .vcomp file) as an operator with its values."""

class FrameRange(Iterator[Image]):
    def __iter__(self) -> FrameRange: ...
    def __next__(self) -> Image: ...
    def __len__(self) -> int: ...

class Tool:
    """An operator of one tool, made with the tool's default values."""

    def __init__(self, name: str) -> None: ...
    @property
    def name(self) -> str: ...
    @property
    def class_name(self) -> str: ...
    @property
    def sequential(self) -> bool: ...
    @property
    def controls(self) -> dict[str, Any]:
        """The controls as `vorn controls --json` describes them."""
    @property
    def image_inputs(self) -> list[str]: ...
    @property
    def presets(self) -> list[str]: ...
    def __setitem__(self, caption: str, value: Value) -> None:
        """Sets a control as `vorn render --set CAPTION=VALUE` does."""
    def __getitem__(self, caption: str) -> Union[float, int, Tuple[float, float]]: ...
    def value(self, caption: str, frame: float = 0.0) -> Union[float, int, Tuple[float, float]]: ...
    def set_key(self, caption: str, frame: float, value: Value) -> None:
        """Adds or replaces the key at `frame`, keeping the other keys."""
    def press(self, caption: str, frame: Optional[float] = None) -> None:
        """Presses a button at `frame` (`--set CAPTION=1@FRAME`); without a frame, at the next
        frame rendered, as `--set CAPTION=1` presses at the first frame of a run."""
    def preset(self, item: Union[int, str]) -> None:
        """Chooses a demonstration preset, as `--preset` does."""
    def undo(self) -> bool: ...
    def redo(self) -> bool: ...
    def save(self, path: str) -> None:
        """Writes the operator as a composition file."""
    def render(
        self,
        frame: int = 0,
        inputs: Optional[Mapping[str, Image]] = None,
        size: Optional[Tuple[int, int]] = None,
        linear: bool = False,
        workers: Optional[int] = None,
    ) -> Image:
        """One frame as an H x W x 4 RGBA array: uint8 sRGB, or float32
        scene-linear with `linear`; premultiplied."""
    def render_range(
        self,
        first: int,
        last: int,
        inputs: Optional[Mapping[str, Image]] = None,
        size: Optional[Tuple[int, int]] = None,
        linear: bool = False,
        workers: Optional[int] = None,
        shot_start: Optional[int] = None,
    ) -> FrameRange:
        """Frames first..last; a sequential tool steps from shot_start."""

class FlowFrames(Iterator[Image]):
    def __iter__(self) -> FlowFrames: ...
    def __next__(self) -> Image: ...
    def __len__(self) -> int: ...

class Node:
    """A node of a flow. A tool node takes values as an operator does; the host's
    nodes have their settings as attributes (Read: file, frame_offset, colorspace,
    layer, missing_frame; Merge: operation, mix; Write: file, compression,
    bit_depth, colorspace)."""

    name: str
    """Setting it renames the node; its connections follow."""
    @property
    def class_name(self) -> str:
        """"Read", "Merge", "Write", or the tool's class name."""
    @property
    def inputs(self) -> list[str]:
        """Captions of the node's image inputs, in order."""
    @property
    def settings(self) -> dict[str, Union[str, int, float]]:
        """A Read, Merge or Write node's settings (empty for a tool node)."""
    @property
    def sequential(self) -> bool: ...
    @property
    def controls(self) -> dict[str, Any]: ...
    @property
    def presets(self) -> list[str]: ...
    def __setitem__(self, caption: str, value: Value) -> None: ...
    def __getitem__(self, caption: str) -> Union[float, int, Tuple[float, float]]: ...
    def value(self, caption: str, frame: float = 0.0) -> Union[float, int, Tuple[float, float]]: ...
    def set_key(self, caption: str, frame: float, value: Value) -> None: ...
    def press(self, caption: str, frame: Optional[float] = None) -> None:
        """Presses a button at `frame`; without one, at the first frame the next
        render steps through."""
    def preset(self, item: Union[int, str]) -> None: ...
    def undo(self) -> bool: ...
    def redo(self) -> bool: ...
    # Read
    file: str
    frame_offset: int
    colorspace: str
    layer: str
    missing_frame: str
    # Merge
    operation: str
    mix: float
    # Write
    compression: str
    bit_depth: str

NodeName = Union[str, Node]

class Flow:
    """Tools and the host's Read, Merge and Write nodes, connected output to image
    input, with a shot; rendered as `vorn render --comp` renders the flow saved."""

    def __init__(self) -> None: ...
    def add(self, class_name: str, name: Optional[str] = None, **settings: Any) -> Node:
        """Adds a Read, Merge, Write (settings as keywords; file= required for Read
        and Write) or tool node (control values by caption as keywords)."""
    def connect(self, source: NodeName, target: NodeName, input: str) -> None:
        """Feeds `source`'s output to image input `input` of `target`; ValueError
        for an unknown node or input, or a connection that would close a loop."""
    def rename(self, node: NodeName, name: str) -> None: ...
    @property
    def nodes(self) -> list[Node]: ...
    def __getitem__(self, name: str) -> Node: ...
    def __len__(self) -> int: ...
    @property
    def connections(self) -> list[Tuple[str, str, str]]:
        """(source, target, input) names."""
    shot: Tuple[int, int, int]
    """(first, last, simulation_start); may be set with (first, last)."""
    size: Optional[Tuple[int, int]]
    """Size of the built-in images, or None: the first Read's, else 1280 x 720."""
    def save(self, path: str) -> None:
        """Writes the flow file (`NAME.flow.json`), whole or not at all."""
    def render(
        self,
        frame: int,
        node: Optional[NodeName] = None,
        size: Optional[Tuple[int, int]] = None,
        linear: bool = False,
        workers: Optional[int] = None,
    ) -> Image:
        """One frame of a node (default: the last Write, else the last node; a
        Write gives its input), sequential nodes stepped from the shot's
        simulation start as `vorn render --comp FLOW --frame N` does."""
    def render_range(
        self,
        first: int,
        last: int,
        node: Optional[NodeName] = None,
        size: Optional[Tuple[int, int]] = None,
        linear: bool = False,
        workers: Optional[int] = None,
    ) -> FlowFrames:
        """Frames first..last of a node, stepped once through the shot."""
