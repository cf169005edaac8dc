// Browser tests of the page as an artist works it: slider and arrow steps,
// lists that apply on choice, key markers and jumps, playback at a rate,
// the tab list from the keyboard, and the frame kept across a reload.
import { Page } from "playwright-core";
import { assert, test } from "./harness";
import { describe, openTool, settled, showPage, values } from "./page";

// Undoes every step the test made, so the tests after it find the tool as
// they would without it (values and an empty undo history).
async function reset(page: Page, tool: string): Promise<void> {
  await page.evaluate(async (t) => {
    for (let i = 0; i < 100; i++) {
      const state = await (await fetch(`/api/state?tool=${encodeURIComponent(t)}&time=0`)).json();
      if (!state.undo) return;
      const r = await fetch("/api/undo", { method: "POST", headers: { "Content-Type": "application/json" }, body: JSON.stringify({ tool: t, time: 0 }) });
      if (!r.ok) throw new Error(`undo ${t}: ${r.status}`);
    }
    throw new Error(`${t}: the undo history did not empty`);
  }, tool);
}

async function undoCaption(page: Page): Promise<string> {
  return (await page.locator("#undo").textContent()) ?? "";
}

async function controlRow(page: Page, tool: string, caption: string) {
  const c = (await describe(page, tool)).controls.find((o) => o.caption === caption);
  assert(c, `no control "${caption}"`);
  await showPage(page, c.pageIndex);
  return { c, row: page.locator(`[data-id="${c.id}"]`) };
}

test("arrow keys step a whole control by whole numbers, a run of presses is one undo step", async ({ page, url }) => {
  await openTool(page, url, "Candle");
  const { c, row } = await controlRow(page, "Candle", "Seed");
  const before = (await values(page, "Candle"))[c.id].value as number;
  const slider = row.locator('input[type="range"]');
  await slider.focus();
  for (let i = 0; i < 5; i++) await page.keyboard.press("ArrowUp");
  await page.keyboard.press("Shift+ArrowUp");
  await settled(page);
  const after = (await values(page, "Candle"))[c.id].value as number;
  assert(after === before + 15, `Seed ${before} → ${after} after five presses and one Shift press (want +15)`);
  await page.click("#undo");
  await settled(page);
  const undone = (await values(page, "Candle"))[c.id].value as number;
  assert(undone === before, `one undo brings Seed back to ${before}, not ${undone}`);

  // A control with a fractional scale steps by a hundredth of it: Scale 0.001–10 by 0.1.
  await openTool(page, url, "Bleb");
  const scale = await controlRow(page, "Bleb", "Scale");
  const s0 = (await values(page, "Bleb"))[scale.c.id].value as number;
  await scale.row.locator('input[type="range"]').focus();
  await page.keyboard.press("ArrowUp");
  await page.keyboard.press("Alt+ArrowUp");
  await settled(page);
  const s1 = (await values(page, "Bleb"))[scale.c.id].value as number;
  assert(Math.abs(s1 - (s0 + 0.11)) < 1e-9, `Scale ${s0} → ${s1} (want +0.1 then +0.01)`);
  await reset(page, "Bleb");
});

test("arrowing through a closed list applies nothing until Enter", async ({ page, url }) => {
  await openTool(page, url, "Candle");
  const { c, row } = await controlRow(page, "Candle", "Demos");
  const before = await values(page, "Candle");
  const caption = await undoCaption(page);
  await row.locator("select").focus();
  await page.keyboard.press("ArrowDown");
  await page.keyboard.press("ArrowDown");
  await settled(page);
  const moved = await values(page, "Candle");
  assert(JSON.stringify(moved) === JSON.stringify(before), "arrowing through the list changed values");
  assert((await undoCaption(page)) === caption, "arrowing through the list made an undo step");
  await page.keyboard.press("Enter");
  await settled(page);
  const chosen = await values(page, "Candle");
  assert(JSON.stringify(chosen) !== JSON.stringify(before), `Enter applies the item reached (${c.caption})`);
  assert((await undoCaption(page)) !== caption, "the choice is an undo step");
  await reset(page, "Candle");
});

test("the timeline marks the selected control's keys and jumps between them", async ({ page, url }) => {
  await openTool(page, url, "Bleb");
  const { c, row } = await controlRow(page, "Bleb", "Amplitude 1");
  for (const frame of [5, 20]) {
    await page.fill("#frame-number", String(frame));
    await page.press("#frame-number", "Enter");
    await settled(page);
    await row.locator(".key").click();
    await settled(page);
  }
  const keys = (await values(page, "Bleb"))[c.id].keys;
  assert(keys.join() === "5,20", `keys set by the page: ${keys.join()}`);
  await row.locator("label").click();
  const marks = await page.locator("#key-marks .mark.own").evaluateAll((m) => m.map((e) => (e as HTMLElement).dataset.frame));
  assert(marks.join() === "5,20", `marks of the selected control: ${marks.join()}`);
  // The marks sit over the slider at their frames (0–48 across its width).
  const track = (await page.locator("#key-marks").boundingBox())!;
  const slider = (await page.locator("#time").boundingBox())!;
  const view = (await page.locator("#viewer").boundingBox())!;
  assert(slider.width > 0.9 * view.width, `the slider is ${slider.width} px under a ${view.width} px viewer`);
  const mark = (await page.locator('#key-marks .mark.own[data-frame="20"]').boundingBox())!;
  const at = (mark.x + mark.width / 2 - track.x) / track.width;
  assert(Math.abs(at - 20 / 48) < 0.02, `the mark of frame 20 at ${at.toFixed(3)} of the track`);

  const frame = async () => Number(await page.inputValue("#frame-number"));
  await page.fill("#frame-number", "0");
  await page.press("#frame-number", "Enter");
  await settled(page);
  await page.click("#next-key");
  await settled(page);
  assert((await frame()) === 5, `next key from 0: ${await frame()}`);
  await page.click("#next-key");
  await settled(page);
  assert((await frame()) === 20, `next key from 5: ${await frame()}`);
  await page.click("#prev-key");
  await settled(page);
  assert((await frame()) === 5, `previous key from 20: ${await frame()}`);
  // The frame is kept across a reload.
  await page.reload();
  await page.waitForFunction(() => document.body.dataset.tool === "Bleb");
  await settled(page);
  assert((await frame()) === 5, `after a reload: frame ${await frame()}`);
  await reset(page, "Bleb");
});

test("Play runs at the chosen rate and loops", async ({ page, url }) => {
  await openTool(page, url, "Bleb");
  await page.selectOption("#fps", "12");
  const start = Date.now();
  await page.click("#play");
  await page.waitForTimeout(2000);
  await page.click("#play");
  const seconds = (Date.now() - start) / 1000;
  const reached = Number(await page.inputValue("#frame-number"));
  // At 12 fps the frame due is 12 a second: never ahead of the clock, and
  // (dropping frames when they come late) not far behind it.
  assert(reached <= Math.ceil(seconds * 12) + 1, `frame ${reached} after ${seconds} s at 12 fps is ahead of the clock`);
  assert(reached >= 8, `frame ${reached} after ${seconds} s at 12 fps`);
  // Started near the end, playback wraps to the first frame.
  await page.fill("#frame-number", "46");
  await page.press("#frame-number", "Enter");
  await settled(page);
  await page.selectOption("#fps", "24");
  await page.click("#play");
  await page.waitForTimeout(1000);
  await page.click("#play");
  const wrapped = Number(await page.inputValue("#frame-number"));
  assert(wrapped < 40, `playing from 46 for a second at 24 fps ends at ${wrapped}, not wrapped`);
});

test("tabs follow the tablist pattern and the page logs no errors", async ({ page, url }) => {
  const errors: string[] = [];
  page.on("console", (m) => {
    if (m.type() === "error") errors.push(m.text());
  });
  await openTool(page, url, "Bubbles");
  await page.locator('.tab[data-page="0"]').focus();
  await page.keyboard.press("ArrowRight");
  const selected = await page.locator('.tab[aria-selected="true"]').getAttribute("data-page");
  assert(selected === "1", `ArrowRight selects page 1, not ${selected}`);
  const focused = await page.evaluate(() => (document.activeElement as HTMLElement).dataset.page);
  assert(focused === "1", "focus follows the selected tab");
  assert((await page.locator('.tab[tabindex="0"]').count()) === 1, "one tab is in the Tab order");
  const unnamed = await page.locator("button").evaluateAll((bs) =>
    bs.filter((b) => !(b.getAttribute("aria-label") || b.textContent?.trim())).length,
  );
  assert(unnamed === 0, `${unnamed} buttons without an accessible name`);
  const keyNames = await page.locator(".key").evaluateAll((bs) => bs.filter((b) => !b.getAttribute("aria-label")).length);
  assert(keyNames === 0, `${keyNames} key buttons without a name`);
  assert(errors.length === 0, `console errors: ${errors.join("; ")}`);
});

// Sets a value through the API, as another client would, then opens the tool anew.
async function setValue(page: Page, url: string, tool: string, caption: string, value: number | [number, number]) {
  const c = (await describe(page, tool)).controls.find((o) => o.caption === caption)!;
  await page.evaluate(
    async ([t, id, v]) => {
      const r = await fetch("/api/change", {
        method: "POST",
        headers: { "Content-Type": "application/json" },
        body: JSON.stringify({ tool: t, id, value: v, gesture: `test-${id}`, time: 0 }),
      });
      if (!r.ok) throw new Error(`change ${id}: ${r.status}`);
    },
    [tool, c.id, value] as const,
  );
  return c;
}

async function gripCentre(page: Page, id: string): Promise<[number, number]> {
  const b = (await page.locator(`[data-handle="${id}"] .grip`).boundingBox())!;
  return [b.x + b.width / 2, b.y + b.height / 2];
}

test("Bleb's angle handles sit on their lobes under Rotate, labels inside the viewer", async ({ page, url }) => {
  await openTool(page, url, "Bleb");
  await setValue(page, url, "Bleb", "Rotate", 144);
  const angle = await setValue(page, url, "Bleb", "Angle 1", 27.7);
  const centre = (await describe(page, "Bleb")).controls.find((c) => c.caption === "XY Center")!;
  await openTool(page, url, "Bleb");
  const [cx, cy] = await gripCentre(page, centre.id);
  const [ax, ay] = await gripCentre(page, angle.id);
  // The lobe's direction in the image (y down): "Rotate" less the angle.
  const drawn = (Math.atan2(ay - cy, ax - cx) * 180) / Math.PI;
  assert(Math.abs(drawn - (144 - 27.7)) < 1.5, `Angle 1's grip at ${drawn.toFixed(1)}°, the lobe at ${144 - 27.7}°`);
  // Dragging the grip to straight right of the centre turns the lobe there: angle = Rotate.
  const reach = Math.hypot(ax - cx, ay - cy);
  await page.mouse.move(ax, ay);
  await page.mouse.down();
  for (let i = 1; i <= 8; i++) {
    const t = ((1 - i / 8) * (144 - 27.7) * Math.PI) / 180;
    await page.mouse.move(cx + reach * Math.cos(t), cy + reach * Math.sin(t));
  }
  await page.mouse.up();
  await settled(page);
  const turned = (await values(page, "Bleb"))[angle.id].value as number;
  assert(Math.abs((((turned - 144) % 360) + 360) % 360) < 1.5 || Math.abs((((turned - 144) % 360) + 360) % 360 - 360) < 1.5,
    `dragged to the right, Angle 1 is ${turned}, want 144 (mod 360)`);
  const view = (await page.locator("#viewer").boundingBox())!;
  const labels = await page.locator(".handles .label").evaluateAll((ls) => ls.map((l) => l.getBoundingClientRect().toJSON()));
  for (const l of labels)
    assert(l.left >= view.x - 0.5 && l.right <= view.x + view.width + 0.5 && l.top >= view.y - 0.5 && l.bottom <= view.y + view.height + 0.5,
      `a label (${JSON.stringify(l)}) is cut at the viewer's edge`);
  const scale = (await describe(page, "Bleb")).controls.find((c) => c.caption === "Scale")!;
  await setValue(page, url, "Bleb", "Angle 1", 0);
  await setValue(page, url, "Bleb", "Rotate", 0);
  await openTool(page, url, "Bleb");
  const [sx, sy] = await gripCentre(page, scale.id);
  const [bx, by] = await gripCentre(page, angle.id);
  assert(Math.hypot(sx - bx, sy - by) > 20, "the Scale grip lies on Angle 1's");
  await reset(page, "Bleb");
});

test("handles can be hidden per tool, moved from the keyboard and found outside the frame", async ({ page, url }) => {
  await openTool(page, url, "Bleb");
  const centre = (await describe(page, "Bleb")).controls.find((c) => c.caption === "XY Center")!;
  const total = await page.locator("[data-handle]").count();
  await page.selectOption("#handles", "page");
  await showPage(page, 1);
  const onPage = await page.locator("[data-handle]").count();
  assert(onPage > 0 && onPage < total, `handles of page "A1": ${onPage} of ${total}`);
  await page.selectOption("#handles", "none");
  await openTool(page, url, "Bleb");
  assert((await page.locator("[data-handle]").count()) === 0, "no handles after choosing none and opening the tool again");
  await page.selectOption("#handles", "all");

  const before = (await values(page, "Bleb"))[centre.id].value as [number, number];
  const caption = await undoCaption(page);
  await page.locator(`[data-handle="${centre.id}"]`).focus();
  for (let i = 0; i < 3; i++) await page.keyboard.press("ArrowRight");
  await page.keyboard.press("Shift+ArrowDown");
  await settled(page);
  const moved = (await values(page, "Bleb"))[centre.id].value as [number, number];
  const { width, height } = await page.evaluate(() => (window as any).vorn.state);
  assert(Math.abs(moved[0] - (before[0] + 3 / width)) < 1e-6 && Math.abs(moved[1] - (before[1] + 10 / height)) < 1e-6,
    `XY Center ${before} → ${moved} after three pixels right and ten down`);
  await page.click("#undo");
  await settled(page);
  const back = (await values(page, "Bleb"))[centre.id].value as [number, number];
  assert(back[0] === before[0] && back[1] === before[1], `one undo step brings the centre back: ${back}`);
  assert((await undoCaption(page)) === caption, "the presses were one undo step");

  await setValue(page, url, "Bleb", "XY Center", [5, 0.5]);
  await openTool(page, url, "Bleb");
  const grip = page.locator(`[data-handle="${centre.id}"] .grip`);
  assert((await grip.getAttribute("class"))!.includes("outside"), "a point outside the frame is marked");
  const b = (await grip.boundingBox())!;
  const view = (await page.locator("#viewer").boundingBox())!;
  assert(b.x + b.width <= view.x + view.width + 0.5 && b.x + b.width > view.x + view.width - 30, `the marker of a point outside the frame sits at the viewer's edge: ${JSON.stringify(b)} in ${JSON.stringify(view)}`);
  await reset(page, "Bleb");
});

test("a narrow window keeps the header on one line and gives the viewer the room", async ({ page, url }) => {
  await page.setViewportSize({ width: 900, height: 700 });
  await openTool(page, url, "Bleb");
  const layout = await page.evaluate(() => ({
    scroll: document.documentElement.scrollWidth - document.documentElement.clientWidth,
    header: document.querySelector("header")!.getBoundingClientRect().height,
    button: document.getElementById("undo")!.getBoundingClientRect().height,
    viewer: document.getElementById("viewer")!.getBoundingClientRect().width,
    undo: document.getElementById("undo")!.getBoundingClientRect().width,
  }));
  assert(layout.scroll <= 0, `the page scrolls sideways by ${layout.scroll} px`);
  assert(layout.header < 2 * layout.button, `the header is ${layout.header} px tall: it wraps`);
  assert(layout.viewer >= 0.6 * 900, `the viewer is ${layout.viewer} px of 900`);
  // A long undo caption does not change the button's width.
  const c = (await describe(page, "Bleb")).controls.find((o) => o.caption === "Amplitude 1")!;
  await showPage(page, c.pageIndex);
  await page.fill(`[data-id="${c.id}"] input.number`, "0.5");
  await page.press(`[data-id="${c.id}"] input.number`, "Enter");
  await settled(page);
  const undo = (await page.locator("#undo").boundingBox())!.width;
  assert(Math.abs(undo - layout.undo) < 0.5, `Undo is ${undo} px wide with a caption, ${layout.undo} without`);
  await page.click("#panel-toggle");
  const wide = (await page.locator("#viewer").boundingBox())!.width;
  assert(wide > layout.viewer + 200, `with the panel hidden the viewer is ${wide} px`);
  await reset(page, "Bleb");
});

test("two pages on one server stay in step, and undo in either undoes what it shows", async ({ page, url }) => {
  const other = await page.context().newPage();
  await openTool(page, url, "Bleb");
  await openTool(other, url, "Bleb");
  const { c } = await controlRow(page, "Bleb", "Scale");
  await showPage(other, c.pageIndex);
  const field = `[data-id="${c.id}"] input.number`;
  await page.fill(field, "2");
  await page.press(field, "Enter");
  await settled(page);
  // The other page hears of it without being touched.
  await other.waitForFunction((f) => (document.querySelector(f) as HTMLInputElement).value === "2", field, { timeout: 15000 });
  const caption = await undoCaption(other);
  assert(caption === (await undoCaption(page)), `the other page shows "${caption}"`);
  await other.click("#undo");
  await settled(other);
  await page.waitForFunction((f) => (document.querySelector(f) as HTMLInputElement).value === "1", field, { timeout: 15000 });
  assert((await values(page, "Bleb"))[c.id].value === 1, "undo in the other page undid the change");
  await other.close();
  await reset(page, "Bleb");
});
