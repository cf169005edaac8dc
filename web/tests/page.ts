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
// named by the page's data-shown), composited here as premultiplied colour
// "over" the backdrop the page names in data-backdrop: min(255, C + (1 - a)
// B). The checkerboard is 16 image pixels a square in levels 102 and 153; an
// input's picture is the server's raw bytes of it. Also counts the pixels
// whose colour exceeds their alpha (additive light).
export async function shownAgainstRendered(
  page: Page,
  tool: string,
): Promise<{ size: string; want: string; bad: number; first: string; clear: number; light: number }> {
  return page.evaluate(async (t) => {
    const [time, version] = document.body.dataset.shown!.split(":");
    const r = await fetch(`/api/frame?tool=${t}&time=${time}&version=${version}&format=raw`);
    const w = Number(r.headers.get("X-Width"));
    const h = Number(r.headers.get("X-Height"));
    const raw = new Uint8Array(await r.arrayBuffer());
    const backdrop = document.body.dataset.backdrop ?? "checker";
    let picture: Uint8Array | null = null;
    if (backdrop.startsWith("input:")) {
      const p = await fetch(`/api/input?tool=${t}&name=${encodeURIComponent(backdrop.slice(6))}&time=${time}`);
      if (Number(p.headers.get("X-Width")) !== w || Number(p.headers.get("X-Height")) !== h)
        throw new Error("the input's picture is not the frame's size");
      picture = new Uint8Array(await p.arrayBuffer());
    }
    const under = (x: number, y: number, k: number): number => {
      if (picture) return picture[(y * w + x) * 4 + k];
      if (backdrop === "black") return 0;
      if (backdrop === "grey") return 128;
      return (Math.floor(x / 16) + Math.floor(y / 16)) % 2 === 0 ? 102 : 153;
    };
    const c = document.getElementById("frame") as HTMLCanvasElement;
    const shown = c.getContext("2d")!.getImageData(0, 0, c.width, c.height).data;
    let bad = 0;
    let first = "";
    let clear = 0;
    let light = 0;
    for (let i = 0; i < raw.length; i += 4) {
      const a = raw[i + 3] / 255;
      if (a < 1) clear += 1;
      if (raw[i] > raw[i + 3] || raw[i + 1] > raw[i + 3] || raw[i + 2] > raw[i + 3]) light += 1;
      const x = (i / 4) % w;
      const y = Math.floor(i / 4 / w);
      for (let k = 0; k < 4; k++) {
        const want = k === 3 ? 255 : Math.min(255, raw[i + k] + Math.round((1 - a) * under(x, y, k)));
        if (shown[i + k] !== want) {
          bad += 1;
          if (!first) first = `pixel (${x}, ${y}) channel ${k}: ${shown[i + k]}, want ${want} (rendered ${raw[i + k]}, alpha ${raw[i + 3]})`;
        }
      }
    }
    return { size: `${c.width}x${c.height}`, want: `${w}x${h}`, bad, first, clear, light };
  }, tool);
}
