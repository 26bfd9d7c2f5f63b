// The network plot: sites, vectors, control, confidence ellipses and flagged vectors in the local
// east/north frame of the reference point, north up. Drag to pan, wheel to zoom; a click on a site
// or vector selects it (and the tables follow).
const SVG = 'http://www.w3.org/2000/svg';
const ZOOM_STEP = 1.15;       // per wheel notch
const CLICK_SLOP = 4;         // pixels a press may move and still count as a click
const ELLIPSE_SHARE = 0.04;   // the largest ellipse's semi-axis as a share of the network's extent
const SITE_RADIUS = 4.5;      // pixels

function el(name, attributes = {}, parent = null) {
  const node = document.createElementNS(SVG, name);
  for (const [key, value] of Object.entries(attributes)) node.setAttribute(key, value);
  if (parent) parent.appendChild(node);
  return node;
}

// The largest of 1, 2 or 5 times a power of ten that is not above value (> 0).
export function roundDown125(value) {
  const power = Math.pow(10, Math.floor(Math.log10(value)));
  for (const step of [5, 2, 1]) if (step * power <= value) return step * power;
  return power;
}

export class NetworkPlot {
  constructor(svg, onSelect) {
    this.svg = svg;
    this.onSelect = onSelect;
    this.view = { k: 1, tx: 0, ty: 0 };
    this.data = { sites: [], vectors: [], ellipses: [] };
    this.selection = null;
    this.world = el('g', {}, svg);
    this.vectorLayer = el('g', {}, this.world);
    this.ellipseLayer = el('g', {}, this.world);
    this.labelLayer = el('g', {}, svg);
    this.siteLayer = el('g', {}, svg);
    this.scaleLayer = el('g', {}, svg);
    this.bindPointer();
  }

  // sites: [{name, east, north, inUse, fixed: [3 booleans], control}]; vectors: [{from, to (site
  // indices), inUse, flagged, label}]; ellipses: [{site, sigmaEast, sigmaNorth}] in metres at the
  // confidence level given as ellipseLevel (percent).
  setData(data, fitNow) {
    this.data = data;
    this.build();
    if (fitNow) this.fit(); else this.place();
  }

  build() {
    for (const layer of [this.vectorLayer, this.ellipseLayer, this.labelLayer, this.siteLayer]) {
      layer.replaceChildren();
    }
    const { sites, vectors, ellipses } = this.data;
    this.vectorNodes = vectors.map((v, i) => {
      const a = sites[v.from], b = sites[v.to];
      if (!a || !b || !Number.isFinite(a.east) || !Number.isFinite(b.east)) return null;
      const line = el('line', {
        x1: a.east, y1: a.north, x2: b.east, y2: b.north,
        class: 'vector' + (v.inUse ? '' : ' out') + (v.flagged ? ' flagged' : '') + (v.planned ? ' planned' : ''),
        'vector-effect': 'non-scaling-stroke', 'data-kind': 'vector', 'data-index': i,
      }, this.vectorLayer);
      el('title', {}, line).textContent = v.title;
      return line;
    });
    this.flagNodes = vectors.map((v, i) => {
      if (!v.flagged || !v.label || !this.vectorNodes[i]) return null;
      const text = el('text', { class: 'flag-label', 'text-anchor': 'middle' }, this.labelLayer);
      text.textContent = v.label;
      return text;
    });
    this.ellipseNodes = [];
    this.exaggeration = 0;
    const extent = this.extent();
    // An ellipse is given by its north and east sigmas, or oriented by its semi-axes and the azimuth
    // of the semi-major one (degrees clockwise from north).
    const largest = Math.max(0, ...ellipses.map(e => e.azimuth !== undefined ? e.semiMajor
                                                                              : Math.max(e.sigmaEast, e.sigmaNorth)));
    if (largest > 0 && extent.size > 0) {
      this.exaggeration = roundDown125(ELLIPSE_SHARE * extent.size / largest);
      for (const e of ellipses) {
        const s = sites[e.site];
        if (!s || !Number.isFinite(s.east)) continue;
        const oriented = e.azimuth !== undefined;
        const attributes = {
          cx: s.east, cy: s.north, rx: (oriented ? e.semiMajor : e.sigmaEast) * this.exaggeration,
          ry: (oriented ? e.semiMinor : e.sigmaNorth) * this.exaggeration, class: 'ellipse',
          'vector-effect': 'non-scaling-stroke',
        };
        // The world's y axis points north, so a turn from east toward north is 90° less the azimuth.
        if (oriented) attributes.transform = `rotate(${90 - e.azimuth} ${s.east} ${s.north})`;
        this.ellipseNodes.push(el('ellipse', attributes, this.ellipseLayer));
      }
    }
    this.siteNodes = sites.map((s, i) => {
      if (!Number.isFinite(s.east) || !Number.isFinite(s.north)) return null;
      const fixedAll = s.fixed.every(Boolean);
      const g = el('g', {
        class: 'site' + (s.inUse ? '' : ' out') + (fixedAll ? ' fixed' : '') + (s.control ? ' control' : '') +
               (s.pending ? ' pending' : ''),
        'data-kind': 'site', 'data-index': i,
      }, this.siteLayer);
      if (s.control) {
        const r = SITE_RADIUS + 2;
        el('path', { d: `M0,${-r} L${r * 0.9},${r * 0.6} L${-r * 0.9},${r * 0.6} Z` }, g);
      } else {
        el('circle', { r: SITE_RADIUS }, g);
      }
      const label = el('text', { x: 7, y: -6 }, g);
      label.textContent = s.name;
      el('title', {}, g).textContent = s.name + (s.control ? ' (control)' : '');
      return g;
    });
    this.applySelection();
  }

  extent() {
    const xs = [], ys = [];
    for (const s of this.data.sites) {
      if (Number.isFinite(s.east) && Number.isFinite(s.north)) { xs.push(s.east); ys.push(s.north); }
    }
    if (!xs.length) return { size: 0 };
    const minX = Math.min(...xs), maxX = Math.max(...xs), minY = Math.min(...ys), maxY = Math.max(...ys);
    return { minX, maxX, minY, maxY, size: Math.max(maxX - minX, maxY - minY) };
  }

  fit() {
    const e = this.extent();
    const w = this.svg.clientWidth || 600, h = this.svg.clientHeight || 400;
    if (!e.size) { this.view = { k: 1, tx: w / 2, ty: h / 2 }; this.place(); return; }
    const margin = 40;
    const k = Math.min((w - 2 * margin) / Math.max(e.maxX - e.minX, 1e-6),
                       (h - 2 * margin) / Math.max(e.maxY - e.minY, 1e-6));
    this.view = { k, tx: w / 2 - k * (e.minX + e.maxX) / 2, ty: h / 2 + k * (e.minY + e.maxY) / 2 };
    this.place();
  }

  toScreen(x, y) { return [x * this.view.k + this.view.tx, -y * this.view.k + this.view.ty]; }

  // Puts everything where the view says: the world layers by one transform, the sites and labels,
  // which keep their size, one by one.
  place() {
    const { k, tx, ty } = this.view;
    this.world.setAttribute('transform', `matrix(${k},0,0,${-k},${tx},${ty})`);
    this.data.sites.forEach((s, i) => {
      const node = this.siteNodes && this.siteNodes[i];
      if (!node) return;
      const [x, y] = this.toScreen(s.east, s.north);
      node.setAttribute('transform', `translate(${x.toFixed(1)},${y.toFixed(1)})`);
    });
    this.data.vectors.forEach((v, i) => {
      const node = this.flagNodes && this.flagNodes[i];
      if (!node) return;
      const a = this.data.sites[v.from], b = this.data.sites[v.to];
      const [x, y] = this.toScreen((a.east + b.east) / 2, (a.north + b.north) / 2);
      node.setAttribute('x', x.toFixed(1));
      node.setAttribute('y', (y - 4).toFixed(1));
    });
    this.drawScale();
  }

  drawScale() {
    this.scaleLayer.replaceChildren();
    const h = this.svg.clientHeight || 400;
    const metres = roundDown125(120 / this.view.k);
    if (!Number.isFinite(metres) || metres <= 0) return;
    const px = metres * this.view.k;
    el('rect', { x: 12, y: h - 22, width: px, height: 5, fill: '#22313f' }, this.scaleLayer);
    const text = el('text', { x: 12, y: h - 28, 'font-size': 11, fill: '#22313f' }, this.scaleLayer);
    text.textContent = metres >= 1000 ? `${metres / 1000} km` : `${metres} m`;
  }

  select(selection) {
    this.selection = selection;
    this.applySelection();
  }

  applySelection() {
    const mark = (nodes, kind) => (nodes || []).forEach((node, i) => {
      if (node) node.classList.toggle('selected',
        !!this.selection && this.selection.kind === kind && this.selection.index === i);
    });
    mark(this.vectorNodes, 'vector');
    mark(this.siteNodes, 'site');
    const v = this.selection && this.selection.kind === 'vector' && this.vectorNodes
      && this.vectorNodes[this.selection.index];
    if (v) this.vectorLayer.appendChild(v);  // drawn on top of its neighbours
  }

  bindPointer() {
    let press = null;
    this.svg.addEventListener('pointerdown', e => {
      press = { x: e.clientX, y: e.clientY, tx: this.view.tx, ty: this.view.ty, moved: false,
                target: e.target.closest('[data-index]') };
      this.svg.setPointerCapture(e.pointerId);
    });
    this.svg.addEventListener('pointermove', e => {
      if (!press) return;
      const dx = e.clientX - press.x, dy = e.clientY - press.y;
      if (!press.moved && Math.hypot(dx, dy) < CLICK_SLOP) return;
      press.moved = true;
      this.svg.classList.add('dragging');
      this.view.tx = press.tx + dx;
      this.view.ty = press.ty + dy;
      this.place();
    });
    const release = e => {
      if (!press) return;
      const { moved, target } = press;
      press = null;
      this.svg.classList.remove('dragging');
      if (!moved && target && this.onSelect) {
        this.onSelect({ kind: target.dataset.kind, index: Number(target.dataset.index) }, 'plot');
      }
    };
    this.svg.addEventListener('pointerup', release);
    this.svg.addEventListener('pointercancel', release);
    this.svg.addEventListener('wheel', e => {
      e.preventDefault();
      const box = this.svg.getBoundingClientRect();
      const mx = e.clientX - box.left, my = e.clientY - box.top;
      const factor = e.deltaY < 0 ? ZOOM_STEP : 1 / ZOOM_STEP;
      this.view.tx = mx - (mx - this.view.tx) * factor;
      this.view.ty = my - (my - this.view.ty) * factor;
      this.view.k *= factor;
      this.place();
    }, { passive: false });
  }
}
