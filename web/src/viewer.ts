// The viewer: the frame on a canvas and, over it, the tool's on-image
// handles: points, crosshairs, circles and angle handles about their joined
// point. Dragging a handle changes its control.
import type { ControlInfo, Description, FrameData, Picture, State } from "./api.js";
import { newGesture } from "./panel.js";

const SVG = "http://www.w3.org/2000/svg";

export interface ViewerEvents {
  change(id: string, value: number | [number, number], gesture: string): void;
  dragEnd(id: string, value: number | [number, number], gesture: string): void;
}

// Which handles are drawn: every one, those of the panel page shown, or none.
export type HandleChoice = "all" | "page" | "none";

// Key presses on a handle that follow each other within this time are one undo step.
const kKeyRunMs = 1000;

// The circle's radius is its value times this fraction of the frame width.
const kCircleUnit = 0.1;
// Angle handles sit this fraction of the shorter side from their point.
const kAngleReach = 0.2;

// What the frame is shown over: a checkerboard of kCheckerSize image pixels
// in two greys, black, mid grey, or the picture of an image input.
export type Backdrop = { kind: "checker" } | { kind: "black" } | { kind: "grey" } | { kind: "picture"; picture: Picture };
export const kCheckerSize = 16;
export const kCheckerLevels = [102, 153];
export const kGrey = 128;

// (255 - a) * b / 255 rounded, for a premultiplied "over": index (255 - a) << 8 | b.
const kOverTable = (() => {
  const t = new Uint8Array(256 * 256);
  for (let k = 0; k < 256; k++) for (let b = 0; b < 256; b++) t[(k << 8) | b] = Math.floor((k * b + 127) / 255);
  return t;
})();

// The backdrop's RGB for a frame of w x h pixels seen as `scale`-times
// reduced (each pixel stands for the block at its top left corner), as RGBA
// rows with alpha 255.
function backdropPixels(b: Backdrop, w: number, h: number, scale: number, fullW: number, fullH: number): Uint8Array {
  const out = new Uint8Array(w * h * 4);
  if (b.kind === "black" || b.kind === "grey") {
    out.fill(b.kind === "grey" ? kGrey : 0);
  } else if (b.kind === "checker") {
    // Two rows, one starting with each level, copied down.
    const rows = [0, 1].map((phase) => {
      const row = new Uint8Array(w * 4);
      for (let x = 0; x < w; x++) row.fill(kCheckerLevels[(Math.floor((x * scale) / kCheckerSize) + phase) & 1], x * 4, x * 4 + 3);
      return row;
    });
    for (let y = 0; y < h; y++) out.set(rows[Math.floor((y * scale) / kCheckerSize) & 1], y * w * 4);
  } else {
    // The picture stretched over the frame (nearest pixel); its colour as a
    // premultiplied picture shows over black.
    const p = b.picture;
    for (let y = 0; y < h; y++) {
      const py = Math.min(p.height - 1, Math.floor((y * scale * p.height) / fullH));
      for (let x = 0; x < w; x++) {
        const px = Math.min(p.width - 1, Math.floor((x * scale * p.width) / fullW));
        const s = (py * p.width + px) * 4;
        const d = (y * w + x) * 4;
        out[d] = p.rgba[s];
        out[d + 1] = p.rgba[s + 1];
        out[d + 2] = p.rgba[s + 2];
      }
    }
  }
  for (let i = 3; i < out.length; i += 4) out[i] = 255;
  return out;
}

function svg<K extends keyof SVGElementTagNameMap>(tag: K, attrs: Record<string, string | number>): SVGElementTagNameMap[K] {
  const e = document.createElementNS(SVG, tag);
  for (const [k, v] of Object.entries(attrs)) e.setAttribute(k, String(v));
  return e;
}

export class Viewer {
  private readonly canvas: HTMLCanvasElement;
  private readonly overlay: SVGSVGElement;
  private width = 1;
  private height = 1;
  private state: State | null = null;
  private dragging: string | null = null;
  private frame: FrameData | null = null; // the last frame shown
  private backdrop: Backdrop = { kind: "checker" };
  private readonly backdropCache = new Map<string, Uint8Array>();
  private readonly pixels = new Map<number, ImageData>(); // per scale
  private readonly scratch = document.createElement("canvas");
  private handleChoice: HandleChoice = "all";
  private page = 0;
  // A control captioned "Rotate" turns the lobes the angle handles stand for.
  private readonly rotateId: string | null;
  private focusId: string | null = null;
  private keyGesture = "";
  private lastKey = -Infinity;
  private keyValue: number | [number, number] | null = null; // last sent by the keys in a run
  private redrawing = false;

  constructor(
    private readonly root: HTMLElement,
    private readonly desc: Description,
    private readonly events: ViewerEvents,
  ) {
    this.canvas = document.createElement("canvas");
    this.canvas.id = "frame";
    this.overlay = svg("svg", { class: "handles" });
    root.replaceChildren(this.canvas, this.overlay);
    const rotate = desc.controls.find((c) => c.caption === "Rotate" && c.type === "Numb" && !c.onImage);
    this.rotateId = rotate && desc.controls.some((c) => c.onImage === "AngC") ? rotate.id : null;
  }

  // Which handles to draw, and the panel page shown (for "page").
  showHandles(choice: HandleChoice, page: number): void {
    this.handleChoice = choice;
    this.page = page;
    this.drawHandles();
  }

  get handleControls(): ControlInfo[] {
    return this.desc.controls.filter((c) => c.onImage !== null);
  }

  // The frame's premultiplied colour over the backdrop ("over": C + (1 - a) x
  // backdrop, at most 255), put on the canvas as opaque pixels; a preview is
  // composited at its size and drawn enlarged to the frame's.
  showFrame(frame: FrameData): void {
    this.frame = frame;
    this.composite();
  }

  setBackdrop(b: Backdrop): void {
    this.backdrop = b;
    this.backdropCache.clear();
    if (this.frame) this.composite();
  }

  private composite(): void {
    const frame = this.frame;
    if (!frame || !frame.bands.length) return;
    const s = frame.scale;
    const w = frame.bands[0].width;
    const h = frame.bands.reduce((n, b) => Math.max(n, b.top + b.rows), 0);
    // Kept per size: previews and frames take turns while dragging.
    const key = `${w}x${h}/${s}/${frame.width}x${frame.height}`;
    let bg = this.backdropCache.get(key);
    if (!bg) {
      if (this.backdropCache.size >= 4) this.backdropCache.clear();
      bg = backdropPixels(this.backdrop, w, h, s, frame.width, frame.height);
      this.backdropCache.set(key, bg);
    }
    let pixels = this.pixels.get(s);
    if (!pixels || pixels.width !== w || pixels.height !== h) {
      pixels = new ImageData(w, h);
      this.pixels.set(s, pixels);
    }
    const out = pixels.data;
    const t = kOverTable;
    for (const b of frame.bands) {
      const src = b.rgba;
      const base = b.top * w * 4;
      const n = Math.min(src.length, out.length - base);
      for (let i = 0; i < n; i += 4) {
        const k = (255 - src[i + 3]) << 8;
        const o = base + i;
        // The clamped array caps additive light at 255.
        out[o] = src[i] + t[k | bg[o]];
        out[o + 1] = src[i + 1] + t[k | bg[o + 1]];
        out[o + 2] = src[i + 2] + t[k | bg[o + 2]];
        out[o + 3] = 255;
      }
    }
    if (this.canvas.width !== frame.width || this.canvas.height !== frame.height) {
      this.canvas.width = frame.width;
      this.canvas.height = frame.height;
    }
    const ctx = this.canvas.getContext("2d");
    if (!ctx) return;
    if (s === 1) {
      ctx.putImageData(pixels, 0, 0);
    } else {
      if (this.scratch.width !== w || this.scratch.height !== h) {
        this.scratch.width = w;
        this.scratch.height = h;
      }
      this.scratch.getContext("2d")!.putImageData(pixels, 0, 0);
      ctx.imageSmoothingEnabled = true;
      ctx.drawImage(this.scratch, 0, 0, w * s, h * s);
    }
    this.resize(frame.width, frame.height);
  }

  private resize(w: number, h: number): void {
    if (w === this.width && h === this.height) return;
    this.width = w;
    this.height = h;
    this.root.style.aspectRatio = `${w} / ${h}`;
    this.overlay.setAttribute("viewBox", `0 0 ${w} ${h}`);
    this.drawHandles();
  }

  update(state: State): void {
    this.state = state;
    if (this.width === 1 && state.width > 0) this.resize(state.width, state.height);
    this.drawHandles();
  }

  private point(id: string | null): [number, number] | null {
    if (!id || !this.state) return null;
    const v = this.state.values[id]?.value;
    if (!Array.isArray(v)) return null;
    return [v[0] * this.width, v[1] * this.height];
  }

  private number(id: string): number {
    const v = this.state?.values[id]?.value;
    return typeof v === "number" ? v : 0;
  }

  // The direction, in degrees from +x toward +y (down), in which an angle
  // control's lobe points: the negated angle turned by "Rotate".
  private lobeDirection(id: string): number {
    return (this.rotateId ? this.number(this.rotateId) : 0) - this.number(id);
  }

  private drawHandles(): void {
    if (!this.state) return;
    const scale = this.width / Math.max(this.root.clientWidth, 1); // image pixels per screen pixel
    const r = 7 * scale;
    const stroke = 1.5 * scale;
    const font = 11 * scale;
    const parts: SVGElement[] = [];
    // A grip outside the frame is drawn at its edge, marked, and can be dragged back in.
    const inside = (p: [number, number]): [number, number, boolean] => {
      const m = r + stroke;
      const x = Math.max(m, Math.min(this.width - m, p[0]));
      const y = Math.max(m, Math.min(this.height - m, p[1]));
      return [x, y, x !== p[0] || y !== p[1]];
    };
    // A label beside its grip, on the side that keeps it inside the frame.
    const label = (text: string, x: number, y: number): SVGTextElement => {
      const width = text.length * font * 0.6;
      const right = x + 1.6 * r + width <= this.width;
      const below = y - 1.2 * r - font < 0;
      const t = svg("text", {
        x: right ? x + 1.6 * r : x - 1.6 * r,
        y: below ? y + 1.2 * r + font : y - 1.2 * r,
        class: "label",
        "text-anchor": right ? "start" : "end",
        "font-size": font,
        "stroke-width": 3 * scale,
      });
      t.textContent = text;
      return t;
    };
    for (const c of this.handleControls) {
      if (this.handleChoice === "none" || (this.handleChoice === "page" && c.pageIndex !== this.page)) continue;
      const g = svg("g", { class: `handle ${c.onImage}`, "data-handle": c.id, tabindex: 0, role: "slider", "aria-label": c.caption });
      g.append(svg("title", {}));
      g.firstElementChild!.textContent = c.caption;
      let grip: [number, number];
      let text = c.caption;
      if (c.type === "Poin") {
        const p = this.point(c.id);
        if (!p) continue;
        if (c.onImage === "XHrC") {
          const a = 14 * scale;
          g.append(
            svg("line", { x1: p[0] - a, y1: p[1], x2: p[0] + a, y2: p[1], "stroke-width": stroke }),
            svg("line", { x1: p[0], y1: p[1] - a, x2: p[0], y2: p[1] + a, "stroke-width": stroke }),
          );
        }
        grip = p;
      } else if (c.onImage === "CirC") {
        const centre = this.point(c.linkId);
        if (!centre) continue;
        const radius = Math.abs(this.number(c.id)) * kCircleUnit * this.width;
        g.append(svg("circle", { cx: centre[0], cy: centre[1], r: radius, class: "ring", "stroke-width": stroke }));
        // Below the centre: the angle grips start to the right of it.
        grip = [centre[0], centre[1] + radius];
      } else if (c.onImage === "AngC") {
        const centre = this.point(c.linkId);
        if (!centre) continue;
        const reach = kAngleReach * Math.min(this.width, this.height);
        const a = (this.lobeDirection(c.id) * Math.PI) / 180;
        grip = [centre[0] + reach * Math.cos(a), centre[1] + reach * Math.sin(a)];
        g.append(svg("line", { x1: centre[0], y1: centre[1], x2: grip[0], y2: grip[1], class: "spoke", "stroke-width": stroke }));
        // The lobe's number: "Angle 3" is lobe 3.
        text = c.caption.match(/(\d+)$/)?.[1] ?? c.caption;
      } else {
        continue;
      }
      const [x, y, outside] = inside(grip);
      g.append(svg("circle", { cx: x, cy: y, r, class: outside ? "grip outside" : "grip", "stroke-width": stroke }));
      g.append(label(text, x, y));
      if (this.dragging === c.id) g.classList.add("dragging");
      g.addEventListener("pointerdown", (e) => this.startDrag(e, c, g));
      g.addEventListener("keydown", (e) => this.keyMove(e, c));
      g.addEventListener("focus", () => (this.focusId = c.id));
      g.addEventListener("blur", () => {
        if (this.focusId === c.id && !this.redrawing) this.focusId = null;
      });
      parts.push(g);
    }
    // Drawing anew must not take the keyboard away from a handle.
    this.redrawing = true;
    this.overlay.replaceChildren(...parts);
    if (this.focusId) this.overlay.querySelector<SVGGElement>(`[data-handle="${this.focusId}"]`)?.focus();
    this.redrawing = false;
  }

  // Arrow keys move a focused handle by a pixel (Shift: ten); an angle by a
  // degree (Shift: ten). Presses in a row are one undo step.
  private keyMove(e: KeyboardEvent, c: ControlInfo): void {
    const moves: Record<string, [number, number]> = { ArrowLeft: [-1, 0], ArrowRight: [1, 0], ArrowUp: [0, -1], ArrowDown: [0, 1] };
    const m = moves[e.key];
    if (!m || !this.state) return;
    e.preventDefault();
    const now = performance.now();
    // Within a run the next move starts from the value last sent: the
    // server's answers to earlier presses may still be on their way.
    const inRun = now - this.lastKey <= kKeyRunMs && this.keyValue !== null && this.focusId === c.id;
    if (!inRun) this.keyGesture = newGesture();
    this.lastKey = now;
    const from = inRun ? this.keyValue! : this.state.values[c.id].value;
    const n = e.shiftKey ? 10 : 1;
    let v: number | [number, number];
    if (c.type === "Poin") {
      const p = from as [number, number];
      v = [p[0] + (m[0] * n) / this.width, p[1] + (m[1] * n) / this.height];
    } else if (c.onImage === "CirC") {
      v = (from as number) + ((m[0] - m[1]) * n) / (kCircleUnit * this.width);
      if (c.minAllowed !== null) v = Math.max(v, c.minAllowed);
    } else {
      // Right and up turn the lobe counter-clockwise on screen.
      v = (from as number) + (m[0] - m[1]) * n;
    }
    if (c.maxAllowed !== null && typeof v === "number") v = Math.min(v, c.maxAllowed);
    this.keyValue = v;
    this.state.values[c.id].value = v;
    this.drawHandles();
    this.events.change(c.id, v, this.keyGesture);
  }

  // Image pixel coordinates of a pointer event.
  private imagePoint(e: PointerEvent): [number, number] {
    const box = this.overlay.getBoundingClientRect();
    return [((e.clientX - box.left) / box.width) * this.width, ((e.clientY - box.top) / box.height) * this.height];
  }

  private valueAt(c: ControlInfo, e: PointerEvent): number | [number, number] | null {
    const [x, y] = this.imagePoint(e);
    if (c.type === "Poin") return [x / this.width, y / this.height];
    const centre = this.point(c.linkId);
    if (!centre) return null;
    const dx = x - centre[0];
    const dy = y - centre[1];
    if (c.onImage === "CirC") {
      let v = Math.hypot(dx, dy) / (kCircleUnit * this.width);
      if (c.minAllowed !== null) v = Math.max(v, c.minAllowed);
      if (c.maxAllowed !== null) v = Math.min(v, c.maxAllowed);
      return v;
    }
    // Angles keep turning past ±180 within the control's scale.
    const current = this.number(c.id);
    // The lobe follows the pointer: the control is "Rotate" less the pointer's direction.
    let a = (this.rotateId ? this.number(this.rotateId) : 0) - (Math.atan2(dy, dx) * 180) / Math.PI;
    a += 360 * Math.round((current - a) / 360);
    return Math.round(a * 10) / 10;
  }

  private startDrag(e: PointerEvent, c: ControlInfo, g: SVGGElement): void {
    if (e.button !== 0) return;
    e.preventDefault();
    const gesture = newGesture();
    let last: number | [number, number] | null = null;
    this.dragging = c.id;
    g.classList.add("dragging");
    const target = this.overlay;
    target.setPointerCapture(e.pointerId);
    const move = (m: PointerEvent) => {
      const v = this.valueAt(c, m);
      if (v === null) return;
      last = v;
      // Shown at once; the server's state follows.
      if (this.state) {
        this.state.values[c.id].value = v;
        this.drawHandles();
      }
      this.events.change(c.id, v, gesture);
    };
    const up = () => {
      target.removeEventListener("pointermove", move);
      target.removeEventListener("pointerup", up);
      target.removeEventListener("pointercancel", up);
      this.dragging = null;
      if (last !== null) this.events.dragEnd(c.id, last, gesture);
      this.drawHandles();
    };
    target.addEventListener("pointermove", move);
    target.addEventListener("pointerup", up);
    target.addEventListener("pointercancel", up);
  }
}
