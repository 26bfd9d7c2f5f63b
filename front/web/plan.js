// Plan mode: a person plans the vectors of a campaign on the plot (a click on one site, then on
// another, adds a planned vector; a click on a planned vector removes it), sets the receivers'
// sigma model and a relative tolerance, and sees the pre-analysis of the plan (ellipses, the
// relative precision of a chosen pair, the largest MDB) after every change, without a run.
const DEBOUNCE_MS = 250;  // quiet time after the last change before the pre-analysis is asked for

const mm = v => (v === null || v === undefined || !Number.isFinite(v)) ? '–' : (v * 1000).toFixed(1);

export class PlanMode {
  // env: { api, $, project: () => the project view, redraw: () => void, showMessage }
  constructor(env) {
    this.env = env;
    this.active = false;
    this.planned = [];     // [{from, to}] by full site names
    this.first = null;     // the site index clicked first, waiting for the second
    this.answer = null;    // the last pre-analysis answer
    this.asked = 0;        // serial of the last request, so that a late answer is dropped
    this.timer = null;
    this.serial = null;
    const $ = env.$;
    for (const id of ['plan-h-mm', 'plan-h-ppm', 'plan-v-mm', 'plan-v-ppm', 'plan-tolerance']) {
      $(id).addEventListener('input', () => this.schedule());
    }
    $('plan-pair').addEventListener('change', () => this.renderAnswer());
    $('plan-clear').addEventListener('click', () => { this.planned = []; this.changed(); });
    $('plan-save').addEventListener('click', () => this.save());
  }

  // A new project view: its saved plan is loaded when the project itself changed.
  take(project) {
    if (!project || project.serial === this.serial) return;
    this.serial = project.serial;
    this.planned = (project.planned || []).map(p => ({ from: p.from, to: p.to }));
    this.first = null;
    this.answer = null;
    if (this.active) this.schedule();
  }

  activate() {
    if (this.active) return;
    this.active = true;
    this.env.$('plan-panel').hidden = false;
    this.schedule(0);
  }

  deactivate() {
    if (!this.active) return;
    this.active = false;
    this.first = null;
    this.env.$('plan-panel').hidden = true;
    this.env.redraw();
  }

  // A click on the plot in plan mode: sites join, planned vectors go.
  click(selection) {
    const p = this.env.project();
    if (!p) return;
    const observed = p.vectors.length;
    if (selection.kind === 'vector' && selection.index >= observed) {
      this.planned.splice(selection.index - observed, 1);
      this.first = null;
      this.changed();
      return;
    }
    if (selection.kind !== 'site') return;
    if (this.first === null || this.first === selection.index) {
      this.first = this.first === selection.index ? null : selection.index;
      this.env.redraw();
      this.renderList();
      return;
    }
    this.planned.push({ from: p.sites[this.first].name, to: p.sites[selection.index].name });
    this.first = null;
    this.changed();
  }

  changed() {
    this.renderList();
    this.env.redraw();
    this.schedule();
  }

  sigmaModel() {
    const $ = this.env.$;
    const value = id => Number($(id).value);
    return { horizontal: [value('plan-h-mm') / 1000, value('plan-h-ppm')],
             vertical: [value('plan-v-mm') / 1000, value('plan-v-ppm')] };
  }

  schedule(delay = DEBOUNCE_MS) {
    clearTimeout(this.timer);
    this.timer = setTimeout(() => this.ask(), delay);
  }

  async ask() {
    if (!this.active || !this.env.project()) return;
    const serial = ++this.asked;
    const body = { planned: this.planned, sigmaModel: this.sigmaModel() };
    const tolerance = this.env.$('plan-tolerance').value.trim();
    if (tolerance) body.relativeTolerance = tolerance;
    this.env.$('plan-status').textContent = 'computing…';
    try {
      const answer = await this.env.api('POST', '/api/preanalysis', body);
      if (serial !== this.asked) return;
      this.answer = answer;
      this.env.showMessage('');
    } catch (error) {
      if (serial !== this.asked) return;
      this.answer = null;
      this.env.showMessage(error.message);
    }
    this.renderAnswer();
    this.env.redraw();
  }

  async save() {
    const data = await this.env.api('POST', '/api/edit', { op: 'planned', planned: this.planned });
    this.env.takeState(data);
  }

  // The plot's extra vectors and ellipses while planning.
  plotLayers(p) {
    const byName = new Map(p.sites.map((s, i) => [s.name, i]));
    const vectors = this.planned.map((v, k) => ({
      from: byName.get(v.from), to: byName.get(v.to), inUse: true, planned: true, flagged: false,
      label: '', title: `planned ${k + 1}: ${v.from} → ${v.to} (click to remove)` }));
    const ellipses = [];
    for (const s of (this.answer ? this.answer.sites : [])) {
      const i = byName.get(s.name);
      if (i !== undefined && s.adjusted && s.ellipse && s.ellipse.semiMajor > 0) {
        ellipses.push({ site: i, semiMajor: s.ellipse.semiMajor, semiMinor: s.ellipse.semiMinor,
                        azimuth: s.ellipse.azimuth });
      }
    }
    return { vectors, ellipses, first: this.first };
  }

  renderList() {
    const list = this.env.$('plan-list');
    list.replaceChildren();
    this.planned.forEach((v, k) => {
      const li = document.createElement('li');
      li.textContent = `${v.from} → ${v.to} `;
      const remove = document.createElement('button');
      remove.type = 'button';
      remove.textContent = 'Remove';
      remove.addEventListener('click', () => { this.planned.splice(k, 1); this.changed(); });
      li.appendChild(remove);
      list.appendChild(li);
    });
    const p = this.env.project();
    this.env.$('plan-hint').textContent = this.first !== null && p
      ? `From ${p.sites[this.first].name}: click the other site.`
      : 'Click a site, then another, to plan a vector; click a planned vector to remove it.';
  }

  renderAnswer() {
    const $ = this.env.$;
    const a = this.answer;
    const select = $('plan-pair');
    const chosen = select.value;
    select.replaceChildren();
    const pairs = a ? a.relativePrecision : [];
    for (const p of pairs) {
      const option = document.createElement('option');
      option.value = option.textContent = `${p.from} – ${p.to}`;
      select.appendChild(option);
    }
    if (pairs.some(p => `${p.from} – ${p.to}` === chosen)) select.value = chosen;
    const pair = pairs.find(p => `${p.from} – ${p.to}` === select.value);
    $('plan-pair-result').textContent = pair
      ? `${mm(pair.semiMajor)} mm at ${Math.round(pair.confidence * 1000) / 10} % over ` +
        `${(pair.distance / 1000).toFixed(3)} km (${pair.ppm.toFixed(2)} ppm)` +
        (pair.withinTolerance === undefined ? '' : pair.withinTolerance ? ': within tolerance' : ': beyond tolerance')
      : '–';
    $('plan-pair-result').className = pair && pair.withinTolerance !== undefined
      ? (pair.withinTolerance ? 'pass' : 'fail') : '';
    let largest = null;
    for (const v of (a ? a.vectors : [])) {
      for (const c of v.components) {
        if (v.inUse && Number.isFinite(c.mdb) && (!largest || c.mdb > largest.mdb)) {
          largest = { mdb: c.mdb, text: `${v.from} → ${v.to} ${c.axis}` };
        }
      }
    }
    $('plan-mdb').textContent = largest ? `${mm(largest.mdb)} mm (${largest.text})` : '–';
    let ellipse = null;
    for (const s of (a ? a.sites : [])) {
      if (s.adjusted && (!ellipse || s.ellipse.semiMajor > ellipse.semiMajor)) {
        ellipse = { semiMajor: s.ellipse.semiMajor, name: s.name };
      }
    }
    $('plan-ellipse').textContent = ellipse ? `${mm(ellipse.semiMajor)} mm (${ellipse.name})` : '–';
    $('plan-status').textContent = a
      ? `pre-analysis of ${this.planned.length} planned vectors, σ0 a priori ${a.sigma0.apriori}; ` +
        `answered in ${Math.round(a.elapsedSeconds * 1000)} ms`
      : '';
  }
}
