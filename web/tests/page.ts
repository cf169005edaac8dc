// Helpers that drive the page the way a user does and read what it shows.
import { Page } from "playwright-core";
import { assert } from "./harness";

export interface ControlInfo {
  caption: string;
  id: string;
  pageIndex: number;
  type: string;
  control: string;
  onImage: string | null;
  items: string[];
  colourGroup: { name: string; number: number; channel: number } | null;
}

export interface Description {
  name: string;
  pages: string[];
  controls: ControlInfo[];
}

export type Values = Record<string, { value: number | [number, number]; animated: boolean; keys: number[] }>;

export async function openTool(page: Page, url: string, tool: string): Promise<void> {
  // A change of the fragment alone would not load the page again.
  if (page.url() !== "about:blank") await page.goto("about:blank");
  await page.goto(`${url}#tool=${encodeURIComponent(tool)}`);
  await page.waitForFunction((t) => document.body.dataset.tool === t, tool);
  await settled(page);
}

// Every change sent and the frame of the newest values shown.
export async function settled(page: Page): Promise<void> {
  await page.evaluate(() => (window as any).vorn.settled());
}

export async function describe(page: Page, tool: string): Promise<Description> {
  return page.evaluate(async (t) => {
    const r = await fetch(`/api/describe?tool=${encodeURIComponent(t)}`);
    return r.json();
  }, tool);
}

// The server's values at the page's current frame.
export async function values(page: Page, tool: string): Promise<Values> {
  return page.evaluate(async (t) => {
    const time = (document.getElementById("time") as HTMLInputElement).value;
    const r = await fetch(`/api/state?tool=${encodeURIComponent(t)}&time=${time}`);
    return (await r.json()).values;
  }, tool);
}

// A digest of the pixels on the viewer's canvas.
export async function frameDigest(page: Page): Promise<string> {
  return page.evaluate(() => {
    const c = document.getElementById("frame") as HTMLCanvasElement;
    const d = c.getContext("2d")!.getImageData(0, 0, c.width, c.height).data;
    let h1 = 0x811c9dc5;
    let h2 = 0;
    for (let i = 0; i < d.length; i += 1) {
      h1 = Math.imul(h1 ^ d[i], 16777619);
      h2 = (h2 + d[i] * (i % 251)) % 1000000007;
    }
    return `${c.width}x${c.height}:${(h1 >>> 0).toString(16)}:${h2}`;
  });
}

export async function showPage(page: Page, index: number): Promise<void> {
  await page.click(`.tab[data-page="${index}"]`);
}

export async function dragHandle(page: Page, id: string, dx: number, dy: number): Promise<void> {
  const grip = page.locator(`[data-handle="${id}"] .grip`);
  const box = await grip.boundingBox();
  assert(box, `no on-image handle for ${id}`);
  const x = box.x + box.width / 2;
  const y = box.y + box.height / 2;
  await page.mouse.move(x, y);
  await page.mouse.down();
  const steps = 8;
  for (let i = 1; i <= steps; i++) await page.mouse.move(x + (dx * i) / steps, y + (dy * i) / steps);
  await page.mouse.up();
  await settled(page);
  // A tool told of the drag's end once more (point links) answers in turn.
  await page.waitForTimeout(100);
  await settled(page);
}

// The frame on the canvas against the raw frame the server rendered (the one
// named by the page's data-shown): alpha exact everywhere, colour exact where
// opaque, and elsewhere as a canvas keeps the raw pixels put on it.
export async function shownAgainstRendered(
  page: Page,
  tool: string,
): Promise<{ size: string; want: string; bad: number; first: string; clear: number }> {
  return page.evaluate(async (t) => {
    const [time, version] = document.body.dataset.shown!.split(":");
    const r = await fetch(`/api/frame?tool=${t}&time=${time}&version=${version}&format=raw`);
    const w = Number(r.headers.get("X-Width"));
    const h = Number(r.headers.get("X-Height"));
    const raw = new Uint8ClampedArray(await r.arrayBuffer());
    const c = document.getElementById("frame") as HTMLCanvasElement;
    const shown = c.getContext("2d")!.getImageData(0, 0, c.width, c.height).data;
    const scratch = document.createElement("canvas");
    scratch.width = w;
    scratch.height = h;
    const sctx = scratch.getContext("2d")!;
    sctx.putImageData(new ImageData(raw, w, h), 0, 0);
    const put = sctx.getImageData(0, 0, w, h).data;
    let bad = 0;
    let first = "";
    let clear = 0;
    for (let i = 0; i < raw.length; i += 4) {
      const opaque = raw[i + 3] === 255;
      if (!opaque) clear += 1;
      for (let k = 0; k < 4; k++) {
        const want = opaque || k === 3 ? raw[i + k] : put[i + k];
        if (shown[i + k] !== want) {
          bad += 1;
          if (!first) first = `pixel ${i / 4} channel ${k}: ${shown[i + k]}, rendered ${raw[i + k]} (alpha ${raw[i + 3]})`;
        }
      }
    }
    return { size: `${c.width}x${c.height}`, want: `${w}x${h}`, bad, first, clear };
  }, tool);
}
