// Requests to the vorn serve API. The token travels in an HttpOnly cookie set
// when the page was opened, so nothing here handles it.

export interface ColourGroup {
  name: string;
  number: number;
  channel: number;
}

export interface ControlInfo {
  caption: string;
  id: string;
  page: string;
  pageIndex: number;
  type: string; // "Numb" or "Poin"
  kind: string;
  control: string; // "SliC", "ScrC", "BtnC", "ChBC", "ComC", "ColC", "OffC"
  onImage: string | null; // "PntC", "XHrC", "CirC", "AngC"
  minAllowed: number | null;
  maxAllowed: number | null;
  minScale: number | null;
  maxScale: number | null;
  default: number | [number, number];
  items: string[];
  link: string | null;
  linkId: string | null;
  colourGroup: ColourGroup | null;
  notifies: boolean;
}

export interface Description {
  name: string;
  class: string;
  sequential: boolean;
  pages: string[];
  controls: ControlInfo[];
  images: { caption: string; id: string; required: boolean }[];
}

export interface ValueState {
  value: number | [number, number];
  animated: boolean;
  keys: number[];
}

// A stepped tool's simulation on the server: whether it is simulating, the
// frame it went on from, the last frame done and the frame it is going to.
export interface Simulation {
  running: boolean;
  from: number;
  frame: number;
  target: number;
  checkpoints: number;
  checkpointBytes: number;
}

// A flow's node: its class (Read, Merge, Write or a tool's), its image
// inputs with the node feeding each, and a Read, Merge or Write node's own
// settings.
export interface FlowNode {
  name: string;
  class: string;
  tool: string;
  inputs: { name: string; required: boolean; source: string | null }[];
  sequential: boolean;
  settings?: Record<string, string | number>;
}

export interface FlowGraph {
  nodes: FlowNode[];
  connections: { from: string; to: string; input: string }[];
  selected: string; // the node the panel shows ("" for none)
  viewed: string; // the node the viewer shows
  viewedIsDefault: boolean;
  shot?: Shot; // the flow's frames and the frame its simulations start at
}

export interface Shot {
  first: number;
  last: number;
  simulationStart: number;
}

export interface State {
  tool: string;
  version: number;
  time: number;
  values: Record<string, ValueState>;
  undo: string;
  redo: string;
  firstFrame: number;
  lastFrame: number;
  width: number;
  height: number;
  stepped: boolean;
  // Changes since the last Save or Load.
  unsaved?: boolean;
  warnings?: string[];
  flow?: FlowGraph; // the flow session's graph
}

export interface ToolList {
  tools: { name: string; class: string }[];
  initial: string;
  roots: string[];
  firstFrame: number;
  lastFrame: number;
  flow?: boolean; // a flow is open
  classes?: string[]; // the classes a flow's node may have
}

export interface FrameData {
  width: number;
  height: number;
  time: number;
  version: number;
  renderMs: number;
  // 1 for the frame itself; N for a preview, each pixel an N x N block.
  scale: number;
  // The frame's rows from `top` down (rows of the preview for a preview), in
  // order: the tool's premultiplied RGBA bytes as rendered, colour possibly
  // above alpha (additive light).
  bands: { rgba: Uint8Array; width: number; rows: number; top: number }[];
}

// A refused request: the server's message, shown to the user.
export class ApiError extends Error {
  constructor(
    message: string,
    readonly status: number,
  ) {
    super(message);
  }
}

async function check(response: Response): Promise<Response> {
  if (response.ok) return response;
  let message = `${response.status} ${response.statusText}`;
  try {
    const body = await response.json();
    if (body && typeof body.error === "string") message = body.error;
  } catch {
    // not JSON: keep the status text
  }
  throw new ApiError(message, response.status);
}

export async function getJson<T>(path: string, query: Record<string, string | number>): Promise<T> {
  const q = new URLSearchParams();
  for (const [k, v] of Object.entries(query)) q.set(k, String(v));
  const response = await check(await fetch(`${path}?${q}`, { cache: "no-store" }));
  return (await response.json()) as T;
}

export async function post<T>(path: string, body: object): Promise<T> {
  const response = await check(
    await fetch(path, {
      method: "POST",
      headers: { "Content-Type": "application/json" },
      body: JSON.stringify(body),
    }),
  );
  return (await response.json()) as T;
}

// The frame comes as the raw RGBA rows the tools rendered, premultiplied,
// colour possibly above alpha: the browser's image decoder would take a PNG
// of them for straight alpha (premultiplying again and losing colour above
// alpha), and decoding the PNG here costs more than the raw rows take to
// arrive (1280 x 720: about 25 ms to fetch either; PNG decoding 20-90 ms more).
// A frame of `height` rows (the size of the frame before; 0 when unknown)
// comes in bands asked for at once, side by side. With `scale` N above 1 the
// frame comes reduced, each pixel the average of an N x N block (a preview
// while dragging).
export async function fetchFrame(
  tool: string,
  time: number,
  version: number,
  height: number,
  scale = 1,
): Promise<FrameData> {
  const rowsAsked = Math.ceil(height / scale);
  let bands = rowsAsked >= kMinBandRows * kBands ? kBands : 1;
  for (let attempt = 0; ; attempt++) {
    let parts: Band[];
    try {
      parts = await Promise.all(
        Array.from({ length: bands }, (_, i) => {
          const top = Math.floor((rowsAsked * i) / bands);
          const rows = bands === 1 ? 0 : Math.floor((rowsAsked * (i + 1)) / bands) - top;
          return fetchBand(tool, time, version, top, rows, scale);
        }),
      );
    } catch (e) {
      // The frame is smaller than the one before: asked for whole.
      if (bands > 1 && e instanceof ApiError && e.status === 400) {
        bands = 1;
        continue;
      }
      throw e;
    }
    const versions = parts.map((p) => p.version);
    const newest = Math.max(...versions);
    const whole = bands === 1 || parts[0].height === height;
    // Bands of two renders (a change came between them), or of a frame of
    // another size: asked for again.
    if ((whole && versions.every((v) => v === newest)) || attempt >= 3) {
      return {
        ...parts[0],
        version: Math.min(...versions),
        scale,
        bands: parts.map((p) => ({ rgba: p.rgba, width: p.bandWidth, rows: p.rows, top: p.top })),
      };
    }
    version = newest;
    if (!whole) bands = 1;
  }
}

const kBands = 2;
const kMinBandRows = 64;

interface Band {
  width: number;
  height: number;
  time: number;
  version: number;
  renderMs: number;
  rgba: Uint8Array;
  bandWidth: number;
  rows: number;
  top: number;
}

async function fetchBand(tool: string, time: number, version: number, top: number, rows: number, scale: number): Promise<Band> {
  const q = new URLSearchParams({ tool, time: String(time), version: String(version), format: "raw" });
  if (scale > 1) q.set("scale", String(scale));
  if (rows > 0) {
    q.set("top", String(top));
    q.set("rows", String(rows));
  }
  const response = await check(await fetch(`/api/frame?${q}`, { cache: "no-store" }));
  const rgba = new Uint8Array(await response.arrayBuffer());
  const header = (name: string) => Number(response.headers.get(name) ?? "0");
  // A preview's rows are as wide as the frame reduced, a part pixel counting whole.
  const bandWidth = Math.ceil(header("X-Width") / scale);
  return {
    width: header("X-Width"),
    height: header("X-Height"),
    time: header("X-Time"),
    version: header("X-Version"),
    renderMs: header("X-Render-Ms"),
    rgba,
    bandWidth,
    rows: bandWidth ? Math.floor(rgba.length / (bandWidth * 4)) : 0,
    top,
  };
}

// The picture of an image input, to show the frame over.
export interface Picture {
  width: number;
  height: number;
  rgba: Uint8Array;
}

export async function fetchInputPicture(tool: string, name: string, time: number): Promise<Picture> {
  const q = new URLSearchParams({ tool, name, time: String(time) });
  const response = await check(await fetch(`/api/input?${q}`, { cache: "no-store" }));
  return {
    width: Number(response.headers.get("X-Width") ?? "0"),
    height: Number(response.headers.get("X-Height") ?? "0"),
    rgba: new Uint8Array(await response.arrayBuffer()),
  };
}
