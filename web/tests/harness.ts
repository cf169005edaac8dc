// A small runner for the browser tests: headless chromium through
// playwright-core, a fresh page per test, and plain assertions.
import { Browser, Page, chromium } from "playwright-core";

export interface Context {
  page: Page;
  url: string; // the URL vorn serve printed, with its token
  base: string; // http://127.0.0.1:PORT
}

type Test = { name: string; body: (ctx: Context) => Promise<void> };
const tests: Test[] = [];

export function test(name: string, body: (ctx: Context) => Promise<void>): void {
  tests.push({ name, body });
}

export function assert(condition: unknown, message: string): asserts condition {
  if (!condition) throw new Error(message);
}

export function near(a: number, b: number, tolerance: number, what: string): void {
  assert(Math.abs(a - b) <= tolerance, `${what}: ${a} is not within ${tolerance} of ${b}`);
}

export const chromiumArgs = [
  "--headless=new",
  "--no-sandbox",
  "--disable-gpu",
  "--disable-background-networking",
  "--disable-component-update",
  "--disable-sync",
  "--no-first-run",
];

export async function launch(): Promise<Browser> {
  return chromium.launch({
    executablePath: process.env.CHROMIUM ?? "/usr/bin/chromium",
    headless: true,
    args: chromiumArgs,
  });
}

export async function run(): Promise<number> {
  const url = process.env.VORN_URL;
  if (!url) throw new Error("VORN_URL is not set: the URL vorn serve printed");
  const base = new URL(url).origin;
  const only = process.env.VORN_TEST_FILTER;
  const browser = await launch();
  let failed = 0;
  for (const t of tests) {
    // VORN_TEST_FILTER: run the tests whose names contain one of its "|"-separated parts.
    if (only && !only.split("|").some((part) => t.name.includes(part))) continue;
    const context = await browser.newContext({ viewport: { width: 1600, height: 900 } });
    const page = await context.newPage();
    const errors: string[] = [];
    page.on("pageerror", (e) => errors.push(e.message));
    const start = Date.now();
    try {
      await t.body({ page, url, base });
      assert(errors.length === 0, `errors in the page: ${errors.join("; ")}`);
      console.log(`ok    ${t.name} (${Date.now() - start} ms)`);
    } catch (e) {
      failed++;
      console.log(`FAIL  ${t.name}: ${e instanceof Error ? e.message : String(e)}`);
    } finally {
      await context.close();
    }
  }
  await browser.close();
  console.log(failed ? `${failed} browser test(s) failed` : "all browser tests passed");
  return failed ? 1 : 0;
}
