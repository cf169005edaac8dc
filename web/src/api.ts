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
  // order; the caller closes them once drawn.
  bands: { image: ImageBitmap; top: number }[];
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

// The frame comes as PNG, decoded by the browser off the page's thread: the
// raw RGBA rows (4 bytes a pixel) take the browser several times longer to
// take in. The PNG carries no colour chunks, so nothing is converted; the
// browser's default decoding is kept (asking it for no conversion or for
// unpremultiplied pixels takes it 1.6 times as long), as the canvas holds
// premultiplied pixels either way.
// A frame of `height` rows (the size of the frame before; 0 when unknown)
// comes in bands asked for at once: the server encodes them and the browser
// decodes them side by side. With `scale` N above 1 the frame comes reduced,
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
        bands: parts.map((p) => ({ image: p.image, top: p.top })),
      };
    }
    for (const p of parts) p.image.close();
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
  image: ImageBitmap;
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
  const image = await createImageBitmap(await response.blob());
  const header = (name: string) => Number(response.headers.get(name) ?? "0");
  return {
    width: header("X-Width"),
    height: header("X-Height"),
    time: header("X-Time"),
    version: header("X-Version"),
    renderMs: header("X-Render-Ms"),
    image,
    top,
  };
}
