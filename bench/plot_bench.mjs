// What a person waits for in the workspace's plot: the time to open a generated campaign network
// (until the tables and the plot are drawn), to zoom one wheel notch and to pan one drag step
// (each until the next frame is painted), in headless Chromium. Run through bench/plot_bench.sh.
// A benchmark, not a test: times on a shared machine are upper bounds, and nothing is checked.
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { chromium } from '../tests/browser/node_modules/playwright-core/index.mjs';

const [front, makeNetwork, ...sizes] = process.argv.slice(2);
const CHROMIUM_ARGS = ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];
const STEPS = 12;  // wheel notches in, then as many drag steps
const WAIT = { timeout: 300000 };

function startServer(work) {
  const child = spawn(front, ['serve', '--port', '0'], {
    env: { ...process.env, TMPDIR: work }, stdio: ['ignore', 'pipe', 'inherit'] });
  return new Promise((resolve, reject) => {
    let out = '';
    child.stdout.on('data', d => {
      out += d;
      const m = /open (http:\/\/\S+)/.exec(out);
      if (m) resolve({ child, url: m[1] });
    });
    child.on('exit', code => reject(new Error(`serve exited (${code})`)));
  });
}

async function measure(page, file, sites) {
  const started = Date.now();
  await page.fill('#open-path', file);
  await page.click('#open-button');
  await page.waitForFunction(name => document.getElementById('project-source').textContent.includes(name),
                             path.basename(file), WAIT);
  await page.evaluate(() => new Promise(r => requestAnimationFrame(() => setTimeout(r, 0))));
  const open = Date.now() - started;
  const steps = await page.evaluate(async count => {
    const plot = document.getElementById('plot');
    const box = plot.getBoundingClientRect();
    const x = box.left + box.width / 2, y = box.top + box.height / 2;
    // Each step is timed until the end of the frame that shows it.
    const nextFrame = () => new Promise(r => requestAnimationFrame(() => setTimeout(r, 0)));
    const zoom = [], pan = [];
    for (let i = 0; i < count; ++i) {
      const t = performance.now();
      plot.dispatchEvent(new WheelEvent('wheel', { clientX: x, clientY: y, deltaY: -100, bubbles: true, cancelable: true }));
      await nextFrame();
      zoom.push(performance.now() - t);
    }
    const pointer = (type, dx) => plot.dispatchEvent(new PointerEvent(type, {
      clientX: x + dx, clientY: y, pointerId: 1, bubbles: true, isPrimary: true }));
    pointer('pointerdown', 0);
    for (let i = 1; i <= count; ++i) {
      const t = performance.now();
      pointer('pointermove', i * 20);
      await nextFrame();
      pan.push(performance.now() - t);
    }
    pointer('pointerup', count * 20);
    const median = a => [...a].sort((p, q) => p - q)[Math.floor(a.length / 2)];
    return { zoom: median(zoom), pan: median(pan), nodes: plot.querySelectorAll('*').length };
  }, STEPS);
  console.log(`${sites} sites: open ${open} ms, zoom step ${steps.zoom.toFixed(1)} ms, ` +
              `pan step ${steps.pan.toFixed(1)} ms (medians of ${STEPS}), ${steps.nodes} plot nodes after zooming`);
}

// A server of its own for each network: the tabs of one server share the open project.
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'torvek-plot-bench-'));
const context = await chromium.launchPersistentContext(path.join(work, 'profile'), {
  executablePath: '/usr/bin/chromium', args: CHROMIUM_ARGS, headless: true, viewport: { width: 1400, height: 1000 } });
try {
  for (const sites of sizes) {
    const file = path.join(work, `net${sites}.dat`);
    spawnSync(makeNetwork, ['--sessions', file, sites]);
    const { child, url } = await startServer(work);
    const page = await context.newPage();
    await page.goto(url);
    await measure(page, file, sites);
    await page.close();
    child.kill('SIGINT');
  }
} finally {
  await context.close();
  fs.rmSync(work, { recursive: true, force: true });
}
