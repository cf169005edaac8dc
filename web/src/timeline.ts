// The timeline under the viewer: the frame slider across the viewer's width
// with the keys of the selected control marked on it (and, faintly, those of
// every animated control), jumps to the previous and next key, a typed frame
// number, and playback at a chosen rate that loops or bounces.
import type { State } from "./api.js";

export type PlayMode = "loop" | "bounce";

// The frame due `elapsedMs` after playback started at `start`, at `fps`,
// in the range first..last: frames the viewer could not show in time are
// dropped rather than played late.
export function dueFrame(start: number, first: number, last: number, fps: number, mode: PlayMode, elapsedMs: number): number {
  const span = last - first;
  if (span <= 0) return first;
  const steps = Math.floor((elapsedMs * fps) / 1000) + (start - first);
  if (mode === "loop") return first + (steps % (span + 1));
  const cycle = steps % (2 * span);
  return first + (cycle <= span ? cycle : 2 * span - cycle);
}

// Key frames of one control, or of every animated control, sorted.
function keysOf(state: State, id: string | null): number[] {
  const ids = id ? [id] : Object.keys(state.values);
  const keys = new Set<number>();
  for (const i of ids) {
    const v = state.values[i];
    if (v?.animated) for (const k of v.keys) keys.add(k);
  }
  return [...keys].sort((a, b) => a - b);
}

export interface TimelineEvents {
  seek(time: number): void;
}

export class Timeline {
  private first = 0;
  private last = 0;
  private state: State | null = null;
  private selected: string | null = null;
  private playStart = 0;
  private playFrom = 0;
  private timer = 0;
  playing = false;

  constructor(
    private readonly slider: HTMLInputElement,
    private readonly marks: HTMLElement,
    private readonly field: HTMLInputElement,
    private readonly events: TimelineEvents,
  ) {
    slider.addEventListener("input", () => events.seek(Number(slider.value)));
    field.addEventListener("change", () => {
      const t = Number(field.value.trim());
      if (field.value.trim() !== "" && Number.isInteger(t)) events.seek(t);
      else field.value = slider.value;
    });
    field.addEventListener("keydown", (e) => {
      if (e.key === "Enter") field.dispatchEvent(new Event("change"));
    });
  }

  setRange(first: number, last: number): void {
    this.first = first;
    this.last = last;
    this.slider.min = String(first);
    this.slider.max = String(last);
    this.draw();
  }

  // The control whose keys are marked and jumped between (null: every animated control).
  select(id: string | null): void {
    this.selected = id;
    this.draw();
  }

  update(state: State, time: number): void {
    this.state = state;
    this.slider.value = String(time);
    if (document.activeElement !== this.field) this.field.value = String(time);
    this.draw();
  }

  // The key before or after `time` of the selected control (or of any animated one).
  keyBeside(time: number, direction: -1 | 1): number | null {
    if (!this.state) return null;
    const keys = keysOf(this.state, this.selected && this.state.values[this.selected]?.animated ? this.selected : null);
    const found = direction < 0 ? keys.filter((k) => k < time).pop() : keys.find((k) => k > time);
    return found ?? null;
  }

  private draw(): void {
    if (!this.state) return;
    const span = Math.max(1, this.last - this.first);
    const own = this.selected ? keysOf(this.state, this.selected) : [];
    const all = keysOf(this.state, null);
    const mark = (k: number, cls: string) => {
      const m = document.createElement("span");
      m.className = `mark ${cls}`;
      m.dataset.frame = String(k);
      m.style.left = `${((k - this.first) / span) * 100}%`;
      return m;
    };
    this.marks.replaceChildren(
      ...all.filter((k) => !own.includes(k)).map((k) => mark(k, "other")),
      ...own.map((k) => mark(k, "own")),
    );
  }

  start(time: number): void {
    this.playing = true;
    this.playStart = performance.now();
    this.playFrom = time;
  }

  stop(): void {
    this.playing = false;
    clearTimeout(this.timer);
  }

  // Called when a frame is on screen while playing: seeks to the frame due
  // now, or waits until the next one is due.
  next(shown: number, fps: number, mode: PlayMode): void {
    if (!this.playing) return;
    const elapsed = performance.now() - this.playStart;
    const due = dueFrame(this.playFrom, this.first, this.last, fps, mode, elapsed);
    if (due !== shown) return this.events.seek(due);
    const wait = 1000 / fps - (elapsed % (1000 / fps));
    clearTimeout(this.timer);
    this.timer = window.setTimeout(() => this.next(shown, fps, mode), Math.max(1, wait));
  }
}
