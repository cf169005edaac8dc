"""The vorn tools from Python: operators rendering frames to numpy arrays."""

from typing import Any, Iterator, Mapping, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

Value = Union[bool, int, float, str, Tuple[float, float], Sequence[float]]
Image = npt.NDArray[Any]

def tools() -> list[str]:
    """The names of the tools the loaded plug-ins register, in name order."""

def plugin_folders() -> list[str]:
    """The folders plug-ins were looked for in."""

def load(path: str) -> Tool:
    """An operator with the values of a saved composition (a .vcomp file)."""

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
