// Browser tests of the node view of a flow: adding nodes, connecting them by
// dragging and from the menu, selecting one (its controls in the panel),
// viewing one, undoing the graph edits, the shot and a node's settings.
import { Page } from "playwright-core";
import { assert, test } from "./harness";
import { describe, openTool, settled } from "./page";

interface Graph {
  nodes: { name: string; class: string; settings?: Record<string, number | string> }[];
  connections: { from: string; to: string; input: string }[];
  selected: string;
  viewed: string;
  shot: { first: number; last: number; simulationStart: number };
}

async function graph(page: Page): Promise<Graph> {
  return page.evaluate(async () => (await fetch("/api/graph?tool=flow")).json());
}

async function addNode(page: Page, cls: string): Promise<void> {
  await page.selectOption("#node-class", cls);
  await page.click("#node-add");
  await settled(page);
}

function names(g: Graph): string {
  return g.nodes.map((n) => n.name).join(",");
}

function wires(g: Graph): string {
  return g.connections.map((c) => `${c.from}>${c.to}.${c.input}`).join(",");
}

test("node view: add, connect by dragging and from the menu, select, view and undo", async ({ page, url }) => {
  await openTool(page, url, "flow");
  await page.click("#node-new");
  await settled(page);
  assert(names(await graph(page)) === "", "a new flow is empty");
  await addNode(page, "Candle");
  await addNode(page, "Merge");
  let g = await graph(page);
  assert(names(g) === "Candle1,Merge1", `nodes: ${names(g)}`);
  assert(g.selected === "Merge1", `the node added is selected: ${g.selected}`);

  // Dragged from Candle1's output onto Merge1's input A.
  const from = await page.locator('[data-output="Candle1"]').boundingBox();
  const to = await page.locator('circle[data-node="Merge1"][data-input="A"]').boundingBox();
  assert(from && to, "the ports are drawn");
  await page.mouse.move(from.x + from.width / 2, from.y + from.height / 2);
  await page.mouse.down();
  await page.mouse.move(to.x + to.width / 2, to.y + to.height / 2, { steps: 6 });
  await page.mouse.up();
  await settled(page);
  g = await graph(page);
  assert(wires(g) === "Candle1>Merge1.A", `after the drag: ${wires(g)}`);
  assert((await page.locator("path.wire").count()) === 1, "one line drawn");

  // From the menu, with the keyboard: Bleb1 (selected once added) into Merge1's B.
  await addNode(page, "Bleb");
  await page.selectOption("#node-connect-to", JSON.stringify(["Merge1", "B"]));
  await page.focus("#node-connect");
  await page.keyboard.press("Enter");
  await settled(page);
  g = await graph(page);
  assert(wires(g) === "Candle1>Merge1.A,Bleb1>Merge1.B", `after the menu: ${wires(g)}`);
  assert((await page.locator("path.wire").count()) === 2, "two lines drawn");
  assert(((await page.textContent("#undo")) ?? "").includes("Connect Bleb1 to Merge1 B"), "the undo caption names the connection");

  // Selected by a click, Candle1's controls fill the panel.
  await page.click('g.node[data-node="Candle1"] rect');
  await settled(page);
  assert((await graph(page)).selected === "Candle1", "Candle1 selected");
  const desc = await describe(page, "flow");
  assert(desc.name === "Candle", `the panel's tool: ${desc.name}`);
  assert((await page.locator(`#panel [data-id="${desc.controls[0].id}"]`).count()) === 1, "the panel shows Candle's controls");

  // Viewed: the viewer shows Candle1's output.
  await page.click("#node-view");
  await settled(page);
  assert((await graph(page)).viewed === "Candle1", "Candle1 viewed");
  assert((await page.locator('g.node.viewed[data-node="Candle1"]').count()) === 1, "the viewed node is marked");

  // Undo takes the menu connection away, then Bleb1; redo brings Bleb1 back.
  await page.click("#undo");
  await settled(page);
  g = await graph(page);
  assert(wires(g) === "Candle1>Merge1.A", `after undo: ${wires(g)}`);
  assert((await page.locator("path.wire").count()) === 1, "one line after undo");
  await page.click("#undo");
  await settled(page);
  assert(names(await graph(page)) === "Candle1,Merge1", "Bleb1 gone after the second undo");
  assert((await page.locator('g.node[data-node="Bleb1"]').count()) === 0, "its box is gone");
  await page.click("#redo");
  await settled(page);
  assert(names(await graph(page)) === "Candle1,Merge1,Bleb1", "Bleb1 back after redo");

  // Renamed from the name field (Enter), then deleted with its connection.
  await page.click('g.node[data-node="Merge1"] rect');
  await settled(page);
  await page.fill("#node-name", "Comp");
  await page.press("#node-name", "Enter");
  await settled(page);
  g = await graph(page);
  assert(names(g) === "Candle1,Comp,Bleb1" && wires(g) === "Candle1>Comp.A", `after rename: ${names(g)} ${wires(g)}`);
  await page.click('g.node[data-node="Candle1"] rect');
  await settled(page);
  await page.click("#node-delete");
  await settled(page);
  g = await graph(page);
  assert(names(g) === "Comp,Bleb1" && wires(g) === "", `after delete: ${names(g)} ${wires(g)}`);
  await page.click("#undo");
  await settled(page);
  g = await graph(page);
  assert(names(g) === "Candle1,Comp,Bleb1" && wires(g) === "Candle1>Comp.A", `delete undone: ${names(g)} ${wires(g)}`);
});

test("node view: a flow saved, then loaded from a tool's page, opens as the flow", async ({ page, url }) => {
  await openTool(page, url, "flow");
  await page.click("#node-new");
  await settled(page);
  await addNode(page, "Bleb");
  await addNode(page, "Merge");
  await page.click('g.node[data-node="Bleb1"] rect');
  await settled(page);
  await page.selectOption("#node-connect-to", JSON.stringify(["Merge1", "A"]));
  await page.click("#node-connect");
  await settled(page);
  await page.fill("#path", "nodes.flow.json");
  await page.click("#save");
  await page.waitForFunction(() => (document.getElementById("message")?.textContent ?? "").startsWith("saved"));
  await page.click("#node-new");
  await settled(page);
  assert(names(await graph(page)) === "", "emptied");

  await openTool(page, url, "Bleb");
  await page.fill("#path", "nodes.flow.json");
  await page.click("#load");
  await page.waitForFunction(() => document.body.dataset.tool === "flow");
  await settled(page);
  const g = await graph(page);
  assert(names(g) === "Bleb1,Merge1" && wires(g) === "Bleb1>Merge1.A", `loaded: ${names(g)} ${wires(g)}`);
  assert(((await page.textContent("#undo")) ?? "").includes("Load nodes.flow.json"), "Load is the undo step");
});

test("node view: the shot's fields set the timeline and a Merge's settings form changes it, each one undo step", async ({ page, url }) => {
  await openTool(page, url, "flow");
  await page.click("#node-new");
  await settled(page);
  const was = (await graph(page)).shot;
  const range = async (): Promise<string> => page.evaluate(() => {
    const t = document.getElementById("time") as HTMLInputElement;
    return `${t.min}-${t.max}`;
  });
  assert((await range()) === `${was.first}-${was.last}`, `the timeline is the shot's: ${await range()}`);
  const setField = async (id: string, value: string): Promise<void> => {
    await page.fill(id, value);
    await page.press(id, "Enter");
    await settled(page);
  };
  await setField("#shot-first", "5");
  await setField("#shot-last", "30");
  let g = await graph(page);
  assert(g.shot.first === 5 && g.shot.last === 30 && g.shot.simulationStart === was.simulationStart, `shot: ${JSON.stringify(g.shot)}`);
  assert((await range()) === "5-30", `the timeline follows the shot: ${await range()}`);
  assert(((await page.textContent("#undo")) ?? "").includes("Change shot"), "the undo step names the shot");
  // Refused by the server (the simulation would start after the first frame): the field shows the shot again.
  await setField("#shot-simulation-start", "7");
  assert((await page.inputValue("#shot-simulation-start")) === String(was.simulationStart), "a refused start is put back");
  assert((await page.getAttribute("#message", "class"))?.includes("error"), "the refusal is shown");
  await page.click("#undo");
  await settled(page);
  await page.click("#undo");
  await settled(page);
  g = await graph(page);
  assert(g.shot.first === was.first && g.shot.last === was.last, `undone: ${JSON.stringify(g.shot)}`);
  assert((await range()) === `${was.first}-${was.last}`, `the timeline back: ${await range()}`);
  assert((await page.inputValue("#shot-first")) === String(was.first) && (await page.inputValue("#shot-last")) === String(was.last), "the fields follow the undo");

  // A Merge's mix from its settings form: one undo step, undone as one.
  await addNode(page, "Merge");
  const mix = (g: Graph): number | string | undefined => g.nodes.find((n) => n.name === "Merge1")?.settings?.mix;
  const before = mix(await graph(page));
  await setField('.node-settings [data-setting="mix"]', "0.25");
  assert(mix(await graph(page)) === 0.25, `mix: ${mix(await graph(page))}`);
  assert(((await page.textContent("#undo")) ?? "").includes("Change Merge1 mix"), "the undo step names the mix");
  await page.click("#undo");
  await settled(page);
  g = await graph(page);
  assert(mix(g) === before && names(g) === "Merge1", `after undo: ${mix(g)} ${names(g)}`);
  assert((await page.inputValue('.node-settings [data-setting="mix"]')) === String(before), "the form shows the mix undone");
});
