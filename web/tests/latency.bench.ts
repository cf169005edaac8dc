// Change-to-screen latency of vorn serve: the time from a change made on the
// page to its frame drawn on the viewer's canvas, at the server's frame size.
// Single changes (each waits for the one before) and a drag (a change every
// 16 ms for two seconds, as a pointer sends them). During a drag the viewer
// shows reduced previews; the time from the drag's last change to the exact
// frame is given beside.
import { launch } from "./harness";

const cases: { tool: string; id: string; values: number[] }[] = [
  { tool: "Bleb", id: "Amp1", values: [0.5, 1.5, 2.5, 1.0] },
  { tool: "Candle", id: "Turb", values: [20, 60, 35, 50] },
];

function summary(ms: number[]): string {
  const s = [...ms].sort((a, b) => a - b);
  const at = (q: number) => s[Math.min(s.length - 1, Math.floor(q * s.length))].toFixed(1);
  return `n ${s.length}  median ${at(0.5)} ms  p90 ${at(0.9)} ms  max ${s[s.length - 1].toFixed(1)} ms`;
}

async function main(): Promise<void> {
  const url = process.env.VORN_URL;
  if (!url) throw new Error("VORN_URL is not set");
  const rounds = Number(process.env.VORN_BENCH_ROUNDS ?? "20");
  const browser = await launch();
  for (const c of cases) {
    const page = await browser.newPage({ viewport: { width: 1600, height: 900 } });
    await page.goto(`${url}#tool=${c.tool}`);
    await page.waitForFunction((t) => document.body.dataset.tool === t, c.tool);
    await page.evaluate(() => (window as any).vorn.settled());
    const single = await page.evaluate(
      async ({ id, values, rounds }) => {
        const vorn = (window as any).vorn;
        vorn.stats.latencies.length = 0;
        const renders: number[] = [];
        for (let i = 0; i < rounds; i++) {
          vorn.change(id, values[i % values.length], `bench-${i}`);
          await vorn.settled();
          renders.push(vorn.stats.lastRenderMs);
        }
        return { latencies: [...vorn.stats.latencies], renders };
      },
      { id: c.id, values: c.values, rounds },
    );
    const drag = await page.evaluate(
      async ({ id, values }) => {
        const vorn = (window as any).vorn;
        vorn.stats.latencies.length = 0;
        vorn.stats.exactLatencies.length = 0;
        const shown = vorn.stats.framesShown;
        const end = performance.now() + 2000;
        let i = 0;
        let lastAt = 0;
        while (performance.now() < end) {
          const a = values[0] + ((values[1] - values[0]) * (i % 60)) / 60;
          vorn.change(id, a, "bench-drag");
          lastAt = performance.now();
          i += 1;
          await new Promise((r) => setTimeout(r, 16));
        }
        await vorn.settled();
        return {
          latencies: [...vorn.stats.latencies],
          exact: vorn.stats.exactShownAt - lastAt,
          changes: i,
          frames: vorn.stats.framesShown - shown,
        };
      },
      { id: c.id, values: c.values },
    );
    const size = await page.evaluate(() => {
      const canvas = document.getElementById("frame") as HTMLCanvasElement;
      return `${canvas.width}x${canvas.height}`;
    });
    console.log(`${c.tool} ${size}, one change at a time: ${summary(single.latencies)}`);
    console.log(`${c.tool} ${size}, render alone: ${summary(single.renders)}`);
    console.log(
      `${c.tool} ${size}, drag (${drag.changes} changes in 2 s, ${drag.frames} frames shown): ${summary(drag.latencies)}`,
    );
    console.log(`${c.tool} ${size}, drag, its last change to the exact frame: ${drag.exact.toFixed(1)} ms`);
    // Leave the values as they were for whoever looks next.
    await page.evaluate(async () => {
      const vorn = (window as any).vorn;
      await fetch("/api/undo", { method: "POST", body: JSON.stringify({ tool: document.body.dataset.tool, time: 0 }) });
      await vorn.settled();
    });
    await page.close();
  }
  await browser.close();
}

main().catch((e) => {
  console.error(e);
  process.exit(1);
});
