// The page of vorn serve: a tool's panel and viewer, the timeline, undo and
// redo, and compositions and exports. Every change goes to the server as the
// user makes it; the server's answer (every value, after the tool's own
// reaction) is what the panel shows.
import { ApiError, Description, FrameData, Simulation, State, ToolList, fetchFrame, fetchInputPicture, getJson, post } from "./api.js";
import { NodeView } from "./nodes.js";
import { Panel } from "./panel.js";
import { PlayMode, Timeline } from "./timeline.js";
import { Backdrop, HandleChoice, Viewer } from "./viewer.js";

type Value = number | [number, number];

// The name the server gives the flow where a request names a tool.
const kFlow = "flow";

// A pointer that sent no new value for this long is taken to rest.
const kRestMs = 40;
// While a control is dragged the viewer shows previews about this wide (the
// frame reduced by a whole factor, at least 2); the exact frame follows as
// soon as the pointer rests.
const kPreviewWidth = 800;
// How often the page asks how far a stepped tool's simulation has come while
// it waits for a frame.
const kSimulationPollMs = 200;

function $(id: string): HTMLElement {
  const e = document.getElementById(id);
  if (!e) throw new Error(`the page has no #${id}`);
  return e;
}

// Timings the benchmark reads: change sent → its frame on the canvas (a
// preview or the frame), and → the exact frame.
interface Stats {
  latencies: number[];
  exactLatencies: number[];
  exactShownAt: number; // when an exact frame was last drawn
  framesShown: number;
  lastRenderMs: number;
}

class Page {
  private tools!: ToolList;
  private tool = "";
  private desc!: Description;
  private panel!: Panel;
  private viewer!: Viewer;
  private state!: State;
  private time = 0;
  private timeline!: Timeline;
  private following = 0; // the wait loop of the tool shown
  private shownVersion = 0;
  private shownTime = Number.NaN;
  private frameHeight = 0; // of the frame shown last
  private readonly pending = new Map<string, { value: Value; gesture: string; refused?: (why: string) => void }>();
  private sending = false;
  private lastChangeAt = 0;
  private acting = 0; // undo, redo, reset and key requests in flight
  private frameBusy = false;
  private measures: { start: number; version: number; seen: boolean }[] = [];
  private sentAt = 0;
  private lastGesture = "";
  private gestureChanges = 0; // changes so far in the last gesture
  private shownScale = 1; // the frame shown is a preview when above 1
  private refineTimer = 0;
  private backdropTime = Number.NaN; // the frame of the sequence's picture shown under
  private sequences = new Set<string>(); // inputs read frame by frame
  private simulationTimer = 0;
  private first = 0; // the timeline: the server's, or the flow's shot
  private last = 0;
  private nodes: NodeView | null = null;
  private selectedNode: string | null = null; // the flow's node the panel shows
  private describing = false; // the panel is being made for another node
  readonly stats: Stats = { latencies: [], exactLatencies: [], exactShownAt: 0, framesShown: 0, lastRenderMs: 0 };

  async start(): Promise<void> {
    this.tools = await getJson<ToolList>("/api/tools", {});
    const select = $("tool") as HTMLSelectElement;
    for (const t of this.tools.tools) select.append(new Option(t.name, t.name));
    select.append(new Option("Flow", kFlow));
    select.addEventListener("change", () => void this.open(select.value));
    const roots = $("root") as HTMLSelectElement;
    // A folder shows by its name (the whole path on hover), so the header stays one line.
    this.tools.roots.forEach((r, i) => {
      const o = new Option(r.replace(/\/+$/, "").split("/").pop() || r, String(i));
      o.title = r;
      roots.append(o);
    });
    this.timeline = new Timeline($("time") as HTMLInputElement, $("key-marks"), $("frame-number") as HTMLInputElement, {
      seek: (t) => void this.seek(t),
    });
    this.first = this.tools.firstFrame;
    this.last = this.tools.lastFrame;
    this.timeline.setRange(this.first, this.last);
    this.wireBar();
    const hash = new URLSearchParams(location.hash.slice(1));
    const fromHash = hash.get("tool");
    // A reload comes back to the frame it left.
    const frame = Number(hash.get("frame") ?? Number.NaN);
    if (Number.isInteger(frame)) this.time = frame;
    const first = fromHash || this.tools.initial || this.tools.tools[0]?.name;
    if (!first) {
      this.message("no tools are loaded: start vorn serve with --plugins DIR", true);
      return;
    }
    select.value = first;
    await this.open(first);
  }

  private async open(tool: string): Promise<void> {
    this.stopPlaying();
    this.pending.clear();
    this.tool = tool;
    ($("tool") as HTMLSelectElement).value = tool;
    this.remember();
    const flow = tool === kFlow;
    if (flow && !this.tools.flow) {
      // No flow is open yet (another page or a Load may have opened one
      // since): an empty one.
      this.tools.flow = (await getJson<ToolList>("/api/tools", {})).flow;
      if (!this.tools.flow) await post<State>("/api/flow/new", { time: this.time });
      this.tools.flow = true;
    }
    document.body.classList.toggle("flow", flow);
    $("nodes").hidden = !flow;
    if (flow && !this.nodes)
      this.nodes = new NodeView($("nodes"), this.tools.classes ?? [], { edit: (path, body) => this.act(path, body) });
    this.selectedNode = null;
    // The timeline: the flow's shot, else the server's.
    const range = flow ? await getJson<State>("/api/state", { tool }) : this.tools;
    this.first = range.firstFrame;
    this.last = range.lastFrame;
    this.timeline.setRange(this.first, this.last);
    await this.makePanel();
    this.time = Math.max(this.first, Math.min(this.time, this.last));
    this.shownVersion = 0;
    this.shownTime = Number.NaN;
    this.frameHeight = 0;
    this.shownScale = 1;
    await this.listPictures();
    await this.loadState();
    document.body.dataset.tool = tool;
    void this.follow(tool, ++this.following);
  }

  // The panel and the viewer's handles of the tool shown (of a flow: of its
  // selected node).
  private async makePanel(): Promise<void> {
    const tool = this.tool;
    this.desc = await getJson<Description>("/api/describe", { tool });
    this.panel = new Panel($("panel"), this.desc, {
      change: (id, v, g, refused) => this.change(id, v, g, refused),
      key: (id, action) => void this.act("/api/key", { id, action }),
      select: (id) => this.timeline.select(id),
      pageShown: (p) => this.viewer?.showHandles(this.handleChoice(), p),
    });
    this.timeline.select(null);
    this.viewer = new Viewer($("viewer"), this.desc, {
      change: (id, v, g) => this.change(id, v, g),
      dragEnd: (id, v, g) => void this.dragEnd(id, v, g),
    });
    ($("handles") as HTMLSelectElement).value = localStorage.getItem(`vorn.handles.${tool}`) ?? "all";
    this.viewer.showHandles(this.handleChoice(), this.panel.page);
    // A viewer made afresh shows the frame again.
    this.shownVersion = 0;
  }

  // The image inputs with a picture join the backdrop choices; the choice
  // stays when it is still offered.
  private async listPictures(): Promise<void> {
    const select = $("backdrop") as HTMLSelectElement;
    const chosen = select.value;
    for (const o of [...select.options]) if (o.value.startsWith("input:")) o.remove();
    if (this.tool === kFlow) {
      // A flow's pictures are its Read nodes, which the viewer can show.
      this.sequences = new Set();
      select.value = select.value.startsWith("input:") ? "checker" : select.value;
      return this.chooseBackdrop();
    }
    const { inputs, sequences } = await getJson<{ inputs: string[]; sequences: string[] }>("/api/inputs", { tool: this.tool });
    this.sequences = new Set(sequences);
    for (const name of inputs) select.append(new Option(`input “${name}”`, `input:${name}`));
    select.value = [...select.options].some((o) => o.value === chosen) ? chosen : "checker";
    await this.chooseBackdrop();
  }

  private async chooseBackdrop(): Promise<void> {
    const value = ($("backdrop") as HTMLSelectElement).value;
    let b: Backdrop = { kind: "checker" };
    if (value === "black" || value === "grey") b = { kind: value };
    this.backdropTime = Number.NaN;
    if (value.startsWith("input:")) {
      try {
        b = { kind: "picture", picture: await fetchInputPicture(this.tool, value.slice(6), this.time) };
        if (this.sequences.has(value.slice(6))) this.backdropTime = this.time;
      } catch (e) {
        this.fail(e);
      }
    }
    this.viewer.setBackdrop(b);
    document.body.dataset.backdrop = value;
  }

  // Every page hears of the changes made from any page: the server answers a
  // wait once the values have a newer version (or after a while with the same
  // one). A page busy with its own change leaves it to that change's answer.
  private async follow(tool: string, run: number): Promise<void> {
    while (tool === this.tool && run === this.following) {
      try {
        const seen = this.state?.version ?? 0;
        const s = await getJson<State>("/api/wait", { tool, version: seen, time: this.time });
        if (tool !== this.tool || run !== this.following) return;
        if (s.version > (this.state?.version ?? 0)) {
          if (!this.sending && !this.pending.size && !this.acting) await this.loadState();
          else await new Promise((r) => setTimeout(r, 200));
        }
      } catch {
        // Too many pages waiting, or the server busy: ask again a little later.
        await new Promise((r) => setTimeout(r, 2000));
      }
    }
  }

  private async loadState(): Promise<void> {
    this.apply(await getJson<State>("/api/state", { tool: this.tool, time: this.time }));
  }

  private apply(state: State): void {
    if (state.tool !== this.tool) return; // an answer for a tool no longer shown
    this.state = state;
    if (state.flow) {
      this.nodes?.update(state.flow);
      document.body.dataset.flow = `${state.flow.nodes.length}:${state.flow.connections.length}:${state.flow.selected}:${state.flow.viewed}`;
      if (state.firstFrame !== this.first || state.lastFrame !== this.last) {
        // Another flow's shot (loaded): the frame shown stays inside it.
        this.first = state.firstFrame;
        this.last = state.lastFrame;
        this.timeline.setRange(this.first, this.last);
        if (this.time < this.first || this.time > this.last) {
          void this.seek(this.time);
          return;
        }
      }
      // Another node selected: its panel first, then the newest state.
      if (this.describing) return;
      if (state.flow.selected !== this.selectedNode) {
        this.selectedNode = state.flow.selected;
        this.describing = true;
        void this.makePanel()
          .catch((e) => this.fail(e))
          .finally(() => {
            this.describing = false;
            this.apply(this.state);
          });
        return;
      }
    }
    this.panel.update(state);
    this.viewer.update(state);
    const undo = $("undo") as HTMLButtonElement;
    const redo = $("redo") as HTMLButtonElement;
    undo.disabled = !state.undo;
    redo.disabled = !state.redo;
    undo.textContent = state.undo ? `Undo ${state.undo}` : "Undo";
    redo.textContent = state.redo ? `Redo ${state.redo}` : "Redo";
    undo.title = `${undo.textContent} (Ctrl+Z)`;
    redo.title = `${redo.textContent} (Ctrl+Shift+Z)`;
    this.timeline.update(state, this.time);
    document.body.dataset.version = String(state.version);
    for (const w of state.warnings ?? []) this.message(w, false);
    this.requestFrame();
  }

  // The newest value of each changed control is sent, one request at a time.
  // A refusal goes to `refused` when given (the field that sent the value),
  // else to the message line.
  change(id: string, value: Value, gesture: string, refused?: (why: string) => void): void {
    this.pending.delete(id);
    this.pending.set(id, { value, gesture, refused });
    this.lastChangeAt = performance.now();
    if (gesture === this.lastGesture) this.gestureChanges += 1;
    else {
      this.lastGesture = gesture;
      this.gestureChanges = 1;
    }
    if (this.sentAt === 0) this.sentAt = performance.now();
    void this.pump();
  }

  private async pump(): Promise<void> {
    if (this.sending) return;
    this.sending = true;
    try {
      while (this.pending.size) {
        await this.readyToSend();
        if (!this.pending.size) break;
        const [id, { value, gesture, refused }] = this.pending.entries().next().value!;
        this.pending.delete(id);
        const start = this.sentAt || performance.now();
        this.sentAt = 0;
        try {
          const state = await post<State>("/api/change", {
            tool: this.tool,
            id,
            value,
            gesture,
            time: this.time,
            base: this.state?.version,
          });
          this.measures.push({ start, version: state.version, seen: false });
          this.apply(state);
        } catch (e) {
          if (refused && e instanceof ApiError) refused(e.message);
          else this.fail(e);
          await this.loadState();
        }
      }
    } finally {
      this.sending = false;
    }
  }

  // While a drag goes on, the next value waits for the frame of the one
  // before, so that frames keep coming; once the pointer rests, the newest
  // value goes at once and cancels the render of an older one.
  private async readyToSend(): Promise<void> {
    for (;;) {
      const waiting = this.state && this.shownVersion < this.state.version;
      if (!waiting || performance.now() - this.lastChangeAt > kRestMs) return;
      await new Promise((r) => setTimeout(r, 5));
    }
  }

  // A tool that reads the other points as they were at its last render (point
  // links) is told of the final position again once that render is shown.
  private async dragEnd(id: string, value: Value, gesture: string): Promise<void> {
    const c = this.desc.controls.find((x) => x.id === id);
    if (!c || !c.notifies || c.type !== "Poin") return;
    await this.settled();
    this.change(id, value, gesture);
  }

  // Resolves when every change is sent and its frame is shown.
  async settled(): Promise<void> {
    for (;;) {
      const state = this.state as State | undefined;
      if (state && !this.sending && !this.acting && !this.describing && !this.pending.size && this.shownScale === 1 && this.shownVersion >= state.version && this.shownTime === this.time)
        return;
      await new Promise((r) => setTimeout(r, 20));
    }
  }

  // A drag is under way: a gesture has sent more than one value and the
  // pointer has not rested since.
  private previewing(): boolean {
    return this.gestureChanges > 1 && performance.now() - this.lastChangeAt <= kRestMs;
  }

  // The exact frame in place of a preview, once the pointer rests.
  private refineLater(): void {
    if (this.refineTimer) return;
    const wait = Math.max(0, kRestMs - (performance.now() - this.lastChangeAt)) + 1;
    this.refineTimer = window.setTimeout(() => {
      this.refineTimer = 0;
      if (this.shownScale > 1) this.requestFrame();
    }, wait);
  }

  private requestFrame(): void {
    if (this.frameBusy) return;
    const tool = this.tool;
    const time = this.time;
    const width = this.state.width;
    const scale = this.previewing() && width > 0 ? Math.min(8, Math.max(2, Math.ceil(width / kPreviewWidth))) : 1;
    if (scale > 1 && this.shownScale > 1 && this.shownVersion >= this.state.version && this.shownTime === time)
      return this.refineLater(); // this version's preview is on screen already
    this.frameBusy = true;
    if (this.state.stepped) this.watchSimulation(tool);
    void fetchFrame(tool, time, this.state.version, this.frameHeight, scale)
      .then((frame) => {
        if (tool === this.tool) this.show(frame);
      })
      .catch((e) => {
        if (tool === this.tool) {
          this.fail(e);
          this.shownVersion = this.state.version;
          this.shownTime = time;
        }
      })
      .finally(() => {
        this.frameBusy = false;
        this.showSimulation(null);
        if (tool !== this.tool) return this.requestFrame();
        if (this.shownVersion < this.state.version || this.shownTime !== this.time) this.requestFrame();
        else if (this.shownScale > 1) this.refineLater();
        else if (this.timeline.playing) this.timeline.next(this.time, this.playRate(), this.playMode());
      });
  }

  // While a stepped tool simulates its way to the frame asked for, how far it
  // has come, under the viewer.
  private watchSimulation(tool: string): void {
    if (this.simulationTimer) return;
    const poll = async (): Promise<void> => {
      try {
        const s = await getJson<Simulation>("/api/simulation", { tool });
        if (this.frameBusy && tool === this.tool) this.showSimulation(s.running && s.target - s.from > 1 ? s : null);
      } catch {
        // the frame's own request reports what went wrong
      }
      this.simulationTimer = this.frameBusy && tool === this.tool ? window.setTimeout(() => void poll(), kSimulationPollMs) : 0;
    };
    this.simulationTimer = window.setTimeout(() => void poll(), kSimulationPollMs);
  }

  private showSimulation(s: Simulation | null): void {
    const box = $("simulation");
    box.hidden = !s;
    if (!s) return;
    ($("simulation-progress") as HTMLProgressElement).value = (s.frame - s.from) / (s.target - s.from);
    $("simulation-text").textContent = `simulating frame ${s.frame} → ${s.target}`;
  }

  private show(frame: FrameData): void {
    this.viewer.showFrame(frame);
    // An input read frame by frame: its picture at this frame, once read.
    if (!Number.isNaN(this.backdropTime) && this.backdropTime !== frame.time) {
      this.backdropTime = frame.time;
      void this.chooseBackdrop();
    }
    this.shownVersion = frame.version;
    this.shownTime = frame.time;
    this.shownScale = frame.scale;
    this.frameHeight = frame.height;
    this.stats.framesShown += 1;
    this.stats.lastRenderMs = frame.renderMs;
    $("render-ms").textContent = `${frame.width} × ${frame.height}, rendered in ${frame.renderMs.toFixed(1)} ms`;
    const now = performance.now();
    if (frame.scale === 1) this.stats.exactShownAt = now;
    this.measures = this.measures.filter((m) => {
      if (m.version > frame.version) return true;
      if (!m.seen) this.stats.latencies.push(now - m.start);
      m.seen = true;
      if (frame.scale > 1) return true;
      this.stats.exactLatencies.push(now - m.start);
      return false;
    });
    document.body.dataset.shown = `${frame.time}:${frame.version}`;
    document.body.dataset.scale = String(frame.scale);
  }

  private handleChoice(): HandleChoice {
    const v = ($("handles") as HTMLSelectElement).value;
    return v === "page" || v === "none" ? v : "all";
  }

  private playRate(): number {
    return Number(($("fps") as HTMLSelectElement).value) || 24;
  }

  private playMode(): PlayMode {
    return ($("play-mode") as HTMLSelectElement).value === "bounce" ? "bounce" : "loop";
  }

  private stopPlaying(): void {
    this.timeline?.stop();
    $("play").textContent = "Play";
    $("play").setAttribute("aria-pressed", "false");
  }

  // The tool and frame shown, in the address: a reload comes back to them.
  private remember(): void {
    history.replaceState(null, "", `#tool=${encodeURIComponent(this.tool)}&frame=${this.time}`);
  }

  async seek(time: number): Promise<void> {
    this.time = Math.max(this.first, Math.min(time, this.last));
    this.remember();
    await this.loadState();
  }

  async act(path: string, body: object = {}): Promise<void> {
    this.acting += 1;
    try {
      this.apply(await post<State>(path, { tool: this.tool, time: this.time, base: this.state?.version, ...body }));
    } catch (e) {
      this.fail(e);
    } finally {
      this.acting -= 1;
    }
  }

  private message(text: string, error: boolean): void {
    const m = $("message");
    m.textContent = text;
    m.classList.toggle("error", error);
  }

  private fail(e: unknown): void {
    this.message(e instanceof ApiError || e instanceof Error ? e.message : String(e), true);
  }

  private fileRequest(): { root: number; path: string } {
    return { root: Number(($("root") as HTMLSelectElement).value), path: ($("path") as HTMLInputElement).value.trim() };
  }

  private wireBar(): void {
    $("backdrop").addEventListener("change", () => void this.chooseBackdrop());
    $("panel-toggle").addEventListener("click", () => {
      const hidden = document.body.classList.toggle("panel-hidden");
      $("panel-toggle").setAttribute("aria-expanded", String(!hidden));
      this.viewer.showHandles(this.handleChoice(), this.panel.page);
    });
    // Which handles show is remembered per tool.
    $("handles").addEventListener("change", () => {
      localStorage.setItem(`vorn.handles.${this.tool}`, this.handleChoice());
      this.viewer.showHandles(this.handleChoice(), this.panel.page);
    });
    // Changes since the last Save or Load are held by the server alone:
    // leaving or reloading the page asks first.
    window.addEventListener("beforeunload", (e) => {
      if (this.state?.unsaved || this.pending.size) {
        e.preventDefault();
        e.returnValue = "";
      }
    });
    $("undo").addEventListener("click", () => void this.act("/api/undo"));
    $("redo").addEventListener("click", () => void this.act("/api/redo"));
    $("reset").addEventListener("click", () => void this.act("/api/reset"));
    $("play").addEventListener("click", () => {
      if (this.timeline.playing) return this.stopPlaying();
      this.timeline.start(this.time);
      $("play").textContent = "Pause";
      $("play").setAttribute("aria-pressed", "true");
      this.timeline.next(this.time, this.playRate(), this.playMode());
    });
    $("prev").addEventListener("click", () => void this.seek(this.time - 1));
    $("next").addEventListener("click", () => void this.seek(this.time + 1));
    for (const [id, direction] of [["prev-key", -1], ["next-key", 1]] as const)
      $(id).addEventListener("click", () => {
        const k = this.timeline.keyBeside(this.time, direction);
        if (k !== null) void this.seek(k);
      });
    $("save").addEventListener("click", async () => {
      try {
        const r = await post<{ saved: string }>("/api/save", { tool: this.tool, time: this.time, ...this.fileRequest() });
        this.message(`saved ${r.saved}`, false);
      } catch (e) {
        this.fail(e);
      }
    });
    $("load").addEventListener("click", async () => {
      try {
        const state = await post<State>("/api/load", { time: this.time, ...this.fileRequest() });
        if (state.tool !== this.tool) await this.open(state.tool);
        else this.apply(state);
        this.message(`loaded ${this.fileRequest().path}`, false);
      } catch (e) {
        this.fail(e);
      }
    });
    $("export").addEventListener("click", async () => {
      const frames = ($("frames") as HTMLInputElement).value.trim() || String(this.time);
      this.message(`exporting frames ${frames}…`, false);
      const exportButton = $("export") as HTMLButtonElement;
      const cancel = $("export-cancel") as HTMLButtonElement;
      exportButton.disabled = true;
      cancel.hidden = false;
      cancel.disabled = false;
      // The export answers when it ends; meanwhile its files are counted.
      let finished = false;
      const poll = async (): Promise<void> => {
        while (!finished) {
          await new Promise((resolve) => setTimeout(resolve, 250));
          try {
            const s = await getJson<{ running: boolean; done: number; total: number; cancelling: boolean }>("/api/export/status", {});
            if (!finished && s.running)
              this.message(`${s.cancelling ? "cancelling export" : "exporting"}: ${s.done} of ${s.total} file(s) written`, false);
          } catch {
            // the export's own answer says what went wrong
          }
        }
      };
      const polling = poll();
      try {
        const r = await post<{ written: string[]; cancelled?: boolean }>("/api/export", {
          tool: this.tool,
          time: this.time,
          frames,
          ...this.fileRequest(),
        });
        finished = true;
        const list = `${r.written.slice(0, 3).join(", ")}${r.written.length > 3 ? ", …" : ""}`;
        this.message(`${r.cancelled ? "export cancelled: " : ""}wrote ${r.written.length} file(s)${list ? ": " + list : ""}`, false);
      } catch (e) {
        finished = true;
        this.fail(e);
      } finally {
        exportButton.disabled = false;
        cancel.hidden = true;
        await polling;
      }
    });
    $("export-cancel").addEventListener("click", async () => {
      ($("export-cancel") as HTMLButtonElement).disabled = true;
      try {
        await post("/api/export/cancel", {});
      } catch (e) {
        this.fail(e);
      }
    });
    document.addEventListener("keydown", (e) => {
      const target = e.target as HTMLElement;
      // A text field keeps its own undo while it holds an edit not yet
      // committed; a number field whose value went in passes it to the host.
      const committedNumber = target instanceof HTMLInputElement && target.classList.contains("number") && !target.dataset.dirty;
      if (target instanceof HTMLInputElement && (target.type === "text" || target.type === "number") && !committedNumber) return;
      if ((e.ctrlKey || e.metaKey) && e.key.toLowerCase() === "z") {
        e.preventDefault();
        void this.act(e.shiftKey ? "/api/redo" : "/api/undo");
      } else if ((e.ctrlKey || e.metaKey) && e.key.toLowerCase() === "y") {
        e.preventDefault();
        void this.act("/api/redo");
      }
    });
  }
}

const page = new Page();
(window as unknown as { vorn: Page }).vorn = page;
page.start().catch((e) => {
  const m = document.getElementById("message");
  if (m) {
    m.textContent = e instanceof Error ? e.message : String(e);
    m.classList.add("error");
  }
});
