// Browser tests of the page as an artist works it: slider and arrow steps,
// lists that apply on choice, key markers and jumps, playback at a rate,
// the tab list from the keyboard, and the frame kept across a reload.
import { Page } from "playwright-core";
import { assert, test } from "./harness";
import { describe, openTool, settled, showPage, values } from "./page";

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
