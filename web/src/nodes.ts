// The node view of a flow: a box per node, a line per connection, laid out
// in columns by how far a node is from the flow's sources. Dragging from a
// node's output (right) to an input (left) connects them; the bar above
// does the same from menus, for the keyboard. Every edit goes to the server
// (one undo step each); the server's answer redraws the view.
import { FlowGraph, FlowNode, Shot } from "./api.js";

const SVG = "http://www.w3.org/2000/svg";
const kBoxWidth = 112;
const kHeader = 22;
const kPortGap = 16;
const kColumnGap = 32;
const kRowGap = 18;

export interface NodeActions {
  // A graph request (POST path with body); resolves when its answer is shown.
  edit(path: string, body: object): Promise<void>;
}

function el<K extends keyof HTMLElementTagNameMap>(tag: K, props: Partial<HTMLElementTagNameMap[K]> = {}): HTMLElementTagNameMap[K] {
  return Object.assign(document.createElement(tag), props);
}

function svg(tag: string, attrs: Record<string, string | number>): SVGElement {
  const e = document.createElementNS(SVG, tag);
  for (const [k, v] of Object.entries(attrs)) e.setAttribute(k, String(v));
  return e;
}

// Where each node's box goes: column = longest path from a node fed by
// nothing; rows in flow order within a column.
function layout(graph: FlowGraph): Map<string, { x: number; y: number; h: number }> {
  const depth = new Map<string, number>();
  const feeds = new Map<string, string[]>();
  for (const c of graph.connections) feeds.set(c.to, [...(feeds.get(c.to) ?? []), c.from]);
  const visit = (name: string, seen: Set<string>): number => {
    if (depth.has(name)) return depth.get(name)!;
    if (seen.has(name)) return 0; // the server refuses loops; stay safe anyway
    seen.add(name);
    const d = Math.max(-1, ...(feeds.get(name) ?? []).map((f) => visit(f, seen))) + 1;
    depth.set(name, d);
    return d;
  };
  const at = new Map<string, { x: number; y: number; h: number }>();
  const columnY: number[] = [];
  for (const n of graph.nodes) {
    const d = visit(n.name, new Set());
    const h = kHeader + Math.max(1, n.inputs.length) * kPortGap;
    const y = columnY[d] ?? 10;
    at.set(n.name, { x: 10 + d * (kBoxWidth + kColumnGap), y, h });
    columnY[d] = y + h + kRowGap;
  }
  return at;
}

export class NodeView {
  private graph: FlowGraph = { nodes: [], connections: [], selected: "", viewed: "", viewedIsDefault: true };
  private readonly svg: SVGSVGElement;
  private readonly classes: HTMLSelectElement;
  private readonly rename: HTMLInputElement;
  private readonly targets: HTMLSelectElement;
  private readonly inputs: HTMLSelectElement;
  private readonly settings: HTMLElement;
  private readonly shot: Record<keyof Shot, HTMLInputElement>;
  private readonly buttons: Record<string, HTMLButtonElement> = {};
  private drag: { from: string; line: SVGElement } | null = null;

  constructor(
    root: HTMLElement,
    classes: string[],
    private readonly actions: NodeActions,
  ) {
    root.replaceChildren();
    const bar = el("div", { className: "node-bar" });
    this.classes = el("select", { id: "node-class" });
    this.classes.setAttribute("aria-label", "Class of the node to add");
    for (const c of classes) this.classes.append(new Option(c, c));
    const button = (id: string, text: string, title: string, act: () => void): HTMLButtonElement => {
      const b = el("button", { id, type: "button", textContent: text, title });
      b.addEventListener("click", act);
      this.buttons[id] = b;
      return b;
    };
    this.rename = el("input", { id: "node-name", type: "text", size: 10 });
    this.rename.setAttribute("aria-label", "Name of the selected node");
    this.rename.addEventListener("keydown", (e) => {
      if (e.key === "Enter") this.renameSelected();
    });
    this.targets = el("select", { id: "node-connect-to" });
    this.targets.setAttribute("aria-label", "Input to feed from the selected node");
    this.inputs = el("select", { id: "node-disconnect" });
    this.inputs.setAttribute("aria-label", "Input of the selected node to open");
    bar.append(
      button("node-new", "New flow", "An empty flow (undo brings this one back)", () => void this.actions.edit("/api/flow/new", {})),
      this.classes,
      button("node-add", "Add", "Add a node of the class chosen", () => void this.actions.edit("/api/node/add", { class: this.classes.value })),
      this.rename,
      button("node-rename", "Rename", "Rename the selected node", () => this.renameSelected()),
      button("node-delete", "Delete", "Delete the selected node and its connections", () => {
        if (this.graph.selected) void this.actions.edit("/api/node/delete", { node: this.graph.selected });
      }),
      button("node-view", "View", "Show the selected node's output in the viewer", () => {
        if (this.graph.selected) void this.actions.edit("/api/node/view", { node: this.graph.selected });
      }),
      this.targets,
      button("node-connect", "Connect", "Feed the input chosen from the selected node's output", () => {
        const [to, input] = JSON.parse(this.targets.value || "[]") as string[];
        if (this.graph.selected && to) void this.actions.edit("/api/node/connect", { from: this.graph.selected, to, input });
      }),
      this.inputs,
      button("node-disconnect-button", "Disconnect", "Open the chosen input of the selected node", () => {
        if (this.graph.selected && this.inputs.value) void this.actions.edit("/api/node/disconnect", { to: this.graph.selected, input: this.inputs.value });
      }),
    );
    // The shot: its first and last frames and the frame simulations start
    // at; a change (on leaving the field or Enter) is one undo step.
    const shotBar = el("div", { className: "node-shot" });
    const shotField = (key: keyof Shot, id: string, text: string): HTMLInputElement => {
      const field = el("input", { id, type: "number", step: "1" });
      field.dataset.shot = key;
      field.addEventListener("change", () => this.changeShot());
      const label = el("label", { textContent: text });
      label.append(field);
      shotBar.append(label);
      return field;
    };
    this.shot = {
      first: shotField("first", "shot-first", "First"),
      last: shotField("last", "shot-last", "Last"),
      simulationStart: shotField("simulationStart", "shot-simulation-start", "Simulation from"),
    };
    this.svg = svg("svg", { class: "node-graph", role: "group", "aria-label": "Nodes" }) as SVGSVGElement;
    this.settings = el("div", { className: "node-settings" });
    root.append(bar, shotBar, this.svg, this.settings);
    this.svg.addEventListener("pointermove", (e) => this.dragTo(e));
    this.svg.addEventListener("pointerup", (e) => this.dragEnd(e));
  }

  private renameSelected(): void {
    const name = this.rename.value.trim();
    if (this.graph.selected && name && name !== this.graph.selected)
      void this.actions.edit("/api/node/rename", { node: this.graph.selected, name });
  }

  private changeShot(): void {
    const shot = Object.fromEntries(Object.entries(this.shot).map(([k, f]) => [k, Number(f.value)])) as unknown as Shot;
    const now = this.graph.shot;
    const valid = Object.values(this.shot).every((f) => f.value.trim() !== "" && Number.isInteger(Number(f.value)));
    if (!valid || !now || (shot.first === now.first && shot.last === now.last && shot.simulationStart === now.simulationStart)) {
      this.showShot(true);
      return;
    }
    // Refused, the fields go back to the shot the flow has.
    void this.actions.edit("/api/flow/shot", shot).then(() => this.showShot(true));
  }

  // `all`: the field being edited too.
  private showShot(all: boolean): void {
    for (const [key, field] of Object.entries(this.shot) as [keyof Shot, HTMLInputElement][])
      if (all || document.activeElement !== field) field.value = this.graph.shot ? String(this.graph.shot[key]) : "";
  }

  update(graph: FlowGraph): void {
    this.graph = graph;
    this.showShot(false);
    const selected = graph.nodes.find((n) => n.name === graph.selected);
    if (document.activeElement !== this.rename) this.rename.value = graph.selected;
    for (const id of ["node-rename", "node-delete", "node-view", "node-connect", "node-disconnect-button"]) this.buttons[id].disabled = !selected;
    // The inputs the selected node may feed, and its own inputs that are fed.
    const target = this.targets.value;
    this.targets.replaceChildren();
    for (const n of graph.nodes)
      if (n.name !== graph.selected)
        for (const i of n.inputs) this.targets.append(new Option(`${n.name} › ${i.name}`, JSON.stringify([n.name, i.name])));
    if ([...this.targets.options].some((o) => o.value === target)) this.targets.value = target;
    this.inputs.replaceChildren();
    for (const i of selected?.inputs ?? []) if (i.source) this.inputs.append(new Option(`${i.name} ← ${i.source}`, i.name));
    this.draw();
    this.showSettings(selected);
  }

  private draw(): void {
    const at = layout(this.graph);
    this.svg.replaceChildren();
    let width = 0;
    let height = 0;
    for (const p of at.values()) {
      width = Math.max(width, p.x + kBoxWidth + 10);
      height = Math.max(height, p.y + p.h + 10);
    }
    // Drawn at its size, or narrowed to the view's width.
    const w = Math.max(width, 200);
    const h = Math.max(height, 120);
    this.svg.setAttribute("viewBox", `0 0 ${w} ${h}`);
    this.svg.setAttribute("width", String(w));
    this.svg.setAttribute("height", String(h));
    const inputY = (p: { y: number }, i: number): number => p.y + kHeader + kPortGap * i + kPortGap / 2;
    const outputY = (p: { y: number; h: number }): number => p.y + p.h / 2;
    for (const c of this.graph.connections) {
      const a = at.get(c.from);
      const b = at.get(c.to);
      const to = this.graph.nodes.find((n) => n.name === c.to);
      const i = to?.inputs.findIndex((x) => x.name === c.input) ?? -1;
      if (!a || !b || i < 0) continue;
      const x1 = a.x + kBoxWidth;
      const y1 = outputY(a);
      const x2 = b.x;
      const y2 = inputY(b, i);
      const mid = (x1 + x2) / 2;
      const line = svg("path", { class: "wire", d: `M${x1},${y1} C${mid},${y1} ${mid},${y2} ${x2},${y2}` });
      line.dataset.from = c.from;
      line.dataset.to = c.to;
      line.dataset.input = c.input;
      this.svg.append(line);
    }
    for (const n of this.graph.nodes) {
      const p = at.get(n.name)!;
      const g = svg("g", { class: "node", tabindex: 0, role: "button", "aria-label": `${n.name} (${n.tool || n.class})` });
      g.dataset.node = n.name;
      g.classList.toggle("selected", n.name === this.graph.selected);
      g.classList.toggle("viewed", n.name === this.graph.viewed);
      g.setAttribute("aria-pressed", String(n.name === this.graph.selected));
      g.append(svg("rect", { x: p.x, y: p.y, width: kBoxWidth, height: p.h, rx: 4 }));
      const title = svg("text", { x: p.x + 6, y: p.y + 15, class: "name" });
      title.textContent = `${n.name === this.graph.viewed ? "◉ " : ""}${n.name}`;
      g.append(title);
      n.inputs.forEach((input, i) => {
        const port = svg("circle", { cx: p.x, cy: inputY(p, i), r: 5, class: `port in${input.required ? " required" : ""}` });
        port.dataset.node = n.name;
        port.dataset.input = input.name;
        const label = svg("text", { x: p.x + 8, y: inputY(p, i) + 4, class: "input" });
        label.textContent = input.name;
        g.append(port, label);
      });
      const out = svg("circle", { cx: p.x + kBoxWidth, cy: outputY(p), r: 6, class: "port out" });
      out.dataset.output = n.name;
      out.addEventListener("pointerdown", (e) => this.dragStart(e as PointerEvent, n.name, p.x + kBoxWidth, outputY(p)));
      g.append(out);
      const select = (): void => {
        if (n.name !== this.graph.selected) void this.actions.edit("/api/node/select", { node: n.name });
      };
      g.addEventListener("click", (e) => {
        if (!(e.target as Element).classList.contains("port")) select();
      });
      g.addEventListener("keydown", (e) => {
        if (e.key === "Enter" || e.key === " ") {
          e.preventDefault();
          select();
        }
      });
      this.svg.append(g);
    }
  }

  private point(e: PointerEvent): { x: number; y: number } {
    const m = this.svg.getScreenCTM();
    if (!m) return { x: 0, y: 0 };
    const p = new DOMPoint(e.clientX, e.clientY).matrixTransform(m.inverse());
    return { x: p.x, y: p.y };
  }

  private dragStart(e: PointerEvent, from: string, x: number, y: number): void {
    e.preventDefault();
    e.stopPropagation();
    const line = svg("line", { class: "wire dragging", x1: x, y1: y, x2: x, y2: y });
    this.svg.append(line);
    this.drag = { from, line };
  }

  private dragTo(e: PointerEvent): void {
    if (!this.drag) return;
    const p = this.point(e);
    this.drag.line.setAttribute("x2", String(p.x));
    this.drag.line.setAttribute("y2", String(p.y));
  }

  // Dropped on an input port: that input is fed from the node dragged from.
  private dragEnd(e: PointerEvent): void {
    if (!this.drag) return;
    const { from, line } = this.drag;
    this.drag = null;
    line.remove();
    const target = document.elementFromPoint(e.clientX, e.clientY) as SVGElement | null;
    const to = target?.dataset?.node;
    const input = target?.dataset?.input;
    if (to && input) void this.actions.edit("/api/node/connect", { from, to, input });
  }

  // A Read, Merge or Write node's own settings; a change is one undo step.
  private showSettings(node: FlowNode | undefined): void {
    this.settings.replaceChildren();
    if (!node?.settings) return;
    const choices: Record<string, string[]> = {
      operation: ["over", "under", "plus", "multiply", "screen"],
      missing: ["error", "black", "nearest"],
    };
    for (const [key, value] of Object.entries(node.settings)) {
      const row = el("label", { className: "node-setting" });
      row.append(el("span", { textContent: key }));
      let field: HTMLInputElement | HTMLSelectElement;
      if (choices[key]) {
        field = el("select");
        for (const c of choices[key]) field.append(new Option(c, c));
      } else {
        field = el("input", { type: typeof value === "number" ? "number" : "text" });
        if (key === "mix") Object.assign(field, { min: "0", max: "1", step: "0.05" });
      }
      field.value = String(value);
      field.dataset.setting = key;
      field.addEventListener("change", () => {
        const v = typeof value === "number" ? Number(field.value) : field.value;
        void this.actions.edit("/api/node/settings", { node: node.name, settings: { [key]: v } });
      });
      row.append(field);
      this.settings.append(row);
    }
  }
}
