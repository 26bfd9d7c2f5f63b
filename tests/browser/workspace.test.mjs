// End-to-end tests of the browser workspace (torvek-front serve) in headless Chromium: a person
// opens the examples, adjusts, cancels, answers the connectivity warning, switches out a blunder,
// downloads the output, and a page of another origin is refused. Screenshots of the main views go
// to BUILD/browser-screenshots for a person to look at.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawn, spawnSync } from 'node:child_process';
import { once } from 'node:events';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

const ROOT = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const BUILD = path.resolve(process.env.TORVEK_BUILD_DIR || path.join(ROOT, 'build'));
const FRONT = path.join(BUILD, 'torvek-front');
const FAKE_CHILD = path.join(BUILD, 'torvek-fake-child');
const MAKE_NETWORK = path.join(BUILD, 'torvek-make-network');
const SHOTS = path.join(BUILD, 'browser-screenshots');
const EXAMPLE = path.join(ROOT, 'examples/example-network.json');
const BLUNDER = path.join(ROOT, 'examples/example-blunder.json');
const DISCONNECTED = path.join(ROOT, 'examples/example-disconnected.json');
const TEXTBOOK = path.join(ROOT, 'tests/data/textbook-network.gama-local.xml');
const CHROMIUM_ARGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];
// The example's chi-square, from its README (and the terminal front end's own tests).
const EXAMPLE_CHI_SQUARE = '63.60';
const BLUNDER_CHI_SQUARE = '126.85';
const WAIT = { timeout: 30000 };

let scratch;
let context;
const servers = [];

// Starts `torvek-front serve` and waits for the address it prints.
async function startServer(args = [], env = {}) {
  const child = spawn(FRONT, ['serve', '--port', '0', ...args], {
    env: { ...process.env, TORVEK_BINARY: '', ...env }, stdio: ['ignore', 'pipe', 'pipe'] });
  let out = '', err = '';
  child.stderr.on('data', d => { err += d; });
  const url = await new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error('no address printed: ' + err)), 10000);
    child.stdout.on('data', d => {
      out += d;
      const m = /open (http:\/\/\S+)/.exec(out);
      if (m) { clearTimeout(timer); resolve(m[1]); }
    });
    child.on('exit', code => reject(new Error(`serve exited (${code}): ${err}`)));
  });
  const parsed = new URL(url);
  const server = { child, url, base: parsed.origin, token: parsed.searchParams.get('token'), stderr: () => err,
    async stop() {
      if (child.exitCode !== null) return child.exitCode;
      child.kill('SIGINT');
      const [code] = await once(child, 'exit');
      return code;
    } };
  servers.push(server);
  return server;
}

async function newPage(server) {
  const page = await context.newPage();
  page.on('pageerror', e => { throw e; });
  await page.goto(server.url);
  return page;
}

async function shot(page, name) {
  await page.screenshot({ path: path.join(SHOTS, name + '.png'), fullPage: true });
}

async function openProject(page, file, siteCount) {
  await page.fill('#open-path', file);
  await page.click('#open-button');
  await page.waitForFunction(n => document.querySelectorAll('#sites-table tbody tr').length === n, siteCount, WAIT);
}

// Chooses the model (the classic one, whose figures the older scenarios check, unless told),
// presses Adjust and waits for the run's end; returns the run status line.
async function adjust(page, model = 'classic') {
  await page.selectOption('#model', model);
  const before = await page.textContent('#run-status');
  await page.click('#adjust-button');
  await page.waitForFunction(b => {
    const s = document.getElementById('run-status').textContent;
    return s !== b && /^Run \d+: /.test(s) && !document.getElementById('adjust-button').disabled;
  }, before, WAIT);
  return page.textContent('#run-status');
}

function request(server, { method = 'GET', pathName = '/api/state', headers = {} } = {}) {
  return new Promise((resolve, reject) => {
    const req = http.request(server.base + pathName, { method, headers }, res => {
      let body = '';
      res.on('data', d => { body += d; });
      res.on('end', () => resolve({ status: res.statusCode, headers: res.headers, body }));
    });
    req.on('error', reject);
    req.end();
  });
}

const bearer = server => ({ Authorization: `Bearer ${server.token}` });

before(async () => {
  for (const file of [FRONT, FAKE_CHILD]) assert.ok(fs.existsSync(file), `${file} is built`);
  scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'torvek-browser-'));
  fs.mkdirSync(SHOTS, { recursive: true });
  // A fresh profile of its own; Chromium fetches nothing from outside.
  context = await chromium.launchPersistentContext(path.join(scratch, 'profile'), {
    executablePath: '/usr/bin/chromium', args: CHROMIUM_ARGS, headless: true, acceptDownloads: true,
    viewport: { width: 1400, height: 1000 } });
});

after(async () => {
  if (context) await context.close();
  for (const server of servers) await server.stop();
  fs.rmSync(scratch, { recursive: true, force: true });
});

test('adjusts the example: progress to 100, the chi-square, the report and the output data set', async () => {
  const server = await startServer();
  const page = await newPage(server);
  assert.equal(new URL(page.url()).search, '', 'the token leaves the address bar');
  // No cookie carries it: every port of this host would receive it.
  assert.ok(!(await page.evaluate(() => document.cookie)).includes(server.token), 'no token in document.cookie');
  for (const cookie of await context.cookies(server.base)) assert.ok(!cookie.value.includes(server.token), cookie.name);
  await openProject(page, EXAMPLE, 16);
  await page.click('#tabs button[data-tab=vectors]');
  assert.equal(await page.locator('#vectors-table tbody tr').count(), 36);
  await page.click('#tabs button[data-tab=sites]');
  assert.equal(await page.locator('#plot .site').count(), 16);
  assert.equal(await page.locator('#plot .vector').count(), 36);
  await shot(page, '1-project-opened');

  // Every value the progress bar takes on the way.
  await page.evaluate(() => {
    window.progressSeen = [];
    new MutationObserver(records => {
      for (const r of records) window.progressSeen.push(Number(r.oldValue));
    }).observe(document.getElementById('progress'),
      { attributes: true, attributeOldValue: true, attributeFilter: ['aria-valuenow'] });
  });
  const status = await adjust(page);
  assert.match(status, /Run 1: adjusted, chi-square passed/);
  assert.equal(await page.getAttribute('#progress', 'aria-valuenow'), '100');
  const seen = await page.evaluate(() => window.progressSeen);
  assert.ok(seen.includes(29) && seen.includes(86), `stages on the way: ${seen}`);
  assert.equal(await page.textContent('#chi-square'), EXAMPLE_CHI_SQUARE);
  assert.equal(await page.textContent('#chi-square-verdict'), 'passed');
  const report = await page.textContent('#report');
  assert.match(report, /Network connectivity test/);
  assert.match(report, /Adjustment Tests/);
  // Styles as a rich-text window shows them: bold and coloured runs.
  assert.ok(await page.locator('#report span.b').count() > 0);
  assert.ok(await page.locator('#plot .ellipse').count() > 0);
  await shot(page, '2-adjusted');

  // The output data set, byte for byte the terminal front end's.
  const [download] = await Promise.all([page.waitForEvent('download'), page.click('#downloads a[data-kind=dataset]')]);
  const downloaded = path.join(scratch, 'downloaded.dat');
  await download.saveAs(downloaded);
  assert.equal(download.suggestedFilename(), 'example-network-run1.dat');
  const terminal = path.join(scratch, 'terminal', 'example-network.dat');
  const run = spawnSync(FRONT, ['adjust', EXAMPLE, '-o', terminal, '--no-report', '--model', 'classic'],
    { env: { ...process.env, TORVEK_BINARY: '' } });
  assert.equal(run.status, 0, String(run.stderr));
  assert.ok(fs.readFileSync(downloaded).equals(fs.readFileSync(terminal)), 'the same bytes');
  for (const kind of ['rtf', 'html', 'csv', 'json', 'svg']) {
    const res = await page.evaluate(([k, t]) => fetch(`/api/runs/1/files/${k}`, { headers: { Authorization: `Bearer ${t}` } })
      .then(r => r.status), [kind, server.token]);
    assert.equal(res, 200, kind);
  }

  // The plot and the tables point at the same vector, either way round.
  await page.click('#tabs button[data-tab=vectors]');
  await page.click('#vectors-table tbody tr[data-index="9"] td[data-key=from]');
  assert.equal(await page.getAttribute('#plot line[data-index="9"]', 'class'), 'vector selected');
  await page.click('#tabs button[data-tab=sites]');
  await page.click('#plot-fit');
  await page.locator('#plot line[data-index="3"]').click({ force: true });
  await page.waitForSelector('#vectors-table tbody tr.selected[data-index="3"]', WAIT);
  assert.equal(await page.isVisible('#vectors-table'), true, 'the vector table comes to the front');

  // Sorting and filtering.
  await page.click('#vectors-table th[data-key=length]');
  const lengths = await page.$$eval('#vectors-table tbody td[data-key=length]', tds => tds.map(td => Number(td.textContent)));
  assert.deepEqual(lengths, [...lengths].sort((a, b) => a - b));
  await page.fill('#filter', 'TANN');
  const rows = await page.$$eval('#vectors-table tbody tr', trs => trs.map(tr => tr.textContent));
  assert.ok(rows.length > 0 && rows.length < 36 && rows.every(r => r.includes('TANN')));
  await page.fill('#filter', '');
  await page.close();
});


test('a project with a client and full site names: the report pane and the documents carry them', async () => {
  const project = JSON.parse(fs.readFileSync(EXAMPLE, 'utf8'));
  project.client = 'Canton of Hillside, survey office';
  project.surveyor = 'A. Surveyor';
  const full = { BIRK: 'Birkenhof control', TANN: 'Tannenberg north' };
  for (const site of project.sites) site.name = full[site.name] || site.name;
  for (const v of project.vectors) { v.from = full[v.from] || v.from; v.to = full[v.to] || v.to; }
  const file = path.join(scratch, 'hillside.json');
  fs.writeFileSync(file, JSON.stringify(project, null, 2));
  const server = await startServer();
  const page = await newPage(server);
  await openProject(page, file, 16);
  assert.match(await adjust(page), /Run 1: adjusted/);
  await page.waitForFunction(() => document.getElementById('report').textContent.includes('Birkenhof control'),
    null, WAIT);
  assert.equal(await page.textContent('#result-engine'), 'torvek');
  const html = await page.evaluate(t => fetch('/api/runs/1/files/html', { headers: { Authorization: `Bearer ${t}` } })
    .then(r => r.text()), server.token);
  assert.ok(html.includes('Canton of Hillside') && html.includes('Tannenberg north'), 'header and names');
  assert.ok(!html.includes('Client not stated'));
  await shot(page, '8-full-names');
});
test('imports survey files by upload and by path, a DynaML pair as two files', async () => {
  const server = await startServer();
  const page = await newPage(server);
  const data = name => path.join(ROOT, 'tests/data', name);
  await page.setInputFiles('#upload-input', [data('textbook-network.stations.xml'), data('textbook-network.measurements.xml')]);
  await page.click('#upload-button');
  await page.waitForFunction(() => document.querySelectorAll('#sites-table tbody tr').length === 6, null, WAIT);
  assert.match(await page.textContent('#project-source'), /textbook-network\.stations\.xml and textbook-network\.measurements\.xml/);
  assert.equal(await page.inputValue('#save-path'), '', 'an upload has no file here to save over');
  await page.setInputFiles('#upload-input', [data('textbook-network.gps.txt')]);
  await page.click('#upload-button');
  await page.waitForFunction(() => /gps\.txt/.test(document.getElementById('project-source').textContent), null, WAIT);
  await openProject(page, data('textbook-network.gama-local.xml'), 6);
  // A file of no known format is named in the message, and the open project stays.
  await page.fill('#open-path', data('../../README.md'));
  await page.click('#open-button');
  await page.waitForSelector('#message:not([hidden])', WAIT);
  assert.match(await page.textContent('#message'), /is not a format read here/);
  assert.match(await page.textContent('#project-source'), /gama-local\.xml/);
  // Saved where the person says, as a project that opens again.
  const saved = path.join(scratch, 'textbook.json');
  await page.fill('#save-path', saved);
  await page.click('#save-button');
  await page.waitForFunction(() => /^Saved/.test(document.getElementById('run-status').textContent), null, WAIT);
  assert.equal(JSON.parse(fs.readFileSync(saved, 'utf8')).sites.length, 6);
  // And through the browser, fetched with the token.
  const [project] = await Promise.all([page.waitForEvent('download'), page.click('#download-project')]);
  const projectFile = path.join(scratch, 'downloaded-project.json');
  await project.saveAs(projectFile);
  assert.match(project.suggestedFilename(), /^textbook-network.*\.json$/);
  assert.equal(JSON.parse(fs.readFileSync(projectFile, 'utf8')).sites.length, 6);
  await page.close();
});

test('switching out the blunder from the outlier list makes the chi-square test pass', async () => {
  const server = await startServer([BLUNDER]);
  const page = await newPage(server);
  await page.waitForFunction(() => document.querySelectorAll('#sites-table tbody tr').length === 16, null, WAIT);
  assert.match(await adjust(page), /Run 1: adjusted, chi-square failed/);
  assert.equal(await page.textContent('#chi-square'), BLUNDER_CHI_SQUARE);
  await page.click('#tabs button[data-tab=outliers]');
  // Sorted by normalised residual, largest first: the blunder leads, flagged.
  const first = page.locator('#outliers-table tbody tr').first();
  assert.equal(await first.getAttribute('class'), 'flagged');
  assert.equal(await first.locator('td[data-key=from]').textContent(), 'TANN');
  assert.equal(await first.locator('td[data-key=to]').textContent(), 'SPIT');
  assert.equal(await page.locator('#outliers-table button.switch-out').count(), 1);
  assert.equal(await page.locator('#plot line.flagged').count(), 1);
  await shot(page, '3-blunder-outliers');

  await first.locator('button.switch-out').click();
  await page.waitForFunction(() => /^Run 2: /.test(document.getElementById('run-status').textContent), null, WAIT);
  assert.match(await page.textContent('#run-status'), /Run 2: adjusted, chi-square passed/);
  assert.equal(await page.textContent('#chi-square-verdict'), 'passed');
  assert.equal(await page.locator('#plot line.flagged').count(), 0);
  assert.equal(await page.locator('#plot line.out').count(), 1);

  await page.click('#tabs button[data-tab=history]');
  await page.waitForFunction(() => !document.getElementById('history-table').textContent.includes('running'), null, WAIT);
  const history = await page.$$eval('#history-table tbody tr', trs => trs.map(tr => tr.textContent));
  assert.equal(history.length, 2);
  assert.match(history[0], /^2adjusted.*passed.*vector TANN to SPIT \(no\. 10\) out of use/);
  assert.match(history[1], /^1adjusted126\.85.*failed/);
  await shot(page, '4-run-history');
  // A run is deleted from the list, with its files on the server.
  await page.click('#history-table tbody tr[data-index="1"] button.delete-run');
  await page.waitForFunction(() => document.querySelectorAll('#history-table tbody tr').length === 1, null, WAIT);
  assert.equal((await request(server, { pathName: '/api/runs/1', headers: bearer(server) })).status, 404);
  await page.close();
});

test('the connectivity warning is a dialog, answered OK and Cancel through the link', async () => {
  const server = await startServer([DISCONNECTED]);
  const page = await newPage(server);
  await page.waitForFunction(() => document.querySelectorAll('#sites-table tbody tr').length === 19, null, WAIT);
  await page.click('#adjust-button');
  await page.waitForSelector('#warning-dialog[open]', WAIT);
  assert.match(await page.textContent('#warning-text'), /Only one of the subnetworks will be adjusted/);
  await shot(page, '5-connectivity-warning');
  await page.click('#warning-ok');
  await page.waitForFunction(() => /^Run 1: /.test(document.getElementById('run-status').textContent), null, WAIT);
  assert.match(await page.textContent('#run-status'), /adjusted, chi-square passed/);
  assert.equal(await page.textContent('#chi-square'), EXAMPLE_CHI_SQUARE, 'the connected part alone');

  await page.click('#adjust-button');
  await page.waitForSelector('#warning-dialog[open]', WAIT);
  await page.click('#warning-cancel');
  await page.waitForFunction(() => /^Run 2: /.test(document.getElementById('run-status').textContent), null, WAIT);
  assert.match(await page.textContent('#run-status'), /cancelled at the connectivity warning/);
  assert.match(await page.textContent('#report'), /Adjustment aborted due to Network connectivity test failure/);
  assert.equal(await page.isVisible('#warning-dialog'), false);
  await page.close();
});

test('Cancel aborts a run at its next stage poll; two tabs keep their runs apart', async () => {
  // A stand-in program that takes ten seconds, polling every stage, so that there is a midway.
  const server = await startServer([EXAMPLE, '--program', FAKE_CHILD], { TORVEK_FAKE_MODE: 'slow' });
  const first = await newPage(server);
  const second = await newPage(server);
  await first.click('#adjust-button');
  await first.waitForFunction(() => Number(document.getElementById('progress').getAttribute('aria-valuenow')) >= 10, null, WAIT);
  await second.click('#adjust-button');
  await second.waitForFunction(() => Number(document.getElementById('progress').getAttribute('aria-valuenow')) >= 5, null, WAIT);
  await shot(first, '6-running');
  await first.click('#cancel-button');
  await first.waitForFunction(() => /^Run 1: /.test(document.getElementById('run-status').textContent), null, WAIT);
  assert.match(await first.textContent('#run-status'), /Run 1: aborted/);
  const stoppedAt = Number(await first.getAttribute('#progress', 'aria-valuenow'));
  assert.ok(stoppedAt > 10 && stoppedAt < 100, `stopped at ${stoppedAt}`);
  assert.match(await first.textContent('#report'), /aborted/i);
  await shot(first, '7-cancelled');
  // The other tab's run goes on, with its own report.
  assert.equal(await second.textContent('#run-status'), 'Run 2…');
  const secondReport = await second.textContent('#report');
  assert.doesNotMatch(secondReport, /aborted/i);
  await second.click('#cancel-button');
  await second.waitForFunction(() => /^Run 2: aborted/.test(document.getElementById('run-status').textContent), null, WAIT);
  await first.close();
  await second.close();
});

test('a run going on when the server stops is aborted and reaped', async () => {
  const server = await startServer([EXAMPLE, '--program', FAKE_CHILD], { TORVEK_FAKE_MODE: 'slow' });
  const page = await newPage(server);
  await page.click('#adjust-button');
  await page.waitForFunction(() => Number(document.getElementById('progress').getAttribute('aria-valuenow')) >= 5, null, WAIT);
  const started = Date.now();
  assert.equal(await server.stop(), 0);
  assert.ok(Date.now() - started < 5000, 'ends at the next poll, not after the run');
  // The page heard the run end as aborted before the server went away.
  await page.waitForFunction(() => /^Run 1: aborted/.test(document.getElementById('run-status').textContent), null, WAIT);
  await page.close();
});

test('the rigorous model: its statistics, oriented ellipses, observation tests and relative precisions', async () => {
  const server = await startServer();
  const page = await newPage(server);
  await openProject(page, TEXTBOOK, 6);
  assert.equal(await page.inputValue('#model'), 'rigorous', 'the rigorous model is the default');
  await page.fill('#tolerance', '20mm+50ppm');
  const status = await adjust(page, 'rigorous');
  assert.match(status, /adjusted/);
  assert.equal(await page.textContent('#result-model'), 'rigorous');
  assert.match(await page.textContent('#rigorous-sigma0'), /0\.7075/);
  assert.equal(await page.textContent('#result-engine'), 'torvek-large');
  // Four free sites, each with an ellipse turned to its azimuth.
  const turned = await page.locator('#plot ellipse[transform^="rotate("]').count();
  assert.equal(turned, 4);
  await page.click('#tabs button[data-tab=tests]');
  assert.equal(await page.locator('#tests-table tbody tr').count(), 39, 'three components of 13 vectors');
  const largest = await page.textContent('#tests-table tbody tr:first-child td:nth-child(9)');
  assert.equal(largest, '2.94', 'largest |t| first: A-E x');
  await shot(page, '9-rigorous-tests');
  await page.click('#tabs button[data-tab=relative]');
  // 13 vectors join 11 pairs of sites (A-F and B-F are observed both ways).
  assert.equal(await page.locator('#relative-table tbody tr').count(), 11);
  assert.match(await page.textContent('#relative-table tbody'), /pass|fail/);
  await shot(page, '10-rigorous-relative');
  const links = await page.locator('#downloads a').evaluateAll(as => as.map(a => a.dataset.kind));
  assert.ok(links.includes('statistics'), links.join(' '));
});

test('requests without the token, for another host or from a page of another origin are refused', async () => {
  const server = await startServer([EXAMPLE]);
  assert.equal((await request(server)).status, 403);
  assert.equal((await request(server, { headers: { Authorization: 'Bearer 00' + server.token.slice(2) } })).status, 403);
  assert.equal((await request(server, { headers: bearer(server) })).status, 200);
  assert.equal((await request(server, { headers: { ...bearer(server), Host: 'rebound.example:' + new URL(server.base).port } })).status, 403);
  assert.equal((await request(server, { headers: { ...bearer(server), Origin: 'http://127.0.0.1:1' } })).status, 403);
  // The page's own files hold no secret and load without the token, but never into a page of
  // another origin, not even one on another port of this machine.
  const script = await request(server, { pathName: '/app.js' });
  assert.equal(script.status, 200);
  assert.equal(script.headers['cross-origin-resource-policy'], 'same-origin');
  assert.equal(script.headers['access-control-allow-origin'], undefined);
  assert.equal((await request(server, { pathName: '/app.js', headers: { 'Sec-Fetch-Site': 'same-site' } })).status, 403);

  // Whatever cookies the browser keeps for the workspace are replayed without the token: refused.
  const page = await newPage(server);
  await page.waitForFunction(() => document.querySelectorAll('#sites-table tbody tr').length === 16, null, WAIT);
  const cookies = (await context.cookies(server.base)).map(c => `${c.name}=${c.value}`).join('; ');
  const oldCookie = `torvek-token-${new URL(server.base).port}=${server.token}`;
  for (const cookie of [cookies, oldCookie].filter(Boolean)) {
    assert.equal((await request(server, { headers: { Cookie: cookie } })).status, 403, cookie);
  }

  // A page of another origin on the same machine tries to start a run and to read the state.
  const foreign = http.createServer((req, res) => {
    res.setHeader('Content-Type', 'text/html');
    res.end(`<!DOCTYPE html><script>
      window.outcome = Promise.all([
        fetch('${server.base}/api/runs', { method: 'POST', credentials: 'include', mode: 'no-cors' }).then(() => 'sent', e => 'failed'),
        fetch('${server.base}/api/state', { credentials: 'include' }).then(r => r.status, e => 'failed'),
      ]);</script>`);
  });
  foreign.listen(0, '127.0.0.1');
  await once(foreign, 'listening');
  await page.goto(`http://127.0.0.1:${foreign.address().port}/`);
  const [, read] = await page.evaluate(() => window.outcome);
  assert.equal(read, 'failed', 'the state cannot be read');
  foreign.close();
  const state = JSON.parse((await request(server, { headers: bearer(server) })).body);
  assert.equal(state.runs.length, 0, 'no run was started');
  await page.close();
});

// The pre-analysis answer that `action` makes the page ask for, without the time it took.
async function planAnswer(page, action) {
  const [response] = await Promise.all([
    page.waitForResponse(r => r.url().endsWith('/api/preanalysis') && r.request().method() === 'POST', WAIT),
    action()]);
  assert.equal(response.status(), 200, await response.text());
  const answer = await response.json();
  delete answer.elapsedSeconds;
  return answer;
}

const siteOnPlot = (page, name) => page.locator('#plot g.site').filter({ has: page.locator(`text="${name}"`) });

test('plan mode: a planned vector never enlarges an ellipse, removing it restores the answer', async () => {
  const server = await startServer();
  const page = await newPage(server);
  await openProject(page, EXAMPLE, 16);
  const before = await planAnswer(page, () => page.click('#plan-tab'));
  assert.equal(before.preanalysis, true);
  await page.waitForFunction(() => /answered in \d+ ms/.test(document.getElementById('plan-status').textContent), null, WAIT);

  const added = await planAnswer(page, async () => {
    await siteOnPlot(page, 'BIRK').click({ force: true });
    await siteOnPlot(page, 'ZELG').click({ force: true });
  });
  const axes = answer => new Map(answer.sites.filter(s => s.adjusted).map(s => [s.name, s.ellipse.semiMajor]));
  const was = axes(before);
  for (const [name, axis] of axes(added)) {
    assert.ok(axis <= was.get(name) + 1e-12, `${name}: ${axis} after, ${was.get(name)} before`);
  }
  const joins = (answer, a, b) => answer.relativePrecision.some(p => (p.from === a && p.to === b) || (p.from === b && p.to === a));
  assert.ok(!joins(before, 'BIRK', 'ZELG') && joins(added, 'BIRK', 'ZELG'));
  assert.equal(await page.locator('#plot line.planned').count(), 1);
  await page.waitForSelector('#plan-pair option[value="BIRK – ZELG"]', { ...WAIT, state: 'attached' });
  await page.selectOption('#plan-pair', 'BIRK – ZELG');
  assert.match(await page.textContent('#plan-pair-result'), /mm at 95 % .* within tolerance/);
  assert.match(await page.textContent('#plan-mdb'), /^\d+\.\d mm \(/);
  await shot(page, '8-plan-mode');

  const removed = await planAnswer(page, () => page.locator('#plot line.planned').click({ force: true }));
  assert.deepEqual(removed, before, 'the earlier answer, exactly');
  assert.equal(await page.locator('#plot line.planned').count(), 0);

  // The plan is saved in the project.
  await planAnswer(page, async () => {
    await siteOnPlot(page, 'HOHB').click({ force: true });
    await siteOnPlot(page, 'SPIT').click({ force: true });
  });
  await page.click('#plan-save');
  await page.waitForFunction(() => /unsaved/.test(document.getElementById('project-source').textContent), null, WAIT);
  const state = JSON.parse((await request(server, { headers: bearer(server) })).body);
  assert.deepEqual(state.project.planned, [{ from: 'HOHB', to: 'SPIT' }]);
  await page.close();
});

// A large network's plot: the screen rectangles of its names, from the browser's own layout.
const nameBoxes = page => page.$$eval('#plot text.site-label', texts => texts.map(t => {
  const r = t.getBoundingClientRect();
  return { name: t.textContent, left: r.left, right: r.right, top: r.top, bottom: r.bottom };
}));

// The plot's view: the world group's scale and shift (screen pixels from the plot's corner).
async function worldView(page) {
  const transform = await page.getAttribute('#plot > g', 'transform');
  const [k, , , , tx, ty] = /matrix\(([^)]*)\)/.exec(transform)[1].split(',').map(Number);
  return { k, tx, ty };
}

function overlapping(boxes) {
  for (let i = 0; i < boxes.length; ++i) {
    for (let j = i + 1; j < boxes.length; ++j) {
      const a = boxes[i], b = boxes[j];
      if (a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom) return [a.name, b.name];
    }
  }
  return null;
}

// A vector among the first `count` whose midpoint on the screen lies at least `room` pixels from
// every other vector and every site, inside the plot of size {w, h}: a click there means it alone.
function isolatedVector(project, view, size, count, room) {
  const screen = s => [s.east * view.k + view.tx, -s.north * view.k + view.ty];
  const points = project.sites.map(screen);
  const ends = project.vectors.map(v => [points[v.fromIndex], points[v.toIndex]]);
  const distance = ([px, py], [[ax, ay], [bx, by]]) => {
    const dx = bx - ax, dy = by - ay, t = Math.max(0, Math.min(1, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)));
    return Math.hypot(px - ax - t * dx, py - ay - t * dy);
  };
  for (let i = 0; i < Math.min(count, ends.length); ++i) {
    const [[ax, ay], [bx, by]] = ends[i];
    const mid = [(ax + bx) / 2, (ay + by) / 2];
    if (mid[0] < room || mid[0] > size.w - room || mid[1] < room || mid[1] > size.h - room) continue;
    if (points.some(p => Math.hypot(p[0] - mid[0], p[1] - mid[1]) < room)) continue;
    if (ends.every((e, j) => j === i || distance(mid, e) >= room)) return { index: i, x: mid[0], y: mid[1] };
  }
  return null;
}

test('a large network: names only where there is room, more when zoomed in, clicks on a site dot and a merged vector select them',
  { skip: !fs.existsSync(MAKE_NETWORK) && 'torvek-make-network is not built' }, async () => {
    const sites = 1200;
    const CLICKABLE = 1000;  // vectors among the table's first rows
    const file = path.join(scratch, 'large.dat');
    const made = spawnSync(MAKE_NETWORK, ['--sessions', file, String(sites)]);
    assert.equal(made.status, 0, String(made.stderr));
    const server = await startServer();
    const page = await newPage(server);
    await openProject(page, file, sites);
    const project = JSON.parse((await request(server, { headers: bearer(server) })).body).project;
    const frame = () => page.evaluate(() => new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r))));
    await frame();

    // At the fitted view: few names, none on top of another; plain vectors are no lines of their own.
    const fitted = await nameBoxes(page);
    assert.ok(fitted.length > 10 && fitted.length < sites / 4, `${fitted.length} names`);
    assert.equal(overlapping(fitted), null, 'names overlap');
    assert.equal(await page.locator('#plot line').count(), 0);
    assert.equal(await page.locator('#plot .vectors-merged').count(), 1);
    assert.equal(await page.textContent('#plot text.plot-note'),
      `${fitted.length} of 1,200 sites named where there is room; 1,200 sites in view as dots`);
    await shot(page, '11-large-network-fitted');

    // A click on a site's dot selects it: the table follows, and it gets its symbol and its name first.
    const box = await page.locator('#plot').boundingBox();
    const dotted = project.sites.length - 2, fit = await worldView(page);
    const site = project.sites[dotted];
    await page.mouse.click(box.x + site.east * fit.k + fit.tx, box.y - site.north * fit.k + fit.ty);
    await page.waitForSelector(`#sites-table tbody tr.selected[data-index="${dotted}"]`, WAIT);
    await frame();
    assert.equal(await page.locator(`#plot g.site.selected[data-index="${dotted}"]`).count(), 1);
    assert.equal((await nameBoxes(page))[0].name, site.name);

    // Zooming in where the first vectors are (the vector table shows them): the names of that
    // area that were drawn before, and after.
    const first = project.vectors.slice(0, CLICKABLE).flatMap(v => [project.sites[v.fromIndex], project.sites[v.toIndex]]);
    const centre = { east: first.reduce((sum, s) => sum + s.east, 0) / first.length,
                     north: first.reduce((sum, s) => sum + s.north, 0) / first.length };
    const cx = box.x + centre.east * fit.k + fit.tx, cy = box.y - centre.north * fit.k + fit.ty;
    const notches = 16, factor = 1.15 ** notches;
    const area = { left: cx - box.width / 2 / factor, right: cx + box.width / 2 / factor,
                   top: cy - box.height / 2 / factor, bottom: cy + box.height / 2 / factor };
    const inArea = fitted.filter(b => b.left >= area.left && b.right <= area.right && b.top >= area.top && b.bottom <= area.bottom);
    await page.mouse.move(cx, cy);
    for (let i = 0; i < notches; ++i) {
      await page.mouse.wheel(0, -100);
      await frame();
    }
    const zoomed = await nameBoxes(page);
    assert.ok(zoomed.length > 2 * Math.max(inArea.length, 1), `${inArea.length} names there before, ${zoomed.length} after`);
    assert.equal(overlapping(zoomed), null, 'names overlap');
    await shot(page, '12-large-network-zoomed');

    // A click on a merged vector: the nearest is found by its distance, and the table follows.
    const target = isolatedVector(project, await worldView(page), { w: box.width, h: box.height }, CLICKABLE, 10);
    assert.ok(target, 'a vector of its own at this zoom');
    assert.equal(await page.locator(`#plot line[data-index="${target.index}"]`).count(), 0, 'merged before');
    await page.mouse.click(box.x + target.x + 1, box.y + target.y - 1);
    await page.waitForSelector(`#vectors-table tbody tr.selected[data-index="${target.index}"]`, WAIT);
    assert.equal(await page.getAttribute(`#plot line[data-index="${target.index}"]`, 'class'), 'vector selected');
    await page.close();
  });

test('many flagged vectors: the worst are labelled where there is room, and the note says how many',
  { skip: !fs.existsSync(MAKE_NETWORK) && 'torvek-make-network is not built' }, async () => {
    // 300 sites whose every fourth vector is 15 cm off in height: hundreds of vectors above tau.
    const data = path.join(scratch, 'flags.dat'), project = path.join(scratch, 'flags.json');
    assert.equal(spawnSync(MAKE_NETWORK, ['--sessions', data, '300']).status, 0);
    assert.equal(spawnSync(FRONT, ['export', data, '-o', project]).status, 0);
    const json = JSON.parse(fs.readFileSync(project, 'utf8'));
    json.vectors.forEach((v, i) => { if (i % 4 === 0) v.dZ += 0.15; });
    fs.writeFileSync(project, JSON.stringify(json));
    const server = await startServer();
    const page = await newPage(server);
    await openProject(page, project, 300);
    assert.match(await adjust(page), /^Run 1: adjusted/);
    await page.evaluate(() => new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r))));
    const labels = await page.$$eval('#plot text.flag-label', texts => texts.map(t => {
      const r = t.getBoundingClientRect();
      return { name: t.textContent, shown: t.style.display !== 'none',
               left: r.left, right: r.right, top: r.top, bottom: r.bottom };
    }));
    const shown = labels.filter(l => l.shown);
    assert.ok(labels.length > 100, `${labels.length} flagged vectors`);
    assert.ok(shown.length > 5 && shown.length < labels.length, `${shown.length} of ${labels.length} labelled`);
    assert.equal(overlapping(shown), null, 'flag labels overlap');
    const worst = Math.max(...labels.map(l => Number(l.name.slice(2))));
    assert.ok(shown.some(l => Number(l.name.slice(2)) === worst), 'the worst is labelled');
    const notes = await page.$$eval('#plot text.plot-note', texts => texts.map(t => t.textContent));
    assert.ok(notes.includes(`${shown.length} of ${labels.length} flagged vectors labelled where there is room`),
      notes.join(' | '));
    await shot(page, '17-many-flagged-vectors');
    await page.close();
  });
