// The control panel, built from the tool's declaration: one tab per page,
// and per control the widget its kind asks for. Three colour channels of one
// group are one colour picker (with a field per channel).
import type { ControlInfo, Description, State, ValueState } from "./api.js";

export interface PanelEvents {
  // A user's change; changes with the same gesture are one undo step. A
  // refusal of the value is passed to `refused` when given.
  change(id: string, value: number | [number, number], gesture: string, refused?: (why: string) => void): void;
  key(id: string, action: "set" | "remove" | "clear"): void;
  // The control the artist is working on (focus in its row): the timeline marks its keys.
  select?(id: string): void;
  // The page shown changed.
  pageShown?(page: number): void;
}

let gestureCount = 0;
export function newGesture(): string {
  gestureCount += 1;
  return `g${Date.now()}-${gestureCount}`;
}

function element<K extends keyof HTMLElementTagNameMap>(
  tag: K,
  attrs: Record<string, string> = {},
  text?: string,
): HTMLElementTagNameMap[K] {
  const e = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs)) e.setAttribute(k, v);
  if (text !== undefined) e.textContent = text;
  return e;
}

// Tab captions: a page caption used twice gets its position ("Basics 2").
export function tabCaptions(pages: string[]): string[] {
  const seen = new Map<string, number>();
  return pages.map((p) => {
    const n = (seen.get(p) ?? 0) + 1;
    seen.set(p, n);
    return n === 1 ? p : `${p} ${n}`;
  });
}

function formatNumber(v: number): string {
  return String(Math.round(v * 10000) / 10000);
}

function toHex(v: number): string {
  const b = Math.max(0, Math.min(255, Math.round(v * 255)));
  return b.toString(16).padStart(2, "0");
}

type Updater = (value: ValueState, time: number) => void;

// A number as typed: digits with an optional sign, point and exponent.
export function parseNumber(text: string): number | null {
  const t = text.trim();
  if (!/^[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?$/.test(t)) return null;
  const v = Number(t);
  return Number.isFinite(v) ? v : null;
}

// Steps of a number control's slider and arrow keys. A control whose
// declared scale and default are whole numbers and whose scale spans at
// least 100 takes whole numbers (counts, frames, seeds) and steps by 1;
// others step by about a hundredth of the scale (1, 2 or 5 times a power of
// ten) and their sliders by a tenth of that.
export function controlSteps(c: ControlInfo): { whole: boolean; step: number; slider: number } {
  const lo = c.minScale ?? c.minAllowed ?? 0;
  let hi = c.maxScale ?? c.maxAllowed ?? 1;
  if (!(hi > lo)) hi = lo + 1;
  const d = typeof c.default === "number" ? c.default : 0;
  const whole = Number.isInteger(lo) && Number.isInteger(hi) && Number.isInteger(d) && hi - lo >= 100;
  if (whole) return { whole, step: 1, slider: 1 };
  const step = niceStep((hi - lo) / 100);
  return { whole, step, slider: step / 10 };
}

function niceStep(x: number): number {
  const p = Math.pow(10, Math.floor(Math.log10(x)));
  const m = x / p;
  return (m < 1.5 ? 1 : m < 3.5 ? 2 : m < 7.5 ? 5 : 10) * p;
}

// Arrow and page keys as a number of steps: ±1, ±10 for pages.
const kKeySteps: Record<string, number> = { ArrowUp: 1, ArrowRight: 1, ArrowDown: -1, ArrowLeft: -1, PageUp: 10, PageDown: -10 };

// Key presses that follow each other within this time are one undo step.
const kKeyRunMs = 1000;

// A text field for one number. A value it cannot take (not a number, out of
// the control's allowed range, or refused by the server) puts the held value
// back and says why in `note`, beside the field, until the next good edit.
// While the user edits it (data-dirty) updates leave it alone; otherwise it
// follows the held value, focused or not.
function numberField(
  c: ControlInfo,
  attrs: Record<string, string>,
  note: HTMLElement,
  held: () => number,
  commit: (v: number, refused: (why: string) => void) => void,
): { field: HTMLInputElement; show: (v: number) => void } {
  const field = element("input", { type: "text", inputmode: "decimal", class: "number", ...attrs });
  const show = (v: number) => {
    if (!field.dataset.dirty) field.value = formatNumber(v);
  };
  const refuse = (why: string) => {
    delete field.dataset.dirty;
    show(held());
    note.textContent = why;
    note.hidden = false;
  };
  field.addEventListener("input", () => (field.dataset.dirty = "1"));
  field.addEventListener("change", () => {
    const v = parseNumber(field.value);
    const range = `${c.minAllowed ?? "−∞"} to ${c.maxAllowed ?? "∞"}`;
    if (v === null) return refuse(`"${field.value.trim()}" is not a number; ${c.caption} takes ${range}`);
    if ((c.minAllowed !== null && v < c.minAllowed) || (c.maxAllowed !== null && v > c.maxAllowed))
      return refuse(`${formatNumber(v)} is out of range: ${c.caption} takes ${range}`);
    delete field.dataset.dirty;
    note.hidden = true;
    note.textContent = "";
    commit(v, refuse);
  });
  // Leaving the field without committing keeps the held value.
  field.addEventListener("blur", () => {
    if (field.dataset.dirty) {
      delete field.dataset.dirty;
      show(held());
    }
  });
  return { field, show };
}

function noteElement(): HTMLElement {
  const note = element("span", { class: "refusal", role: "alert" });
  note.hidden = true;
  return note;
}

export class Panel {
  private readonly updaters = new Map<string, Updater>();
  private readonly keyButtons = new Map<string, HTMLButtonElement>();
  private activePage = 0;

  constructor(
    private readonly root: HTMLElement,
    private readonly desc: Description,
    private readonly events: PanelEvents,
  ) {
    this.build();
  }

  private build(): void {
    this.root.replaceChildren();
    const pageCount = Math.max(this.desc.pages.length, 1);
    const captions = this.desc.pages.length ? tabCaptions(this.desc.pages) : ["Controls"];
    const tabs = element("div", { class: "tabs", role: "tablist" });
    const bodies: HTMLElement[] = [];
    for (let p = 0; p < pageCount; p++) {
      const tab = element(
        "button",
        { class: "tab", role: "tab", type: "button", id: `tab-${p}`, "aria-controls": `page-${p}`, "data-page": String(p) },
        captions[p],
      );
      tab.addEventListener("click", () => this.showPage(p));
      tabs.append(tab);
      bodies.push(element("div", { class: "page", role: "tabpanel", id: `page-${p}`, "aria-labelledby": `tab-${p}`, "data-page": String(p) }));
    }
    // The tab list is one stop for Tab; arrows, Home and End move between pages.
    tabs.addEventListener("keydown", (e) => {
      const moves: Record<string, number> = { ArrowRight: this.activePage + 1, ArrowLeft: this.activePage - 1, Home: 0, End: pageCount - 1 };
      if (!(e.key in moves)) return;
      e.preventDefault();
      const p = (moves[e.key] + pageCount) % pageCount;
      this.showPage(p);
      tabs.querySelector<HTMLElement>(`[data-page="${p}"]`)?.focus();
    });
    this.root.append(tabs, ...bodies);
    const groupsDone = new Set<string>();
    for (const c of this.desc.controls) {
      const page = c.pageIndex >= 0 && c.pageIndex < pageCount ? c.pageIndex : 0;
      if (c.colourGroup) {
        const key = `${page}/${c.colourGroup.number}/${c.colourGroup.name}`;
        if (groupsDone.has(key)) continue;
        groupsDone.add(key);
        const channels = this.desc.controls.filter(
          (o) =>
            o.colourGroup &&
            o.colourGroup.number === c.colourGroup!.number &&
            o.colourGroup.name === c.colourGroup!.name &&
            o.pageIndex === c.pageIndex,
        );
        bodies[page].append(this.colourRow(channels));
        continue;
      }
      bodies[page].append(this.row(c));
    }
    this.showPage(0);
  }

  showPage(p: number): void {
    this.activePage = p;
    this.events.pageShown?.(p);
    for (const e of this.root.querySelectorAll<HTMLElement>("[data-page]")) {
      const on = e.dataset.page === String(p);
      e.classList.toggle("active", on);
      if (e.classList.contains("page")) e.hidden = !on;
      if (e.classList.contains("tab")) {
        e.setAttribute("aria-selected", String(on));
        e.tabIndex = on ? 0 : -1;
      }
    }
  }

  get page(): number {
    return this.activePage;
  }

  update(state: State): void {
    for (const [id, update] of this.updaters) {
      const v = state.values[id];
      if (v) update(v, state.time);
    }
    for (const [id, button] of this.keyButtons) {
      const v = state.values[id];
      if (!v) continue;
      const keyed = v.animated && v.keys.includes(state.time);
      button.classList.toggle("animated", v.animated);
      button.classList.toggle("keyed", keyed);
      button.dataset.keyed = keyed ? "1" : "";
      button.setAttribute("aria-pressed", String(keyed));
      button.title = keyed
        ? "Key at this frame: click to remove it, Shift+click to remove the animation"
        : v.animated
          ? `Animated (${v.keys.length} keys): click to key this frame, Shift+click to remove the animation`
          : "Set a key at this frame";
    }
  }

  private keyButton(c: ControlInfo): HTMLButtonElement {
    const b = element("button", { class: "key", "data-key": c.id, type: "button", "aria-label": `Key ${c.caption}` }, "◆");
    b.addEventListener("click", (e) =>
      this.events.key(c.id, e.shiftKey ? "clear" : b.dataset.keyed ? "remove" : "set"),
    );
    this.keyButtons.set(c.id, b);
    return b;
  }

  private row(c: ControlInfo): HTMLElement {
    const row = element("div", { class: `control ${c.kind.replace(" ", "-")}`, "data-id": c.id, "data-caption": c.caption });
    row.addEventListener("focusin", () => this.events.select?.(c.id));
    row.addEventListener("pointerdown", () => this.events.select?.(c.id));
    const label = element("label", { title: c.caption }, c.caption);
    row.append(label);
    switch (c.control) {
      case "BtnC": {
        // A press is kept at the frame shown; the frames pressed are listed beside it.
        const b = element("button", { type: "button", class: "press" }, c.caption);
        b.addEventListener("click", () => this.events.change(c.id, 1, newGesture()));
        const at = element("span", { class: "presses" });
        row.replaceChildren(b, at);
        this.updaters.set(c.id, (v) => {
          const frames = v.animated ? v.keys : [];
          at.textContent = frames.length ? `pressed at ${frames.length === 1 ? "frame" : "frames"} ${frames.join(", ")}` : "";
        });
        return row;
      }
      case "ChBC": {
        const box = element("input", { type: "checkbox" });
        box.addEventListener("change", () => this.events.change(c.id, box.checked ? 1 : 0, newGesture()));
        label.prepend(box);
        this.updaters.set(c.id, (v) => {
          box.checked = Number(v.value) !== 0;
        });
        break;
      }
      case "ComC": {
        const select = element("select", { "aria-label": c.caption });
        c.items.forEach((item, i) => select.append(element("option", { value: String(i) }, item)));
        // Arrow keys on a closed list only move the choice; it applies on
        // Enter or when the list loses focus, so arrowing through presets
        // does not apply each one on the way. A mouse choice applies at once.
        let moving = false;
        let chosen: string | null = null;
        const apply = () => {
          if (chosen === null) return;
          const v = Number(chosen);
          chosen = null;
          this.events.change(c.id, v, newGesture());
        };
        select.addEventListener("keydown", (e) => {
          if (e.key === "Enter") apply();
          else if (e.key.startsWith("Arrow") || ["Home", "End", "PageUp", "PageDown"].includes(e.key)) moving = true;
          else if (e.key === "Escape" && chosen !== null) {
            chosen = null;
            select.value = held;
          }
        });
        select.addEventListener("keyup", () => (moving = false));
        select.addEventListener("change", () => {
          chosen = select.value;
          if (!moving) apply();
        });
        select.addEventListener("blur", apply);
        row.append(select);
        let held = "0";
        this.updaters.set(c.id, (v) => {
          held = String(Math.trunc(Number(v.value)));
          if (chosen === null) select.value = held;
        });
        break;
      }
      default:
        if (c.type === "Poin") row.append(...this.pointFields(c));
        else row.append(...this.numberFields(c));
    }
    row.append(this.keyButton(c));
    return row;
  }

  private numberFields(c: ControlInfo): HTMLElement[] {
    // The slider spans the declared scale; the field takes anything allowed.
    const lo = c.minScale ?? c.minAllowed ?? 0;
    let hi = c.maxScale ?? c.maxAllowed ?? 1;
    if (!(hi > lo)) hi = lo + 1;
    const steps = controlSteps(c);
    const slider = element("input", {
      type: "range",
      min: String(lo),
      max: String(hi),
      step: String(steps.slider),
      "aria-label": c.caption,
    });
    const note = noteElement();
    let held = 0;
    const { field, show } = numberField(c, { "aria-label": `${c.caption} value` }, note, () => held, (v, refused) =>
      this.events.change(c.id, v, newGesture(), refused),
    );
    let gesture = newGesture();
    let lastKey = -Infinity;
    let sent = 0;
    const send = (v: number) => {
      field.value = formatNumber(v);
      note.hidden = true;
      this.events.change(c.id, v, gesture);
    };
    slider.addEventListener("pointerdown", () => (gesture = newGesture()));
    slider.addEventListener("input", () => send(Number(slider.value)));
    // Arrows step by the control's step (Shift: ten steps, Alt: a tenth of
    // one where the control is not whole) from the value held, past the
    // slider's scale up to the allowed range; presses in a row are one undo step.
    slider.addEventListener("keydown", (e) => {
      const n = kKeySteps[e.key];
      if (n === undefined) return;
      e.preventDefault();
      const now = performance.now();
      // Within a run the next step starts from the value last sent: the
      // server's answers to earlier presses may still be on their way.
      const inRun = now - lastKey <= kKeyRunMs;
      if (!inRun) gesture = newGesture();
      lastKey = now;
      const factor = e.shiftKey ? 10 : e.altKey && !steps.whole ? 0.1 : 1;
      const from = inRun ? sent : held;
      let v = from + n * steps.step * factor;
      v = steps.whole ? Math.round(v) : Math.round(v / (steps.step * factor)) * (steps.step * factor);
      if (c.minAllowed !== null) v = Math.max(c.minAllowed, v);
      if (c.maxAllowed !== null) v = Math.min(c.maxAllowed, v);
      v = Number(v.toPrecision(12));
      sent = v;
      if (v === from) return;
      slider.value = String(v);
      send(v);
    });
    this.updaters.set(c.id, (v) => {
      held = Number(v.value);
      show(held);
      if (document.activeElement !== slider) slider.value = String(held);
    });
    return [slider, field, note];
  }

  private pointFields(c: ControlInfo): HTMLElement[] {
    const note = noteElement();
    let held: [number, number] = [0, 0];
    const axis = (i: 0 | 1) =>
      numberField(c, { "data-axis": i ? "y" : "x" }, note, () => held[i], (v, refused) => {
        const p: [number, number] = [...held];
        p[i] = v;
        this.events.change(c.id, p, newGesture(), refused);
      });
    const x = axis(0);
    const y = axis(1);
    this.updaters.set(c.id, (v) => {
      held = [...(v.value as [number, number])];
      x.show(held[0]);
      y.show(held[1]);
    });
    return [element("span", { class: "axis" }, "x"), x.field, element("span", { class: "axis" }, "y"), y.field, note];
  }

  private colourRow(channels: ControlInfo[]): HTMLElement {
    const byChannel = [...channels].sort((a, b) => a.colourGroup!.channel - b.colourGroup!.channel);
    const name = byChannel[0].colourGroup!.name || byChannel[0].caption;
    const row = element("div", { class: "control colour", "data-group": name });
    const picker = element("input", { type: "color", "aria-label": name });
    row.append(element("label", {}, name), picker);
    const values = [0, 0, 0];
    let gesture = newGesture();
    picker.addEventListener("pointerdown", () => (gesture = newGesture()));
    picker.addEventListener("input", () => {
      const hex = picker.value;
      byChannel.forEach((c, i) => {
        const v = parseInt(hex.slice(1 + 2 * i, 3 + 2 * i), 16) / 255;
        if (Math.abs(v - values[i]) > 0.5 / 255) this.events.change(c.id, v, gesture);
      });
    });
    const fields = element("span", { class: "channels" });
    const note = noteElement();
    byChannel.forEach((c, i) => {
      const { field, show } = numberField(
        c,
        { class: "number channel", "data-id": c.id, title: c.caption },
        note,
        () => values[i],
        (v, refused) => this.events.change(c.id, v, newGesture(), refused),
      );
      fields.append(field);
      this.updaters.set(c.id, (v) => {
        values[i] = Number(v.value);
        show(values[i]);
        picker.value = `#${values.map(toHex).join("")}`;
      });
    });
    row.append(fields);
    for (const c of byChannel) row.append(this.keyButton(c));
    row.append(note);
    return row;
  }
}
