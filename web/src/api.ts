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
}

export interface ToolList {
  tools: { name: string; class: string }[];
  initial: string;
  roots: string[];
  firstFrame: number;
  lastFrame: number;
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

// The frame comes as PNG, decoded here rather than by the browser's image
// decoder: that one would take the bytes for straight alpha (premultiplying
// them again, and losing colour above alpha), while the viewer needs the
// tool's bytes as they are. The inflating is the browser's own
// (DecompressionStream), off the page's thread; the PNG is about a tenth of
// the raw rows, which the browser takes in far more slowly.
// A frame of `height` rows (the size of the frame before; 0 when unknown)
// comes in bands asked for at once: the server encodes them and the browser
// inflates them side by side. With `scale` N above 1 the frame comes reduced,
// each pixel the average of an N x N block (a preview while dragging).
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
  const q = new URLSearchParams({ tool, time: String(time), version: String(version), format: "png" });
  if (scale > 1) q.set("scale", String(scale));
  if (rows > 0) {
    q.set("top", String(top));
    q.set("rows", String(rows));
  }
  const response = await check(await fetch(`/api/frame?${q}`, { cache: "no-store" }));
  const png = await decodePng(new Uint8Array(await response.arrayBuffer()));
  const header = (name: string) => Number(response.headers.get(name) ?? "0");
  return {
    width: header("X-Width"),
    height: header("X-Height"),
    time: header("X-Time"),
    version: header("X-Version"),
    renderMs: header("X-Render-Ms"),
    rgba: png.rgba,
    bandWidth: png.width,
    rows: png.height,
    top,
  };
}

// An 8-bit RGBA PNG without interlacing (what the server writes) to its
// bytes, untouched.
export async function decodePng(bytes: Uint8Array): Promise<{ width: number; height: number; rgba: Uint8Array }> {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  const bad = (why: string) => new ApiError(`the frame's PNG cannot be read: ${why}`, 0);
  const signature = [137, 80, 78, 71, 13, 10, 26, 10];
  if (bytes.length < 8 || signature.some((b, i) => bytes[i] !== b)) throw bad("no PNG signature");
  let width = 0;
  let height = 0;
  const data: Uint8Array[] = [];
  for (let at = 8; at + 8 <= bytes.length; ) {
    const length = view.getUint32(at);
    const type = String.fromCharCode(...bytes.subarray(at + 4, at + 8));
    const body = at + 8;
    if (body + length > bytes.length) throw bad("a chunk runs past the end");
    if (type === "IHDR") {
      width = view.getUint32(body);
      height = view.getUint32(body + 4);
      const [depth, colour, , , interlace] = bytes.subarray(body + 8, body + 13);
      if (depth !== 8 || colour !== 6 || interlace !== 0) throw bad("not 8-bit RGBA without interlacing");
    } else if (type === "IDAT") {
      data.push(bytes.subarray(body, body + length));
    } else if (type === "IEND") {
      break;
    }
    at = body + length + 4;
  }
  if (!width || !height || !data.length) throw bad("no header or no image data");
  const stream = new Blob(data).stream().pipeThrough(new DecompressionStream("deflate"));
  const filtered = new Uint8Array(await new Response(stream).arrayBuffer());
  const stride = width * 4;
  if (filtered.length < (stride + 1) * height) throw bad("too little image data");
  const rgba = new Uint8Array(stride * height);
  for (let y = 0; y < height; y++) {
    const src = y * (stride + 1) + 1;
    const row = y * stride;
    const up = row - stride;
    const filter = filtered[src - 1];
    if (filter === 0) rgba.set(filtered.subarray(src, src + stride), row);
    else if (filter === 2 && y > 0) for (let i = 0; i < stride; i++) rgba[row + i] = filtered[src + i] + rgba[up + i];
    else if (filter === 2) rgba.set(filtered.subarray(src, src + stride), row);
    else if (filter === 1)
      for (let i = 0; i < stride; i++) rgba[row + i] = filtered[src + i] + (i >= 4 ? rgba[row + i - 4] : 0);
    else if (filter === 3)
      for (let i = 0; i < stride; i++) {
        const a = i >= 4 ? rgba[row + i - 4] : 0;
        const b = y > 0 ? rgba[up + i] : 0;
        rgba[row + i] = filtered[src + i] + ((a + b) >> 1);
      }
    else if (filter === 4)
      for (let i = 0; i < stride; i++) {
        const a = i >= 4 ? rgba[row + i - 4] : 0;
        const b = y > 0 ? rgba[up + i] : 0;
        const c = i >= 4 && y > 0 ? rgba[up + i - 4] : 0;
        const p = a + b - c;
        const pa = Math.abs(p - a);
        const pb = Math.abs(p - b);
        const pc = Math.abs(p - c);
        rgba[row + i] = filtered[src + i] + (pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
      }
    else throw bad(`unknown row filter ${filter}`);
  }
  return { width, height, rgba };
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
