// Browser tests of vorn serve: the page of each tool, changes through its
// panel and handles, the tools' reactions, undo, and the token.
import * as fs from "fs";
import * as path from "path";
import "./artist.test";
import "./flows.test";
import { assert, near, run, test } from "./harness";
import { describe, dragHandle, frameDigest, openTool, settled, showPage, shownAgainstRendered, values } from "./page";

const tools = ["Bleb", "Candle", "Bubbles"];
const screenshots = process.env.VORN_SCREENSHOTS;

test("a request without the token is refused", async ({ page, base, url }) => {
  // A fresh context holds no cookie: the page and the API both refuse.
  const bare = await page.request.get(`${base}/`);
  assert(bare.status() === 403, `the page without the token: ${bare.status()}`);
  const api = await page.request.get(`${base}/api/tools`);
  assert(api.status() === 403, `the API without the token: ${api.status()}`);
  const wrong = await page.request.get(`${base}/?token=0123456789abcdef0123456789abcdef`);
  assert(wrong.status() === 403, `a wrong token: ${wrong.status()}`);
  const change = await page.request.post(`${base}/api/change`, {
    data: { tool: "Bleb", id: "BScl", value: 2, time: 0 },
  });
  assert(change.status() === 403, `a change without the token: ${change.status()}`);
  // Opened with the token, the page's own requests carry the cookie.
  await openTool(page, url, "Bleb");
  const cookies = await page.context().cookies();
  const cookie = cookies.find((c) => c.name === "vorn_token");
  assert(cookie && cookie.httpOnly && cookie.sameSite === "Strict", "the token cookie is HttpOnly, SameSite=Strict");
  const ok = await page.request.get(`${base}/api/tools`);
  assert(ok.status() === 200, `with the cookie: ${ok.status()}`);
});

for (const tool of tools) {
  test(`${tool}: the panel lists every control of the declaration`, async ({ page, url }) => {
    await openTool(page, url, tool);
    const desc = await describe(page, tool);
    const tabs = await page.locator(".tab").allTextContents();
    assert(tabs.length === desc.pages.length, `${tabs.length} tabs for ${desc.pages.length} pages`);
    assert(new Set(tabs).size === tabs.length, `tab captions are distinct: ${tabs.join(", ")}`);
    for (const c of desc.controls) {
      const row = page.locator(`.page[data-page="${c.pageIndex}"] [data-id="${c.id}"]`);
      assert((await row.count()) === 1, `"${c.caption}" (${c.id}) on page ${c.pageIndex}`);
      if (c.control === "ComC") {
        const items = await row.locator("option").allTextContents();
        assert(items.join("|") === c.items.join("|"), `items of "${c.caption}"`);
      }
      if (c.onImage) {
        const handle = page.locator(`[data-handle="${c.id}"]`);
        assert((await handle.count()) === 1, `on-image handle of "${c.caption}"`);
      }
    }
    // Three channels of one colour group are one picker.
    const groups = new Set(desc.controls.filter((c) => c.colourGroup).map((c) => `${c.pageIndex}/${c.colourGroup!.name}`));
    assert((await page.locator('input[type="color"]').count()) === groups.size, "one picker per colour group");
  });
}

// The frame travels as raw rows in bands; the canvas must show the tool's
// premultiplied bytes composited "over" the chosen backdrop, exactly.
for (const tool of tools) {
  test(`${tool}: the viewer shows the rendered pixels over the checkerboard`, async ({ page, url }) => {
    await openTool(page, url, tool);
    // The first frame comes whole, the frames after it in bands: one more.
    const shown = await page.evaluate(() => (window as any).vorn.stats.framesShown);
    await page.evaluate(() => (window as any).vorn.seek(Number((document.getElementById("time") as HTMLInputElement).value)));
    await page.waitForFunction((n) => (window as any).vorn.stats.framesShown > n, shown);
    const result = await shownAgainstRendered(page, tool);
    assert(result.size === result.want, `canvas ${result.size}, frame ${result.want}`);
    assert(result.bad === 0, `${result.bad} values differ; first: ${result.first}`);
    if (tool === "Bubbles") assert(result.clear > 0, "Bubbles' frame has transparent pixels");
  });
}

// Soap bubbles late in the shot carry additive light (colour above alpha):
// it must reach the screen, over every backdrop, an input's picture included.
test("Bubbles: additive light shows over each backdrop", async ({ page, url, base }) => {
  await openTool(page, url, "Bubbles");
  const desc = await describe(page, "Bubbles");
  const demos = desc.controls.find((c) => c.caption === "Demos")!;
  await showPage(page, demos.pageIndex);
  await page.selectOption(`[data-id="${demos.id}"] select`, { label: "Soap Bubbles" });
  await page.evaluate(() => (window as any).vorn.seek(40));
  await settled(page);
  const choices = await page.locator("#backdrop option").evaluateAll((os) => os.map((o) => (o as HTMLOptionElement).value));
  assert(choices.join() === "checker,black,grey,input:Birth", `backdrop choices: ${choices}`);
  for (const choice of choices) {
    await page.selectOption("#backdrop", choice);
    await page.waitForFunction((c) => document.body.dataset.backdrop === c, choice);
    await page.waitForTimeout(200); // the input's picture is fetched
    const result = await shownAgainstRendered(page, "Bubbles");
    assert(result.light > 100, `the frame has additive light: ${result.light} pixels`);
    assert(result.bad === 0, `over ${choice}: ${result.bad} values differ; first: ${result.first}`);
  }
  const unknown = await page.request.get(`${base}/api/input?tool=Bubbles&name=Nothing`);
  assert(unknown.status() === 404, `an unknown input: ${unknown.status()}`);
  await page.selectOption("#backdrop", "checker");
  await page.click("#undo");
  await settled(page);
});

test("Bleb: moving a slider changes the image, and undo brings it back", async ({ page, url }) => {
  await openTool(page, url, "Bleb");
  const before = await frameDigest(page);
  await showPage(page, 1); // "A1"
  const slider = page.locator('[data-id="Amp1"] input[type="range"]');
  const box = await slider.boundingBox();
  assert(box, "the slider of Amplitude 1");
  await page.mouse.click(box.x + box.width * 0.3, box.y + box.height / 2);
  await settled(page);
  const v = await values(page, "Bleb");
  assert((v.Amp1.value as number) > 1, `Amplitude 1 after the click: ${v.Amp1.value}`);
  const after = await frameDigest(page);
  assert(after !== before, "the warp changed the image");
  await page.keyboard.press("Control+z");
  await settled(page);
  assert((await values(page, "Bleb")).Amp1.value === 0, "undo restores Amplitude 1");
  assert((await frameDigest(page)) === before, "undo restores the image");
});

// While values keep coming in one gesture the viewer shows reduced previews;
// once they stop, the exact frame of the last value.
test("Bleb: a drag shows previews, then the exact frame", async ({ page, url }) => {
  await openTool(page, url, "Bleb");
  const scales = await page.evaluate(async () => {
    const vorn = (window as any).vorn;
    const seen = new Set<string>();
    const end = performance.now() + 1500;
    for (let i = 0; performance.now() < end; i++) {
      vorn.change("Amp1", 0.5 + (i % 40) / 20, "test-drag");
      seen.add(document.body.dataset.scale ?? "");
      await new Promise((r) => setTimeout(r, 10));
    }
    vorn.change("Amp1", 1.25, "test-drag");
    await vorn.settled();
    return { seen: [...seen], last: document.body.dataset.scale };
  });
  assert(scales.seen.includes("2"), `a preview at half size was shown: ${scales.seen}`);
  assert(scales.last === "1", `the exact frame is shown at rest: ${scales.last}`);
  assert((await values(page, "Bleb")).Amp1.value === 1.25, "the last value holds");
  const check = await shownAgainstRendered(page, "Bleb");
  assert(check.size === check.want && check.bad === 0, `the exact frame: ${JSON.stringify(check)}`);
  await page.click("#undo");
  await settled(page);
});

test('Bleb: dragging "XY Center" moves the warp', async ({ page, url }) => {
  await openTool(page, url, "Bleb");
  await page.request.post(`${new URL(url).origin}/api/change`, {
    data: { tool: "Bleb", id: "Amp2", value: 3, time: 0 },
  });
  await page.reload();
  await settled(page);
  const before = await frameDigest(page);
  const start = (await values(page, "Bleb")).Cent.value as [number, number];
  await dragHandle(page, "Cent", -120, 60);
  const moved = (await values(page, "Bleb")).Cent.value as [number, number];
  assert(moved[0] < start[0] - 0.05 && moved[1] > start[1] + 0.05, `the centre moved: ${moved}`);
  assert((await frameDigest(page)) !== before, "the warp moved with it");
  // The whole drag is one undo step.
  const undo = await page.locator("#undo").textContent();
  assert(undo === "Undo Move XY Center", `undo caption: ${undo}`);
  await page.click("#undo");
  await settled(page);
  const back = (await values(page, "Bleb")).Cent.value as [number, number];
  near(back[0], start[0], 1e-6, "x after undo");
  near(back[1], start[1], 1e-6, "y after undo");
  await page.click("#undo"); // Amplitude 2
  await settled(page);
});

// ◆ keys the control at the current frame; on a keyed frame it removes that
// key; Shift+click removes the animation.
test("Bleb: the key button sets and removes keys", async ({ page, url }) => {
  await openTool(page, url, "Bleb");
  const amp3 = (await describe(page, "Bleb")).controls.find((c) => c.id === "Amp3")!;
  await showPage(page, amp3.pageIndex);
  const key = page.locator('[data-key="Amp3"]');
  const seek = async (t: number) => {
    await page.evaluate((n) => (window as any).vorn.seek(n), t);
    await settled(page);
  };
  await key.click();
  await settled(page);
  await seek(10);
  await page.evaluate(() => (window as any).vorn.change("Amp3", 2, "test-key"));
  await settled(page);
  let v = (await values(page, "Bleb")).Amp3;
  assert(JSON.stringify(v.keys) === "[0,10]", `keys at 0 and 10: ${JSON.stringify(v.keys)}`);
  assert(await key.evaluate((b) => b.classList.contains("keyed")), "frame 10 shows its key");
  await key.click();
  await settled(page);
  v = (await values(page, "Bleb")).Amp3;
  assert(JSON.stringify(v.keys) === "[0]" && v.animated, `the key at 10 went: ${JSON.stringify(v)}`);
  assert((await page.locator("#undo").textContent()) === "Undo Remove key of Amplitude 3 at frame 10", "named step");
  await key.click({ modifiers: ["Shift"] });
  await settled(page);
  v = (await values(page, "Bleb")).Amp3;
  assert(!v.animated, "Shift+click removed the animation");
  for (let i = 0; i < 4; i++) {
    await page.click("#undo");
    await settled(page);
  }
  await seek(0);
});

test("Candle: a preset updates the dependent controls and one undo restores them", async ({ page, url }) => {
  await openTool(page, url, "Candle");
  const start = await values(page, "Candle");
  await showPage(page, 1);
  await page.selectOption('[data-id="Dem1"] select', { label: "Still Flame" });
  await settled(page);
  // The panel shows what the tool's handler set.
  assert((await page.inputValue('[data-id="Turb"] input.number')) === "0", "Turbulence shows 0");
  const v = await values(page, "Candle");
  near((v.BLef.value as number[])[0], 0.361, 1e-6, "Bottom Left x");
  assert((await page.locator("#undo").textContent()) === "Undo Demos: Still Flame", "the step carries the tool's caption");
  await page.click("#undo");
  await settled(page);
  const back = await values(page, "Candle");
  for (const id of ["Turb", "Fre1", "Fre2", "BLef", "TRig", "Dem1"])
    assert(JSON.stringify(back[id].value) === JSON.stringify(start[id].value), `${id} restored`);
  assert((await page.inputValue('[data-id="Turb"] input.number')) === "40", "Turbulence shows 40 again");
});

test("Candle: moving an outline point moves the linked points", async ({ page, url }) => {
  await openTool(page, url, "Candle");
  const start = await values(page, "Candle");
  await dragHandle(page, "BLef", 90, 0);
  const v = await values(page, "Candle");
  const bl = v.BLef.value as number[];
  const tl = v.TLef.value as number[];
  const br = v.BRig.value as number[];
  const c1 = v.CPo1.value as number[];
  assert(bl[0] > (start.BLef.value as number[])[0] + 0.02, `Bottom Left moved: ${bl}`);
  near(tl[0], bl[0], 1e-4, "Top Left stands above Bottom Left");
  near(tl[1], (start.TLef.value as number[])[1], 1e-6, "the flame keeps its height");
  near(c1[0], bl[0] + (br[0] - bl[0]) / 3, 1e-4, "Curve Point 1 at the first third of the base");
  await page.click("#undo");
  await settled(page);
  const back = await values(page, "Candle");
  for (const id of ["BLef", "TLef", "CPo1", "CPo2"])
    assert(JSON.stringify(back[id].value) === JSON.stringify(start[id].value), `${id} restored by one undo`);
});

test("Bubbles: a preset of 41 values is one undo step", async ({ page, url }) => {
  await openTool(page, url, "Bubbles");
  const start = await values(page, "Bubbles");
  const desc = await describe(page, "Bubbles");
  const demos = desc.controls.find((c) => c.caption === "Demos")!;
  await showPage(page, demos.pageIndex);
  await page.selectOption(`[data-id="${demos.id}"] select`, { label: "Under Water" });
  await settled(page);
  const v = await values(page, "Bubbles");
  const shape = desc.controls.find((c) => c.caption === "Bubble Type")!;
  assert(v[shape.id].value === 2, `Bubble Type is Variable Growth: ${v[shape.id].value}`);
  await page.click("#undo");
  await settled(page);
  const back = await values(page, "Bubbles");
  for (const c of desc.controls)
    assert(JSON.stringify(back[c.id].value) === JSON.stringify(start[c.id].value), `${c.caption} restored`);
  const left = await page.locator("#undo").textContent();
  assert(await page.locator("#undo").isDisabled(), `nothing more to undo: ${left}`);
});

// A field that refuses a value puts the held one back and says why beside
// it; the next good edit clears that. Once a value went in, Ctrl+Z in the
// field is the host's undo, and the focused field shows what it brought back.
test("a refused value is reported beside its field and changes nothing", async ({ page, url }) => {
  await openTool(page, url, "Bleb");
  await showPage(page, 0);
  const field = page.locator('[data-id="BScl"] input.number');
  const note = page.locator('[data-id="BScl"] .refusal');
  for (const [typed, why] of [["-4", "out of range"], ["abc", "not a number"], ["1e", "not a number"]]) {
    await field.fill(typed);
    await field.press("Enter");
    await settled(page);
    const text = await note.textContent();
    assert((await note.isVisible()) && text!.includes(why) && text!.includes("Scale"), `"${typed}": ${text}`);
    assert((await field.inputValue()) === "1", `"${typed}" reverts to 1: ${await field.inputValue()}`);
    assert((await values(page, "Bleb")).BScl.value === 1, `"${typed}": Scale kept its value`);
  }
  assert(await page.locator("#undo").isDisabled(), "nothing was changed");
  await field.fill("2");
  await field.press("Enter");
  await settled(page);
  assert(!(await note.isVisible()), "a good edit clears the message");
  assert((await values(page, "Bleb")).BScl.value === 2, "Scale took 2");
  await field.press("Control+z");
  await settled(page);
  assert((await values(page, "Bleb")).BScl.value === 1, "Ctrl+Z in the field undid the change");
  assert((await field.inputValue()) === "1", `the focused field follows: ${await field.inputValue()}`);
  assert(await field.evaluate((f) => f === document.activeElement), "the field kept the focus");
});

// Changes not yet saved: reloading asks first; after Save it does not.
test("leaving the page with unsaved changes asks first", async ({ page, url }) => {
  await openTool(page, url, "Bleb");
  await showPage(page, 0);
  const asked: string[] = [];
  page.on("dialog", (d) => {
    asked.push(d.type());
    void d.dismiss();
  });
  const field = page.locator('[data-id="BScl"] input.number');
  await field.fill("1.5");
  await field.press("Enter");
  await settled(page);
  await page.reload({ timeout: 2000 }).catch(() => undefined); // stays: the dialog was dismissed
  assert(asked.join() === "beforeunload", `asked on reload: ${asked}`);
  await page.fill("#path", "unsaved-test.vcomp");
  await page.click("#save");
  await page.waitForFunction(() => document.getElementById("message")!.textContent!.startsWith("saved"));
  await page.evaluate(() => (window as any).vorn.seek(0)); // the state after Save
  await settled(page);
  await page.reload();
  await settled(page);
  assert(asked.length === 1, `not asked after Save: ${asked}`);
  await page.click("#undo");
  await settled(page);
});

test("Load is one undo step, and an export shows its progress and can be cancelled", async ({ page, url }) => {
  await openTool(page, url, "Bleb");
  await showPage(page, 0);
  const message = () => page.locator("#message").textContent();
  const setScale = async (v: string) => {
    const field = page.locator('[data-id="BScl"] input.number');
    await field.fill(v);
    await field.press("Enter");
    await settled(page);
  };
  await setScale("1.5");
  await page.fill("#path", "load-undo.vcomp");
  await page.click("#save");
  await page.waitForFunction(() => document.getElementById("message")!.textContent!.startsWith("saved"));
  await setScale("2.5"); // unsaved work
  await page.click("#load");
  await page.waitForFunction(() => document.getElementById("message")!.textContent!.startsWith("loaded"));
  await settled(page);
  assert((await values(page, "Bleb")).BScl.value === 1.5, "the file's value");
  const caption = await page.locator("#undo").textContent();
  assert(caption === "Undo Load load-undo.vcomp", `undo caption: ${caption}`);
  await page.click("#undo");
  await settled(page);
  assert((await values(page, "Bleb")).BScl.value === 2.5, "undo brings back the work before Load");
  await page.click("#redo");
  await settled(page);
  assert((await values(page, "Bleb")).BScl.value === 1.5, "redo loads again");

  // 49 full-size frames take seconds: the page counts them and cancels.
  await page.fill("#path", "cancelled/c.#.png");
  await page.fill("#frames", "0-48");
  await page.click("#export");
  await page.waitForFunction(() => /^exporting: \d+ of 49/.test(document.getElementById("message")!.textContent!));
  assert(await page.locator("#export").isDisabled(), "one export at a time");
  await page.click("#export-cancel");
  await page.waitForFunction(() => /^(export cancelled|wrote)/.test(document.getElementById("message")!.textContent!));
  const text = (await message()) ?? "";
  const count = /^export cancelled: wrote (\d+) file/.exec(text);
  assert(count && Number(count[1]) < 49, `after Cancel: ${text}`);
  assert(await page.locator("#export-cancel").isHidden(), "Cancel goes with the export");
  await page.fill("#frames", "");
  for (let i = 0; i < 3; i++) await page.click("#undo"); // Load, 2.5, 1.5
  await settled(page);
});

test("Bubbles: a button press is kept at its frame, saved, exported and undone", async ({ page, url }) => {
  await openTool(page, url, "Bubbles");
  const desc = await describe(page, "Bubbles");
  const restart = desc.controls.find((c) => c.caption === "Restart Bubbles");
  assert(restart, "Bubbles has a Restart Bubbles button");
  await showPage(page, restart.pageIndex);
  const seek = async (t: number) => {
    await page.evaluate((time) => (window as any).vorn.seek(time), t);
    await settled(page);
  };
  const message = async (start: string) =>
    page.waitForFunction((s) => document.getElementById("message")!.textContent!.startsWith(s), start);
  const pressed = () => page.locator(`[data-id="${restart.id}"] .presses`).textContent();
  await seek(12);
  const plain = await frameDigest(page);
  await seek(6);
  await page.click(`[data-id="${restart.id}"] button.press`);
  await settled(page);
  assert((await pressed()) === "pressed at frame 6", `beside the button: ${await pressed()}`);
  const caption = await page.locator("#undo").textContent();
  assert(caption === "Undo Press Restart Bubbles at frame 6", `undo caption: ${caption}`);
  await seek(12);
  const restarted = await frameDigest(page);
  assert(restarted !== plain, "the restart at frame 6 shows at frame 12");

  await page.fill("#path", "press.vcomp");
  await page.click("#save");
  await message("saved");
  await page.fill("#path", "press/p.#.png");
  await page.fill("#frames", "12");
  await page.click("#export");
  await message("wrote 1 file");
  await page.fill("#frames", "");

  // Undo takes the press away: the viewer simulates again without it.
  await page.click("#undo");
  await settled(page);
  assert((await pressed()) === "", `after undo: ${await pressed()}`);
  assert((await frameDigest(page)) === plain, "frame 12 without the press after undo");
  // The saved file holds the press: loading it brings it back.
  await page.fill("#path", "press.vcomp");
  await page.click("#load");
  await message("loaded");
  await settled(page);
  assert((await pressed()) === "pressed at frame 6", `after Load: ${await pressed()}`);
  assert((await frameDigest(page)) === restarted, "the loaded press restarts the bubbles again");
  await page.click("#undo"); // Load
  await settled(page);
  assert((await frameDigest(page)) === plain, "undoing the Load takes the press away");
  await seek(0);
});

// Pictures of each tool's page for the README, when asked for.
if (screenshots) {
  test("screenshots of each tool's page", async ({ page, url, base }) => {
    fs.mkdirSync(screenshots, { recursive: true });
    const looks: Record<string, { time: number; changes: [string, unknown][] }> = {
      Bleb: { time: 0, changes: [["Amp1", 0.6], ["Amp3", 0.4], ["Ang3", 130], ["Amp6", 0.5]] },
      Candle: { time: 12, changes: [] },
      Bubbles: { time: 30, changes: [] },
    };
    for (const tool of tools) {
      const look = looks[tool];
      await openTool(page, url, tool);
      await page.evaluate((t) => (window as any).vorn.seek(t), look.time);
      for (const [id, value] of look.changes)
        await page.evaluate(([i, v]) => (window as any).vorn.change(i, v, `shot-${i}`), [id, value]);
      await settled(page);
      await page.screenshot({ path: path.join(screenshots, `${tool.toLowerCase()}.png`) });
      for (let i = 0; i < look.changes.length; i++)
        await page.request.post(`${base}/api/undo`, { data: { tool, time: look.time } });
    }
  });
}

run().then((code) => process.exit(code));
