// The workspace page: opens projects, shows and edits sites and vectors, runs the adjustment with
// live progress and report, answers the connectivity warning, shows results and the run history.
import { NetworkPlot } from './plot.js';
import { PlanMode } from './plan.js';

const $ = id => document.getElementById(id);
// Rows drawn in one table: a national network's thousands of vectors stay quick to show.
const MAX_ROWS = 1500;
const state = {
  project: null,        // the project view from the server
  runs: [],             // the run history
  shown: null,          // results of the run shown (for the open project), or null
  following: null,      // { id, stream: AbortController, done } of the run being followed
  selection: null,      // { kind: 'site' | 'vector', index }
  tab: 'sites',
  sort: {},             // per table: { key, descending }
};

// ---- talking to the server -------------------------------------------------------------------

// The access token: taken from the address the server printed, kept in this tab alone (memory and
// sessionStorage, which no other port and no other tab reads; never a cookie, which every port of
// this host would share) and sent as a header with every request. The address bar loses it.
const token = (() => {
  const fromAddress = new URLSearchParams(location.search).get('token');
  if (fromAddress) {
    sessionStorage.setItem('torvek-token', fromAddress);
    history.replaceState(null, '', '/');
  }
  return fromAddress || sessionStorage.getItem('torvek-token') || '';
})();

function authorized(headers = {}) {
  return { ...headers, Authorization: `Bearer ${token}` };
}

async function api(method, path, body) {
  const options = { method, headers: authorized() };
  if (body instanceof FormData) {
    options.body = body;
  } else if (body !== undefined) {
    options.headers['Content-Type'] = 'application/json';
    options.body = JSON.stringify(body);
  }
  const response = await fetch(path, options);
  const text = await response.text();
  let data;
  try { data = JSON.parse(text); } catch { data = { error: text || response.statusText }; }
  if (!response.ok) throw new Error(data.error || response.statusText);
  return data;
}

function showMessage(text) {
  $('message').textContent = text || '';
  $('message').hidden = !text;
}

async function act(work) {
  try {
    showMessage('');
    await work();
  } catch (error) {
    showMessage(error.message);
  }
}

function takeState(data) {
  const serialChanged = !state.project || !data.project || state.project.serial !== data.project.serial;
  state.project = data.project;
  state.runs = data.runs;
  planMode.take(data.project);
  if (serialChanged) {
    state.shown = null;
    state.selection = null;
  }
  render(serialChanged);
}

// ---- formatting --------------------------------------------------------------------------------

const fixed = (digits) => v => (v === null || v === undefined || !Number.isFinite(v)) ? '' : v.toFixed(digits);
const mm = v => (v === null || v === undefined || !Number.isFinite(v)) ? '' : (v * 1000).toFixed(1);

function controlName(f) {
  if (f[0] && f[1] && f[2]) return 'fixed';
  if (!f[0] && !f[1] && !f[2]) return 'free';
  if (f[0] && f[1] && !f[2]) return 'horizontal';
  if (!f[0] && !f[1] && f[2]) return 'height';
  return 'custom';
}
const CONTROL_FLAGS = { fixed: [true, true, true], free: [false, false, false],
                        horizontal: [true, true, false], height: [false, false, true] };

// ---- tables -------------------------------------------------------------------------------------

function siteRows() {
  const p = state.project;
  if (!p) return [];
  const results = state.shown;
  return p.sites.map((s, i) => {
    const r = results && results.sites ? results.sites[i] : null;
    return { ...s, result: r };
  });
}

function vectorRows() {
  const p = state.project;
  if (!p) return [];
  const results = state.shown;
  return p.vectors.map((v, i) => ({ ...v, result: results && results.vectors ? results.vectors[i] : null }));
}

// The statistics of the rigorous model of the run shown, or null.
function rigorousShown() {
  return state.shown && state.shown.rigorous ? state.shown.rigorous : null;
}

function testRows() {
  const s = rigorousShown();
  if (!s) return [];
  const rows = [];
  for (const v of s.vectors) {
    if (!v.inUse) continue;
    for (const c of v.components) rows.push({ index: v.record - 1, from: v.from, to: v.to, ...c });
  }
  return rows;
}

function relativeRows() {
  const s = rigorousShown();
  return s ? s.relativePrecision.map((p, i) => ({ index: i, ...p })) : [];
}

function checkbox(checked, onChange, label) {
  const input = document.createElement('input');
  input.type = 'checkbox';
  input.checked = checked;
  input.title = label;
  input.setAttribute('aria-label', label);
  input.addEventListener('click', e => e.stopPropagation());
  input.addEventListener('change', () => onChange(input.checked));
  return input;
}

function editVectorUse(index, inUse) {
  return act(async () => takeState(await api('POST', '/api/edit', { op: 'vectorUse', index, inUse })));
}

const TABLES = {
  sites: {
    kind: 'site',
    rows: siteRows,
    columns: [
      { key: 'name', label: 'Site', value: r => r.name },
      { key: 'inUse', label: 'In use', value: r => r.inUse,
        cell: r => checkbox(r.inUse, inUse => act(async () => takeState(
          await api('POST', '/api/edit', { op: 'siteUse', index: r.index, inUse }))), `use site ${r.name}`) },
      { key: 'control', label: 'Control', value: r => controlName(r.fixed) + (r.constrained ? ' constrained' : ''),
        cell: r => controlSelect(r) },
      { key: 'latitude', label: 'Latitude °', num: true, value: r => r.latitude, format: fixed(7) },
      { key: 'longitude', label: 'Longitude °', num: true, value: r => r.longitude, format: fixed(7) },
      { key: 'elevation', label: 'Elev. m', num: true, value: r => r.elevation, format: fixed(3) },
      { key: 'adjElevation', label: 'Adj. elev. m', num: true, value: r => r.result && r.result.adjusted ? r.result.elevation : null, format: fixed(4) },
      { key: 'sn', label: 'σN mm', num: true, value: r => r.result && r.result.adjusted ? r.result.sigmas[0] : null, format: mm },
      { key: 'se', label: 'σE mm', num: true, value: r => r.result && r.result.adjusted ? r.result.sigmas[1] : null, format: mm },
      { key: 'su', label: 'σU mm', num: true, value: r => r.result && r.result.adjusted ? r.result.sigmas[2] : null, format: mm },
    ],
    rowClass: r => (r.inUse ? '' : 'out'),
  },
  vectors: {
    kind: 'vector',
    rows: vectorRows,
    columns: [
      { key: 'number', label: 'No.', num: true, value: r => r.index + 1 },
      { key: 'from', label: 'From', value: r => r.from },
      { key: 'to', label: 'To', value: r => r.to },
      { key: 'inUse', label: 'In use', value: r => r.inUse,
        cell: r => checkbox(r.inUse, inUse => editVectorUse(r.index, inUse), `use vector ${r.index + 1}`) },
      { key: 'length', label: 'Length m', num: true, value: r => r.length, format: fixed(3) },
      { key: 'w', label: 'max |w|', num: true, cls: 'w', value: r => r.result && r.result.adjusted ? r.result.largestNormalized : null, format: fixed(2) },
      { key: 'rn', label: 'vN mm', num: true, value: r => r.result && r.result.adjusted ? r.result.residual[0] : null, format: mm },
      { key: 're', label: 'vE mm', num: true, value: r => r.result && r.result.adjusted ? r.result.residual[1] : null, format: mm },
      { key: 'ru', label: 'vU mm', num: true, value: r => r.result && r.result.adjusted ? r.result.residual[2] : null, format: mm },
    ],
    rowClass: r => (r.inUse ? '' : 'out') + (r.result && r.result.flagged ? ' flagged' : ''),
  },
  outliers: {
    kind: 'vector',
    rows: () => vectorRows().filter(r => r.result && r.result.adjusted),
    defaultSort: { key: 'w', descending: true },
    columns: [
      { key: 'number', label: 'No.', num: true, value: r => r.index + 1 },
      { key: 'from', label: 'From', value: r => r.from },
      { key: 'to', label: 'To', value: r => r.to },
      { key: 'w', label: 'max |w|', num: true, cls: 'w', value: r => r.result.largestNormalized, format: fixed(2) },
      { key: 'wn', label: 'wN', num: true, value: r => r.result.normalized[0], format: fixed(2) },
      { key: 'we', label: 'wE', num: true, value: r => r.result.normalized[1], format: fixed(2) },
      { key: 'wu', label: 'wU', num: true, value: r => r.result.normalized[2], format: fixed(2) },
      { key: 'action', label: '', value: () => '',
        cell: r => {
          if (!r.result.flagged) return '';
          const button = document.createElement('button');
          button.textContent = 'Switch out and re-run';
          button.className = 'switch-out';
          button.addEventListener('click', e => { e.stopPropagation(); switchOutAndRerun(r.index); });
          return button;
        } },
    ],
    rowClass: r => (r.result.flagged ? 'flagged' : ''),
  },
  // The rigorous model's observation tests, one row per vector component, largest |studentized| first.
  tests: {
    kind: 'vector',
    rows: testRows,
    defaultSort: { key: 't', descending: true },
    columns: [
      { key: 'number', label: 'No.', num: true, value: r => r.index + 1 },
      { key: 'from', label: 'From', value: r => r.from },
      { key: 'to', label: 'To', value: r => r.to },
      { key: 'axis', label: 'Axis', value: r => r.axis.toUpperCase() },
      { key: 'v', label: 'v mm', num: true, value: r => r.residual, format: mm },
      { key: 'sv', label: 'σv mm', num: true, value: r => r.residualSigma, format: mm },
      { key: 'r', label: 'r', num: true, value: r => r.redundancy, format: fixed(3) },
      { key: 'w', label: 'w', num: true, value: r => r.standardized, format: fixed(2) },
      { key: 't', label: '|t|', num: true, cls: 'w', value: r => Math.abs(r.studentized), format: fixed(2) },
      { key: 'mdb', label: 'MDB mm', num: true, value: r => r.mdb, format: mm },
    ],
    rowClass: r => (r.outlier ? 'flagged' : ''),
  },
  // The rigorous model's relative precision of every pair of sites joined by a vector in use.
  relative: {
    kind: 'pair',
    rows: relativeRows,
    defaultSort: { key: 'ppm', descending: true },
    columns: [
      { key: 'from', label: 'From', value: r => r.from },
      { key: 'to', label: 'To', value: r => r.to },
      { key: 'distance', label: 'Distance m', num: true, value: r => r.distance, format: fixed(3) },
      { key: 'a', label: 'a mm', num: true, value: r => r.semiMajor, format: mm },
      { key: 'b', label: 'b mm', num: true, value: r => r.semiMinor, format: mm },
      { key: 'azimuth', label: 'Az. °', num: true, value: r => r.azimuth, format: fixed(1) },
      { key: 'vertical', label: 'σU mm', num: true, value: r => r.verticalSigma, format: mm },
      { key: 'ppm', label: 'ppm', num: true, value: r => r.ppm, format: fixed(2) },
      { key: 'check', label: 'Tolerance', value: r => r.withinTolerance === undefined ? '' : (r.withinTolerance ? 'pass' : 'fail') },
    ],
    rowClass: r => (r.withinTolerance === false ? 'fail' : ''),
  },
  history: {
    kind: 'run',
    rows: () => state.runs.slice().reverse(),
    columns: [
      { key: 'id', label: 'Run', num: true, value: r => r.id },
      { key: 'outcome', label: 'Outcome', value: r => r.outcome },
      { key: 'chiSquare', label: 'χ²', num: true, value: r => r.chiSquare, format: fixed(2) },
      { key: 'limits', label: 'limits', value: r => Number.isFinite(r.chiSquareLower) ? `${r.chiSquareLower.toFixed(2)} – ${r.chiSquareUpper.toFixed(2)}` : '' },
      { key: 'passed', label: 'χ² test', value: r => r.chiSquare === undefined ? '' : (r.chiSquarePassed ? 'passed' : 'failed') },
      { key: 'sigma0', label: 'σ0', num: true, value: r => r.unitWeightStandardError, format: fixed(3) },
      { key: 'flagged', label: 'flagged', num: true, value: r => r.flagged },
      { key: 'changes', label: 'Changes before the run', value: r => r.changes.length ? r.changes.join('; ') : (r.id === 1 ? 'first run' : 'none') },
      { key: 'delete', label: '', value: () => '',
        cell: r => {
          if (!r.finished) return '';
          const button = document.createElement('button');
          button.textContent = '×';
          button.className = 'delete-run';
          button.title = `Delete run ${r.id} and its files`;
          button.setAttribute('aria-label', button.title);
          button.addEventListener('click', e => { e.stopPropagation(); deleteRun(r.id); });
          return button;
        } },
    ],
    rowClass: r => (r.chiSquare === undefined ? '' : (r.chiSquarePassed ? 'pass' : 'fail')),
  },
};

function controlSelect(row) {
  const select = document.createElement('select');
  select.setAttribute('aria-label', `control of ${row.name}`);
  const current = controlName(row.fixed);
  for (const name of ['free', 'fixed', 'horizontal', 'height'].concat(current === 'custom' ? ['custom'] : [])) {
    const option = document.createElement('option');
    option.value = name;
    option.textContent = name === 'horizontal' ? 'fixed horizontally' : name === 'height' ? 'fixed in height' : name;
    option.selected = name === current;
    select.appendChild(option);
  }
  select.addEventListener('click', e => e.stopPropagation());
  select.addEventListener('change', () => {
    const f = CONTROL_FLAGS[select.value];
    if (!f) return;
    act(async () => takeState(await api('POST', '/api/edit', {
      op: 'siteControl', index: row.index, fixed: { latitude: f[0], longitude: f[1], elevation: f[2] } })));
  });
  return select;
}

function compare(a, b) {
  const missing = v => v === null || v === undefined || v === '' || (typeof v === 'number' && !Number.isFinite(v));
  if (missing(a) && missing(b)) return 0;
  if (missing(a)) return 1;
  if (missing(b)) return -1;
  if (typeof a === 'number' && typeof b === 'number') return a - b;
  return String(a).localeCompare(String(b), undefined, { numeric: true });
}

function renderTable(name) {
  const columnsOf = TABLES[name];
  if (!columnsOf) return;  // the Plan tab has a panel of its own
  const table = $(`${name}-table`);
  const sort = state.sort[name] || columnsOf.defaultSort || null;
  const filter = $('filter').value.trim().toLowerCase();
  let rows = columnsOf.rows();
  const text = (col, r) => {
    const v = col.value(r);
    return col.format ? col.format(v) : (v === null || v === undefined ? '' : String(v));
  };
  if (filter) {
    rows = rows.filter(r => columnsOf.columns.some(c => text(c, r).toLowerCase().includes(filter)));
  }
  if (sort) {
    const col = columnsOf.columns.find(c => c.key === sort.key);
    if (col) {
      rows = rows.slice().sort((a, b) => {
        const order = compare(col.value(a), col.value(b));
        return sort.descending ? -order : order;
      });
    }
  }
  const head = document.createElement('thead');
  const headRow = document.createElement('tr');
  for (const col of columnsOf.columns) {
    const th = document.createElement('th');
    th.textContent = col.label;
    th.dataset.key = col.key;
    if (sort && sort.key === col.key) th.className = sort.descending ? 'sorted-desc' : 'sorted-asc';
    th.addEventListener('click', () => {
      const descending = sort && sort.key === col.key ? !sort.descending : false;
      state.sort[name] = { key: col.key, descending };
      renderTable(name);
    });
    headRow.appendChild(th);
  }
  head.appendChild(headRow);
  const body = document.createElement('tbody');
  for (const r of rows.slice(0, MAX_ROWS)) {
    const tr = document.createElement('tr');
    tr.className = columnsOf.rowClass ? columnsOf.rowClass(r) : '';
    const index = columnsOf.kind === 'run' ? r.id : r.index;
    tr.dataset.index = index;
    if (state.selection && state.selection.kind === columnsOf.kind && state.selection.index === index) {
      tr.classList.add('selected');
    }
    for (const col of columnsOf.columns) {
      const td = document.createElement('td');
      if (col.num) td.className = 'num';
      if (col.cls) td.classList.add(col.cls);
      td.dataset.key = col.key;
      if (col.cell) {
        const content = col.cell(r);
        if (content instanceof Node) td.appendChild(content); else td.textContent = content;
      } else {
        td.textContent = text(col, r);
      }
      tr.appendChild(td);
    }
    tr.addEventListener('click', () => {
      if (columnsOf.kind === 'run') showRun(r.id);
      else select({ kind: columnsOf.kind, index }, 'table');
    });
    body.appendChild(tr);
  }
  if (rows.length > MAX_ROWS) {
    const tr = document.createElement('tr');
    const td = document.createElement('td');
    td.colSpan = columnsOf.columns.length;
    td.className = 'muted';
    td.textContent = `${MAX_ROWS} of ${rows.length} rows shown: sort or filter to see the others`;
    tr.appendChild(td);
    body.appendChild(tr);
  }
  table.replaceChildren(head, body);
}

// Only the table in front is drawn; the others are drawn when their tab is chosen.
function renderTables() {
  renderTable(state.tab);
}

function showTab(name) {
  state.tab = name;
  for (const button of document.querySelectorAll('#tabs button')) {
    button.classList.toggle('active', button.dataset.tab === name);
  }
  for (const table of document.querySelectorAll('.table-box table')) {
    table.hidden = table.dataset.tab !== name;
  }
  if (name === 'plan') planMode.activate(); else planMode.deactivate();
  renderTable(name);
}

// ---- selection: the tables and the plot show the same site or vector --------------------------

function select(selection, from) {
  if (planMode.active && from === 'plot') {
    planMode.click(selection);
    return;
  }
  state.selection = selection;
  plot.select(selection);
  if (from === 'plot') {
    const tab = selection.kind === 'site' ? 'sites' : (state.tab === 'outliers' ? 'outliers' : 'vectors');
    showTab(tab);
  }
  {
    const name = state.tab;
    const columnsOf = TABLES[name] || {};
    for (const tr of $(`${name}-table`).querySelectorAll('tbody tr')) {
      const chosen = columnsOf.kind === selection.kind && Number(tr.dataset.index) === selection.index;
      tr.classList.toggle('selected', chosen);
      if (chosen && from === 'plot' && !$(`${name}-table`).hidden) tr.scrollIntoView({ block: 'nearest' });
    }
  }
}

// ---- the plot -----------------------------------------------------------------------------------

const plot = new NetworkPlot($('plot'), select);
const planMode = new PlanMode({ api, $, project: () => state.project, redraw: () => renderPlot(false),
                                showMessage, takeState: data => takeState(data) });

function renderPlot(fitNow) {
  const p = state.project;
  if (!p) { plot.setData({ sites: [], vectors: [], ellipses: [] }, true); return; }
  const r = state.shown && state.shown.sites ? state.shown : null;
  const sites = p.sites.map((s, i) => {
    const res = r ? r.sites[i] : null;
    const useAdjusted = res && res.adjusted && Number.isFinite(res.east);
    return { name: s.name, inUse: s.inUse, fixed: s.fixed, control: s.fixed.some(Boolean) || s.constrained,
             east: useAdjusted ? res.east : s.east, north: useAdjusted ? res.north : s.north };
  });
  const vectors = p.vectors.map((v, i) => {
    const res = r ? r.vectors[i] : null;
    const flagged = !!(res && res.flagged);
    return { from: v.fromIndex, to: v.toIndex, inUse: v.inUse, flagged,
             label: flagged ? `w ${res.largestNormalized.toFixed(1)}` : '',
             severity: flagged ? res.largestNormalized : 0,
             title: `${v.index + 1}: ${v.from} → ${v.to}` + (res && res.adjusted ? `, max |w| ${res.largestNormalized.toFixed(2)}` : '') };
  });
  const ellipses = [];
  let legend = 'triangles: control (filled when fixed); dashed: out of use';
  const rigorous = rigorousShown();
  if (rigorous) {
    // Oriented ellipses of the rigorous model, matched to the project's sites by their full names.
    const byName = new Map(p.sites.map((s, i) => [s.name, i]));
    for (const s of rigorous.sites) {
      const i = byName.get(s.name);
      if (i !== undefined && s.adjusted && s.ellipse && s.ellipse.semiMajor > 0) {
        ellipses.push({ site: i, semiMajor: s.ellipse.semiMajor, semiMinor: s.ellipse.semiMinor,
                        azimuth: s.ellipse.azimuth });
      }
    }
    legend += '; red: flagged vectors';
  } else if (r) {
    const factor = r.statistics.ellipseFactor;
    r.sites.forEach((res, i) => {
      if (res.adjusted && res.sigmas[0] > 0) {
        ellipses.push({ site: i, sigmaNorth: res.sigmas[0] * factor, sigmaEast: res.sigmas[1] * factor });
      }
    });
    legend += '; red: flagged vectors';
  }
  if (planMode.active) {
    // Planning: the planned vectors beside the observed ones, the pre-analysis' ellipses.
    const layers = planMode.plotLayers(p);
    vectors.push(...layers.vectors);
    ellipses.splice(0, ellipses.length, ...layers.ellipses);
    if (layers.first !== null) sites[layers.first].pending = true;
    legend = 'planning: blue dashed: planned vectors; ellipses of the pre-analysis (a-priori σ0)';
  }
  plot.setData({ sites, vectors, ellipses }, fitNow);
  if (plot.exaggeration && planMode.active) {
    legend += ` at 95 %, × ${plot.exaggeration}`;
  } else if (plot.exaggeration && rigorous) {
    legend += `; oriented ellipses at ${Math.round(rigorous.confidence * 1000) / 10} %, ` +
              `${rigorous.scaledBy} σ0, × ${plot.exaggeration}`;
  } else if (plot.exaggeration) legend += `; ellipses at ${r.statistics.confidenceLevel} % × ${plot.exaggeration}`;
  $('plot-legend').textContent = legend;
}

// ---- the whole page ------------------------------------------------------------------------------

function render(fitPlot) {
  const p = state.project;
  $('project-title').textContent = p ? (p.title || '(untitled project)') : 'No project open';
  $('project-source').textContent = p ? `${p.source}${p.unsaved ? ' (unsaved changes)' : ''}` : '';
  if (p && document.activeElement !== $('save-path')) $('save-path').value = p.savePath || '';
  const lines = [];
  if (p && p.importError) lines.push('This project does not become a data set yet: ' + p.importError);
  if (p && p.changes.length) lines.push('Changes since the last run: ' + p.changes.join('; '));
  if (p && p.notes.length) lines.push(...p.notes);
  $('notes').textContent = lines.join('\n');
  $('notes').hidden = !lines.length;
  $('download-project').hidden = !p;
  updateRunButtons();
  renderTables();
  renderPlot(fitPlot);
  renderResults();
}

function updateRunButtons() {
  const running = !!(state.following && !state.following.done);
  $('adjust-button').disabled = !state.project || !!state.project.importError || running;
  $('cancel-button').disabled = !running;
}

function renderResults() {
  const box = $('results-summary');
  const downloads = $('downloads');
  downloads.replaceChildren();
  const r = state.shown;
  if (!r) {
    box.className = 'muted';
    box.textContent = state.project ? 'No results yet: press Adjust.' : '';
    return;
  }
  box.className = '';
  const s = r.statistics;
  const table = document.createElement('table');
  const row = (label, value, id, cls) => {
    const tr = document.createElement('tr');
    const a = document.createElement('td'); a.textContent = label;
    const b = document.createElement('td'); b.textContent = value;
    if (id) b.id = id;
    if (cls) b.className = cls;
    tr.append(a, b);
    table.appendChild(tr);
  };
  row('Run', `${r.summary.id}: ${r.summary.outcome}`, 'result-outcome');
  if (r.summary.engine) row('Program', r.summary.engine, 'result-engine');
  if (s && s.hasResults) {
    row('Chi-square', fixed(2)(s.chiSquare), 'chi-square');
    row('Limits', `${fixed(2)(s.chiSquareLower)} to ${fixed(2)(s.chiSquareUpper)}`);
    row('Chi-square test', s.chiSquarePassed ? 'passed' : 'failed', 'chi-square-verdict', s.chiSquarePassed ? 'pass' : 'fail');
    row('Standard error of unit weight', fixed(3)(s.unitWeightStandardError), 'sigma0');
    row('Observations / unknowns / degrees of freedom', `${s.observations} / ${s.unknowns} / ${s.degreesOfFreedom}`);
    row('Iterations', String(s.iterations));
    row('Tau critical value', fixed(3)(s.tauCriticalValue));
    row('Vectors above it', String(s.flagged), 'flagged-count', s.flagged ? 'fail' : 'pass');
  }
  if (r.model) row('Model', r.model, 'result-model');
  const g = r.rigorous;
  if (g) {
    row('σ0 a priori / a posteriori', `${fixed(3)(g.sigma0.apriori)} / ${fixed(4)(g.sigma0.aposteriori)}`, 'rigorous-sigma0');
    row('Ellipses and relative precisions', `at ${Math.round(g.confidence * 1000) / 10} %, scaled by the ${g.scaledBy} σ0`);
    const c = g.criticalValues;
    row('Critical |studentized residual|', `${fixed(3)(c.studentized)} (tau test; MDB at α0 ${c.alpha0}, power ${c.power}, δ0 ${fixed(2)(c.delta0)})`);
    row('Residuals', 'v = adjusted − observed, Earth-centred X, Y, Z');
    const taken = g.snooping.map(s => `${s.from}–${s.to} (t ${fixed(2)(s.studentized)})`);
    row('Data snooping took out', taken.length ? taken.join(', ') : 'nothing', 'snooping', taken.length ? 'fail' : '');
  }
  if (r.problems && r.problems.length) row('Problems', r.problems.join('; '), 'result-problems', 'fail');
  if (r.notes) row('Notes', r.notes.trim());
  box.replaceChildren(table);
  const labels = { dataset: 'Output data set', rtf: 'Report (RTF)', html: 'Report (HTML)', csv: 'CSV export',
                   json: 'Project export (JSON)', svg: 'Plot (SVG)', statistics: 'Statistics (JSON)' };
  for (const kind of r.downloads) {
    const a = document.createElement('a');
    a.href = '#';
    a.textContent = labels[kind] || kind;
    a.dataset.kind = kind;
    a.addEventListener('click', e => { e.preventDefault(); download(`/api/runs/${r.summary.id}/files/${kind}`); });
    downloads.appendChild(a);
  }
}

// A download fetched with the token and handed to the browser as a file, under the name the
// server gives it.
function download(path) {
  return act(async () => {
    const response = await fetch(path, { headers: authorized() });
    if (!response.ok) throw new Error(`${path}: ${response.status} ${response.statusText}`);
    const named = /filename="([^"]+)"/.exec(response.headers.get('Content-Disposition') || '');
    const url = URL.createObjectURL(await response.blob());
    const a = document.createElement('a');
    a.href = url;
    a.download = named ? named[1] : 'download';
    document.body.appendChild(a);
    a.click();
    a.remove();
    setTimeout(() => URL.revokeObjectURL(url), 60000);
  });
}

// ---- runs -----------------------------------------------------------------------------------------

function setProgress(stage, aborting) {
  $('progress').setAttribute('aria-valuenow', String(stage));
  $('progress-fill').style.width = `${stage}%`;
  $('progress-value').textContent = String(stage);
  $('progress').classList.toggle('aborted', !!aborting);
}

function setStatus(text, cls) {
  $('run-status').textContent = text;
  $('run-status').className = cls || '';
}

// The report as a rich-text window shows it: lines of runs with the program's sizes, colours and
// attributes. Each event replaces the lines from its "from" on.
function applyReport(event) {
  const report = $('report');
  while (report.children.length > event.from) report.lastChild.remove();
  for (const line of event.lines) {
    const div = document.createElement('div');
    div.className = line.centred ? 'line centred' : 'line';
    for (const [text, colour, attributes, halfPoints] of line.runs) {
      const span = document.createElement('span');
      span.className = `c${colour}` + (attributes & 1 ? ' b' : '') + (attributes & 2 ? ' i' : '') + (attributes & 4 ? ' u' : '');
      span.style.fontSize = `${halfPoints / 2}pt`;
      span.textContent = text;
      div.appendChild(span);
    }
    report.appendChild(div);
  }
  if (state.following && !state.following.done) report.scrollTop = report.scrollHeight;
}

function stopFollowing() {
  if (state.following) state.following.stream.abort();
  state.following = null;
}

// Reads a stream of server-sent events with the token in its header (an EventSource cannot send
// one): calls onEvent(name, data, id) for each, and returns when the stream ends.
async function readEvents(path, lastId, stream, onEvent) {
  const headers = authorized({ Accept: 'text/event-stream' });
  if (lastId !== null) headers['Last-Event-ID'] = String(lastId);
  const response = await fetch(path, { headers, signal: stream.signal });
  if (!response.ok) throw new Error(`${response.status} ${(await response.text()).trim()}`);
  const reader = response.body.pipeThrough(new TextDecoderStream()).getReader();
  let buffer = '';
  for (;;) {
    const { value, done } = await reader.read();
    if (done) return;
    buffer += value;
    let end;
    while ((end = buffer.indexOf('\n\n')) >= 0) {
      const block = buffer.slice(0, end);
      buffer = buffer.slice(end + 2);
      const event = { id: null, name: 'message', data: '' };
      for (const line of block.split('\n')) {
        const colon = line.indexOf(': ');
        if (colon <= 0) continue;  // a comment that keeps the stream open
        const [field, text] = [line.slice(0, colon), line.slice(colon + 2)];
        if (field === 'id') event.id = Number(text);
        else if (field === 'event') event.name = text;
        else if (field === 'data') event.data += text;
      }
      if (event.data) onEvent(event.name, JSON.parse(event.data), event.id);
    }
  }
}

// Follows a run's events from its start: a run going on fills the page live; a finished one is
// replayed (the report and the results of an earlier run). A stream cut short reconnects where
// it was, a few times, before the page says the connection was lost.
function followRun(id) {
  stopFollowing();
  $('report').replaceChildren();
  setProgress(0, false);
  setStatus(`Run ${id}…`);
  const following = { id, stream: new AbortController(), done: false, lastId: null };
  state.following = following;
  updateRunButtons();
  const handlers = {
    progress: d => {
      setProgress(d.stage, d.aborting);
      $('stage-text').textContent = d.description;
      if (d.aborting) setStatus(`Aborting at stage ${d.stage}…`, 'fail');
    },
    report: applyReport,
    warning: d => showWarning(id, d),
    warningAnswered: () => closeWarning(),
    done: d => finishRun(following, d),
  };
  const onEvent = (name, data, eventId) => {
    if (state.following !== following) return;
    if (eventId !== null) following.lastId = eventId;
    if (handlers[name]) handlers[name](data);
  };
  (async () => {
    for (let attempt = 0; attempt < 5 && !following.done && state.following === following; ++attempt) {
      try {
        await readEvents(`/api/runs/${id}/events`, following.lastId, following.stream, onEvent);
      } catch (error) {
        if (following.stream.signal.aborted) return;
      }
      if (!following.done) await new Promise(resolve => setTimeout(resolve, 1000));
    }
    if (!following.done && state.following === following) {
      setStatus(`Run ${id}: the connection to the server was lost`, 'fail');
      following.done = true;
      updateRunButtons();
    }
  })();
}

function finishRun(following, d) {
  const id = following.id;
  following.done = true;
  following.stream.abort();
  closeWarning();
  updateRunButtons();
  const s = d.statistics;
  const passed = s && s.hasResults && s.chiSquarePassed;
  setStatus(`Run ${id}: ${d.summary.outcome}` + (s && s.hasResults ? `, chi-square ${passed ? 'passed' : 'failed'}` : ''),
            d.summary.outcome === 'adjusted' && passed ? 'pass' : 'fail');
  const known = state.runs.findIndex(r => r.id === id);
  if (known >= 0) state.runs[known] = d.summary; else state.runs.push(d.summary);
  if (state.project && d.summary.projectSerial === state.project.serial) state.shown = d;
  render(false);
  refresh();
}

async function refresh() {
  await act(async () => takeState(await api('GET', '/api/state')));
}

function startRun() {
  return act(async () => {
    $('report').replaceChildren();
    const choices = { model: $('model').value };
    if (choices.model === 'rigorous') {
      const rounds = Number($('snoop').value);
      if (rounds > 0) choices.snoop = rounds;
      if ($('tolerance').value.trim()) choices.relativeTolerance = $('tolerance').value.trim();
    }
    const { id } = await api('POST', '/api/runs', choices);
    followRun(id);
    await refresh();
  });
}

// Drops a run that has ended from the history, with its files on the server.
function deleteRun(id) {
  return act(async () => {
    const data = await api('DELETE', `/api/runs/${id}`);
    if (state.following && state.following.id === id) {
      stopFollowing();
      $('report').replaceChildren();
      setProgress(0, false);
      setStatus('');
    }
    if (state.shown && state.shown.summary.id === id) state.shown = null;
    takeState(data);
  });
}

function showRun(id) {
  select({ kind: 'run', index: id }, 'table');
  followRun(id);
}

async function switchOutAndRerun(index) {
  await editVectorUse(index, false);
  if (!$('message').hidden) return;
  await startRun();
}

// ---- the connectivity warning ---------------------------------------------------------------------

function showWarning(id, warning) {
  $('warning-caption').textContent = warning.caption;
  $('warning-text').textContent = warning.text;
  const dialog = $('warning-dialog');
  dialog.dataset.run = String(id);
  if (!dialog.open) dialog.showModal();
}

function closeWarning() {
  const dialog = $('warning-dialog');
  if (dialog.open) dialog.close();
}

function answerWarning(ok) {
  const id = $('warning-dialog').dataset.run;
  closeWarning();
  act(() => api('POST', `/api/runs/${id}/warning`, { ok }));
}

// ---- wiring ----------------------------------------------------------------------------------------

$('open-form').addEventListener('submit', e => {
  e.preventDefault();
  const paths = $('open-path').value.split(';').map(p => p.trim()).filter(Boolean);
  act(async () => {
    stopFollowing();
    takeState(await api('POST', '/api/open', { paths, covarianceUnit: $('covariance-unit').value }));
    $('report').replaceChildren();
    setProgress(0, false);
    setStatus('');
  });
});
$('upload-form').addEventListener('submit', e => {
  e.preventDefault();
  const form = new FormData();
  for (const file of $('upload-input').files) form.append('files', file, file.name);
  form.append('covarianceUnit', $('covariance-unit').value);
  act(async () => {
    stopFollowing();
    takeState(await api('POST', '/api/upload', form));
    $('report').replaceChildren();
    setProgress(0, false);
    setStatus('');
  });
});
$('save-form').addEventListener('submit', e => {
  e.preventDefault();
  act(async () => {
    takeState(await api('POST', '/api/save', { path: $('save-path').value.trim() }));
    setStatus('Saved ' + $('save-path').value.trim());
  });
});
$('download-project').addEventListener('click', e => { e.preventDefault(); download('/api/project'); });
$('adjust-button').addEventListener('click', startRun);
$('cancel-button').addEventListener('click', () => {
  if (state.following) act(() => api('POST', `/api/runs/${state.following.id}/cancel`));
});
$('warning-ok').addEventListener('click', () => answerWarning(true));
$('warning-cancel').addEventListener('click', () => answerWarning(false));
$('warning-dialog').addEventListener('cancel', e => { e.preventDefault(); answerWarning(false); });
for (const button of document.querySelectorAll('#tabs button')) {
  button.addEventListener('click', () => showTab(button.dataset.tab));
}
$('filter').addEventListener('input', renderTables);
$('plot-fit').addEventListener('click', () => plot.fit());
$('plot-ellipses').addEventListener('change', e => $('plot').classList.toggle('hide-ellipses', !e.target.checked));
$('plot-names').addEventListener('change', e => $('plot').classList.toggle('hide-names', !e.target.checked));

// A page opened on a workspace that has run already shows the project's last run.
async function start() {
  await refresh();
  const p = state.project;
  const runs = p ? state.runs.filter(r => r.projectSerial === p.serial) : [];
  if (runs.length) followRun(runs[runs.length - 1].id);
}
start();
