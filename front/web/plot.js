// The network plot: sites, vectors, control, confidence ellipses and flagged vectors in the local
// east/north frame of the reference point, north up. Drag to pan, wheel to zoom; a click on a site
// or vector selects it (and the tables follow). A large network is drawn with less detail where
// detail cannot be seen (see "Level of detail" below).
const SVG = 'http://www.w3.org/2000/svg';
const ZOOM_STEP = 1.15;       // per wheel notch
const CLICK_SLOP = 4;         // pixels a press may move and still count as a click
const ELLIPSE_SHARE = 0.04;   // the largest ellipse's semi-axis as a share of the network's extent
const SITE_RADIUS = 4.5;      // pixels
const NAME_DX = 7, NAME_DY = -6;  // pixels from a site to the start of its name's baseline
const SCALE_X = 12, SCALE_PX = 120;  // pixels: the scale bar's left end and its longest length
const SCALE_BOX = { minX: 0, maxX: SCALE_X + SCALE_PX + 8, below: 40 };  // no names there (pixels)
const FLAG_DY = 4;                  // pixels from a flagged vector's middle up to its label's baseline
const FLAG_FONT = '10px system-ui, sans-serif';  // as #plot .flag-label in style.css
const FLAG_CHAR_PX = 6;             // a 10 px character's width where text cannot be measured
// Up to this many flagged vectors every one is labelled, as in the documents' plot; beyond, the
// worst first and only where the label meets no other (the national network flags 1,673 vectors,
// whose labels otherwise cover its map in red).
const ALWAYS_LABELLED_FLAGS = 100;
const NOTE_X = 8, NOTE_Y = 16;      // pixels: the level-of-detail note's baseline start
const NOTE_LINE = 14;               // pixels from one line of the note to the next

// Level of detail. A network of more than LARGE_SITES sites or LARGE_VECTORS vectors is drawn with
// less detail where detail cannot be seen; a smaller one exactly as it always was, every site,
// vector, name and ellipse an element of its own. The sizes are where every element of its own
// stops being cheap: measured with bench/plot_bench.sh, such a network of 500 sites and 2,900
// vectors takes about a frame (16 ms) per pan step in Chromium and one of 3,000 sites several, and
// beyond 500 sites the names no longer fit beside one another at the fitted view. (500 sites is
// also where the workspace hands a run to torvek-large.)
const LARGE_SITES = 500;
const LARGE_VECTORS = 2000;
const SYMBOL_LIMIT = 400;     // full site symbols while no more sites are in view; dots beyond
const DOT_PX = 3;             // pixels: the side of a site's dot
const MIN_ELLIPSE_PX = 3;     // pixels: an ellipse whose larger semi-axis is shorter is left out
// A large network's largest ellipse semi-axis as a share of the sites' mean spacing (the extent
// over the square root of the site count), before the round factor's rounding down: most ellipses
// are a fraction of the largest, so neighbours' ellipses seldom meet.
const SPACING_SHARE = 1;
const SITE_HIT_PX = SITE_RADIUS + 2;  // pixels: a click this near a site dot selects it
const VECTOR_HIT_PX = 5;      // pixels: a click this near a merged vector selects it
const REGION_MARGIN = 0.5;    // view sizes around the view that the merged paths also hold
const REBUILD_ZOOM = 2;       // zoom factor since the merged paths were made that makes them again
// Names: 11 px text as style.css draws `.site-label`; the box is the font's ascent and descent
// (measured; about 0.8 and 0.25 of the size where they cannot be) with two pixels of room, laid out
// on a grid of cells this wide.
const NAME_FONT = '11px system-ui, sans-serif';
const NAME_ASCENT = 9, NAME_DESCENT = 3, NAME_ROOM = 2;
const NAME_CELL = 48;         // pixels
const NAME_CHAR_PX = 6.5;     // an 11 px character's width where text cannot be measured

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
    // Flagged vectors' labels above the site symbols, as the names are: in a dense view the dots
    // would otherwise hide them.
    this.siteLayer = el('g', {}, svg);
    this.labelLayer = el('g', {}, svg);
    this.nameLayer = el('g', {}, svg);
    this.scaleLayer = el('g', {}, svg);
    this.noteLayer = el('g', {}, svg);
    this.large = false;
    this.framePending = false;
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
    for (const layer of [this.vectorLayer, this.ellipseLayer, this.labelLayer, this.siteLayer, this.nameLayer,
                         this.noteLayer]) {
      layer.replaceChildren();
    }
    const { sites, vectors, ellipses } = this.data;
    this.selectedLine = null;
    this.large = isLarge(sites.length, vectors.length);
    const extent = this.extent();
    // A large network's ellipses are enlarged to the sites' spacing rather than to the whole
    // extent, where thousands of them would cover one another at every zoom.
    const reference = this.large ? SPACING_SHARE * extent.size / Math.sqrt(sites.length) : ELLIPSE_SHARE * extent.size;
    this.exaggeration = ellipseExaggeration(ellipses, reference);
    if (this.large) {
      this.detail = new DetailLevel(this.data, this.exaggeration, extent);
      const world = { 'vector-effect': 'non-scaling-stroke' };
      this.mergedVectors = el('path', { ...world, class: 'vectors-merged' }, this.vectorLayer);
      this.mergedEllipses = el('path', { ...world, class: 'ellipse' }, this.ellipseLayer);
      this.vectorNodes = vectors.map((v, i) => ownVector(v) ? this.vectorLine(v, i) : null);
      this.flagNodes = this.flagLabels();
      this.siteNodes = [];
      this.applySelection();
      return;
    }
    this.detail = null;
    this.vectorNodes = vectors.map((v, i) => this.vectorLine(v, i));
    this.flagNodes = this.flagLabels();
    this.ellipseNodes = [];
    if (this.exaggeration > 0) {
      for (const e of ellipses) {
        const shape = ellipseShape(e, sites, this.exaggeration);
        if (!shape) continue;
        const attributes = {
          cx: shape.x, cy: shape.y, rx: shape.rx, ry: shape.ry, class: 'ellipse', 'vector-effect': 'non-scaling-stroke',
        };
        if (shape.oriented) attributes.transform = `rotate(${shape.turn} ${shape.x} ${shape.y})`;
        this.ellipseNodes.push(el('ellipse', attributes, this.ellipseLayer));
      }
    }
    this.siteNodes = sites.map((s, i) => this.siteSymbol(s, i, true));
    this.applySelection();
  }

  // A vector's own line, or null when a site of it has no position.
  vectorLine(v, i) {
    const a = this.data.sites[v.from], b = this.data.sites[v.to];
    if (!a || !b || !Number.isFinite(a.east) || !Number.isFinite(b.east)) return null;
    const line = el('line', {
      x1: a.east, y1: a.north, x2: b.east, y2: b.north,
      class: 'vector' + (v.inUse ? '' : ' out') + (v.flagged ? ' flagged' : '') + (v.planned ? ' planned' : ''),
      'vector-effect': 'non-scaling-stroke', 'data-kind': 'vector', 'data-index': i,
    }, this.vectorLayer);
    el('title', {}, line).textContent = v.title;
    return line;
  }

  flagLabels() {
    const nodes = this.data.vectors.map((v, i) => {
      if (!v.flagged || !v.label || !this.vectorNodes[i]) return null;
      const text = el('text', { class: 'flag-label', 'text-anchor': 'middle' }, this.labelLayer);
      text.textContent = v.label;
      return text;
    });
    // The labelled ones, worst first (equal ones in the vectors' order).
    this.flagOrder = nodes.flatMap((node, i) => (node ? [i] : []));
    this.flagOrder.sort((a, b) => (this.data.vectors[b].severity || 0) - (this.data.vectors[a].severity || 0));
    const { width } = textMeasure(FLAG_FONT, FLAG_CHAR_PX);
    this.noteWidth = textMeasure(NAME_FONT, NAME_CHAR_PX).width;
    this.flagWidths = new Map(this.flagOrder.map(i => [i, width(this.data.vectors[i].label)]));
    return nodes;
  }

  // The flagged vectors' labels at their vectors' middles. Beyond ALWAYS_LABELLED_FLAGS, only those
  // in view that meet no label shown before them, worst first; the boxes (pixels) of those shown
  // are kept for the names to leave free. Their font is a little smaller than the names', so the
  // names' measure is on the safe side.
  placeFlagLabels() {
    const size = this.screenSize(), grid = new NameGrid(), thin = this.flagOrder.length > ALWAYS_LABELLED_FLAGS;
    this.flagBoxes = [];
    for (const i of this.flagOrder) {
      const v = this.data.vectors[i], node = this.flagNodes[i];
      const a = this.data.sites[v.from], b = this.data.sites[v.to];
      const [x, y] = this.toScreen((a.east + b.east) / 2, (a.north + b.north) / 2);
      node.setAttribute('x', x.toFixed(1));
      node.setAttribute('y', (y - FLAG_DY).toFixed(1));
      const half = this.flagWidths.get(i) / 2 + NAME_ROOM;
      const box = { minX: x - half, maxX: x + half, minY: y - FLAG_DY - NAME_ASCENT, maxY: y - FLAG_DY + NAME_DESCENT };
      const inView = box.maxX >= 0 && box.minX <= size.w && box.maxY >= 0 && box.minY <= size.h;
      const shown = !thin || (inView && grid.take(box));
      node.style.display = shown ? '' : 'none';
      if (shown) this.flagBoxes.push(box);
    }
    this.flagsLabelled = thin ? this.flagBoxes.length : -1;
  }

  // A site's symbol (a triangle for control, else a circle), its name beside it when withName, or
  // null when the site has no position.
  siteSymbol(s, i, withName) {
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
    if (withName) {
      const label = el('text', { x: NAME_DX, y: NAME_DY }, g);
      label.textContent = s.name;
    }
    el('title', {}, g).textContent = s.name + (s.control ? ' (control)' : '');
    return g;
  }

  // The box of the sites with a position (a loop, not a spread: a spread of a large network's
  // coordinates overflows the call stack).
  extent() {
    let minX = Infinity, maxX = -Infinity, minY = Infinity, maxY = -Infinity;
    for (const s of this.data.sites) {
      if (!Number.isFinite(s.east) || !Number.isFinite(s.north)) continue;
      minX = Math.min(minX, s.east); maxX = Math.max(maxX, s.east);
      minY = Math.min(minY, s.north); maxY = Math.max(maxY, s.north);
    }
    if (minX > maxX) return { size: 0 };
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
  // which keep their size, one by one (a large network's by its level of detail).
  place() {
    const { k, tx, ty } = this.view;
    this.world.setAttribute('transform', `matrix(${k},0,0,${-k},${tx},${ty})`);
    this.placeFlagLabels();
    if (this.large) {
      this.placeDetail();
    } else {
      this.data.sites.forEach((s, i) => {
        const node = this.siteNodes && this.siteNodes[i];
        if (node) this.moveSite(node, s);
      });
      const flags = flagNote(this.flagsLabelled, this.flagOrder.length);
      this.drawNote({ maxX: NOTE_X + this.noteWidth(flags), maxY: NOTE_Y + NAME_DESCENT }, [flags]);
    }
    this.drawScale();
  }

  moveSite(node, s) {
    const [x, y] = this.toScreen(s.east, s.north);
    node.setAttribute('transform', `translate(${x.toFixed(1)},${y.toFixed(1)})`);
  }

  // A view change from the pointer: a small network follows at once, a large one at the next
  // animation frame (so its names are laid out once per frame however many events come).
  requestPlace() {
    if (!this.large) { this.place(); return; }
    if (this.framePending) return;
    this.framePending = true;
    requestAnimationFrame(() => { this.framePending = false; this.place(); });
  }

  screenSize() { return { w: this.svg.clientWidth || 600, h: this.svg.clientHeight || 400 }; }

  // A large network at this view: the merged world paths when the view has left what they hold,
  // then the site symbols and names in view, and the note on what is left out.
  placeDetail() {
    const d = this.detail, size = this.screenSize();
    if (d.stale(this.view, size)) {
      this.mergedVectors.setAttribute('d', d.vectorPath(this.view, size));
      this.mergedEllipses.setAttribute('d', d.ellipsePath(this.view.k));
    } else if (d.ellipsesStale(this.view.k)) {
      this.mergedEllipses.setAttribute('d', d.ellipsePath(this.view.k));
    }
    const selected = this.selection && this.selection.kind === 'site' ? this.selection.index : -1;
    // The note and the scale bar keep their places: no name is drawn under them.
    const flags = flagNote(this.flagsLabelled, this.flagOrder.length);
    const noteWidth = Math.max(d.textWidth(detailNote({ names: d.order, positioned: d.positioned, full: false,
                                                        inView: d.positioned }, d.shapes.length)),
                               d.textWidth(flags));
    const noteBottom = NOTE_Y + (flags ? NOTE_LINE : 0) + d.names.descent;
    const kept = [{ minX: 0, maxX: NOTE_X + noteWidth, minY: 0, maxY: noteBottom },
                  { minX: SCALE_BOX.minX, maxX: SCALE_BOX.maxX, minY: size.h - SCALE_BOX.below, maxY: size.h },
                  ...this.flagBoxes];
    const layout = d.layout(this.view, size, selected, kept);
    this.siteLayer.replaceChildren();
    if (!layout.full) el('path', { class: 'site-dots', d: layout.dots }, this.siteLayer);
    for (const i of layout.symbols) {
      const node = this.siteSymbol(this.data.sites[i], i, false);
      if (i === selected) node.classList.add('selected');
      this.moveSite(node, this.data.sites[i]);
    }
    this.nameLayer.replaceChildren();
    for (const { i, x, y } of layout.names) {
      const text = el('text', { class: 'site-label', x: x.toFixed(1), y: y.toFixed(1) }, this.nameLayer);
      text.textContent = this.data.sites[i].name;
    }
    this.drawNote(kept[0], [detailNote(layout, d.built.ellipsesLeftOut), flags]);
  }

  // The note above the map, a line for each text that is not empty, on a ground of `box`; none
  // when every text is empty.
  drawNote(box, lines) {
    this.noteLayer.replaceChildren();
    if (!lines.some(Boolean)) return;
    el('rect', { class: 'plot-note', x: 0, y: 0, width: box.maxX + NAME_ROOM, height: box.maxY + NAME_ROOM },
       this.noteLayer);
    lines.filter(Boolean).forEach((line, k) => {
      el('text', { class: 'plot-note', x: NOTE_X, y: NOTE_Y + k * NOTE_LINE }, this.noteLayer).textContent = line;
    });
  }

  drawScale() {
    this.scaleLayer.replaceChildren();
    const h = this.svg.clientHeight || 400;
    const metres = roundDown125(SCALE_PX / this.view.k);
    if (!Number.isFinite(metres) || metres <= 0) return;
    const px = metres * this.view.k;
    el('rect', { x: SCALE_X, y: h - 22, width: px, height: 5, fill: '#22313f' }, this.scaleLayer);
    const text = el('text', { x: SCALE_X, y: h - 28, 'font-size': 11, fill: '#22313f' }, this.scaleLayer);
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
    if (this.large) this.selectMergedVector();
    const v = this.selection && this.selection.kind === 'vector' && this.vectorNodes
      && this.vectorNodes[this.selection.index];
    if (v) this.vectorLayer.appendChild(v);  // drawn on top of its neighbours
    if (this.large && this.detail.built) this.requestPlace();  // the selected site's symbol and name
  }

  // A selected vector of a large network's merged path is drawn again as its own line on top.
  selectMergedVector() {
    if (this.selectedLine) this.selectedLine.remove();
    this.selectedLine = null;
    const s = this.selection;
    if (!s || s.kind !== 'vector' || this.vectorNodes[s.index] || !this.data.vectors[s.index]) return;
    this.selectedLine = this.vectorLine(this.data.vectors[s.index], s.index);
    if (this.selectedLine) this.selectedLine.classList.add('selected');
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
      this.requestPlace();
    });
    const release = e => {
      if (!press) return;
      const { moved, target } = press;
      press = null;
      this.svg.classList.remove('dragging');
      if (moved || !this.onSelect) return;
      if (target) {
        this.onSelect({ kind: target.dataset.kind, index: Number(target.dataset.index) }, 'plot');
      } else if (this.large) {
        // Merged vectors and site dots are no elements of their own: the nearest one is found here.
        const box = this.svg.getBoundingClientRect();
        const hit = this.detail.hit(this.view, e.clientX - box.left, e.clientY - box.top);
        if (hit) this.onSelect(hit, 'plot');
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
      this.requestPlace();
    }, { passive: false });
  }
}

// ---- Level of detail ----------------------------------------------------------------------------

function isLarge(siteCount, vectorCount) { return siteCount > LARGE_SITES || vectorCount > LARGE_VECTORS; }

// Vectors that stay lines of their own in a large network: out of use, flagged or planned.
function ownVector(v) { return !v.inUse || v.flagged || v.planned; }

// The round factor that makes the largest ellipse's semi-axis about `size` (metres, > 0), or 0
// when there is no ellipse to draw.
function ellipseExaggeration(ellipses, size) {
  let largest = 0;
  for (const e of ellipses) {
    largest = Math.max(largest, e.azimuth !== undefined ? e.semiMajor : Math.max(e.sigmaEast, e.sigmaNorth));
  }
  return largest > 0 && size > 0 ? roundDown125(size / largest) : 0;
}

// An ellipse in the world frame (metres, enlarged by exaggeration), turned by `turn` degrees from
// east toward north, or null when its site has no position. An ellipse is given by its north and
// east sigmas, or oriented by its semi-axes and the azimuth of the semi-major one (degrees
// clockwise from north).
function ellipseShape(e, sites, exaggeration) {
  const s = sites[e.site];
  if (!s || !Number.isFinite(s.east)) return null;
  const oriented = e.azimuth !== undefined;
  // The world's y axis points north, so a turn from east toward north is 90° less the azimuth.
  return { x: s.east, y: s.north, rx: (oriented ? e.semiMajor : e.sigmaEast) * exaggeration,
           ry: (oriented ? e.semiMinor : e.sigmaNorth) * exaggeration, oriented,
           turn: oriented ? 90 - e.azimuth : 0 };
}

// World coordinates in a path, to the millimetre: shorter text than full precision.
const mm = v => Math.round(v * 1000) / 1000;

// An ellipse as two half arcs of a path (the arcs turn by the same angle as the shape).
function ellipsePath(e) {
  const t = e.turn * Math.PI / 180, dx = Math.cos(t) * e.rx, dy = Math.sin(t) * e.rx;
  const arc = `A${mm(e.rx)} ${mm(e.ry)} ${mm(e.turn)} 1 0 `;
  return `M${mm(e.x + dx)} ${mm(e.y + dy)}${arc}${mm(e.x - dx)} ${mm(e.y - dy)}${arc}${mm(e.x + dx)} ${mm(e.y + dy)}Z`;
}

// The part of the world (metres, y north) that the screen of size {w, h} pixels shows.
function worldRect(view, size) {
  return { minX: -view.tx / view.k, maxX: (size.w - view.tx) / view.k,
           minY: (view.ty - size.h) / view.k, maxY: view.ty / view.k };
}

function grow(r, share) {
  const dx = (r.maxX - r.minX) * share, dy = (r.maxY - r.minY) * share;
  return { minX: r.minX - dx, maxX: r.maxX + dx, minY: r.minY - dy, maxY: r.maxY + dy };
}

const meets = (a, b) => a.minX <= b.maxX && b.minX <= a.maxX && a.minY <= b.maxY && b.minY <= a.maxY;
const holds = (a, b) => a.minX <= b.minX && b.maxX <= a.maxX && a.minY <= b.minY && b.maxY <= a.maxY;

function meet(a, b) {
  if (!meets(a, b)) return null;
  return { minX: Math.max(a.minX, b.minX), maxX: Math.min(a.maxX, b.maxX),
           minY: Math.max(a.minY, b.minY), maxY: Math.min(a.maxY, b.maxY) };
}

// Distance (any unit) from point (px, py) to the segment from (ax, ay) to (bx, by).
function segmentDistance(px, py, ax, ay, bx, by) {
  const dx = bx - ax, dy = by - ay, length2 = dx * dx + dy * dy;
  const t = length2 > 0 ? Math.max(0, Math.min(1, ((px - ax) * dx + (py - ay) * dy) / length2)) : 0;
  return Math.hypot(px - (ax + t * dx), py - (ay + t * dy));
}

// The widths (pixels) of the sites' names in the names' font, the font's ascent and descent, and
// a function that measures a text's width in it.
function nameMetrics(sites) {
  const { width, context } = textMeasure(NAME_FONT, NAME_CHAR_PX);
  const probe = context ? context.measureText(sites.length ? sites[0].name : '') : {};
  return { widths: Float32Array.from(sites, s => width(s.name)), ascent: probe.fontBoundingBoxAscent || NAME_ASCENT,
           descent: probe.fontBoundingBoxDescent || NAME_DESCENT, width };
}

// Boxes of names drawn so far on a screen-space grid: a box is taken when it meets none of them.
class NameGrid {
  constructor() { this.cells = new Map(); }

  // The keys of the cells that box (pixels) lies in.
  keys(box) {
    const keys = [];
    for (let c = Math.floor(box.minX / NAME_CELL); c <= Math.floor(box.maxX / NAME_CELL); ++c) {
      for (let r = Math.floor(box.minY / NAME_CELL); r <= Math.floor(box.maxY / NAME_CELL); ++r) keys.push(`${c},${r}`);
    }
    return keys;
  }

  // Adds box whatever it meets (for what is drawn anyway).
  put(box, keys = this.keys(box)) {
    for (const key of keys) {
      if (!this.cells.has(key)) this.cells.set(key, []);
      this.cells.get(key).push(box);
    }
  }

  // Adds box and answers true when it meets no box added before; else answers false.
  take(box) {
    const keys = this.keys(box);
    if (keys.some(key => (this.cells.get(key) || []).some(other => meets(box, other)))) return false;
    this.put(box, keys);
    return true;
  }
}

// "1,234 of 3,000 sites named where there is room; …": what a large network's plot leaves out.
function detailNote(layout, ellipsesLeftOut) {
  const count = n => n.toLocaleString('en-US');
  const parts = [`${count(layout.names.length)} of ${count(layout.positioned)} sites named where there is room`];
  if (!layout.full) parts.push(`${count(layout.inView)} sites in view as dots`);
  if (ellipsesLeftOut) parts.push(`${count(ellipsesLeftOut)} ellipses too small to see left out`);
  return parts.join('; ');
}

// "40 of 1,673 flagged vectors labelled where there is room" when the labels are thinned
// (flagsLabelled >= 0), else an empty text.
function flagNote(flagsLabelled, flagged) {
  if (flagsLabelled < 0) return '';
  const count = n => n.toLocaleString('en-US');
  return `${count(flagsLabelled)} of ${count(flagged)} flagged vectors labelled where there is room`;
}

// width(text): how wide (pixels) a text is in `font`, measured by a canvas (`context`, null when
// there is none, and a character then counts `charPx`).
function textMeasure(font, charPx) {
  const context = document.createElement('canvas').getContext('2d');
  if (!context) return { width: text => text.length * charPx, context: null };
  context.font = font;
  return { width: text => context.measureText(text).width, context };
}

// What a large network's plot draws at a view: merged paths of the plain vectors and the ellipses
// for the view and a margin around it, the sites in view as dots or symbols of their own, the
// names that have room; and which site or vector a click meant.
class DetailLevel {
  constructor(data, exaggeration, extent) {
    const { sites, vectors, ellipses } = data;
    this.sites = sites;
    this.vectors = vectors;
    this.extent = extent;
    const positioned = i => sites[i] && Number.isFinite(sites[i].east) && Number.isFinite(sites[i].north);
    this.positioned = sites.filter((s, i) => positioned(i)).length;
    this.plain = [];
    vectors.forEach((v, i) => { if (!ownVector(v) && positioned(v.from) && positioned(v.to)) this.plain.push(i); });
    this.shapes = exaggeration > 0 ? ellipses.map(e => ellipseShape(e, sites, exaggeration)).filter(Boolean) : [];
    this.radii = Float64Array.from(this.shapes, e => Math.max(e.rx, e.ry)).sort();
    // Names go first to the flagged vectors' sites and the pending one, then to control sites.
    const rank = Uint8Array.from(sites, s => (s.pending ? 0 : s.control ? 1 : 2));
    for (const v of vectors) if (v.flagged) rank[v.from] = rank[v.to] = 0;
    this.order = sites.map((s, i) => i).filter(positioned).sort((a, b) => rank[a] - rank[b]);
    this.own = Uint8Array.from(sites, s => (s.control || !s.inUse || s.pending ? 1 : 0));
    this.names = nameMetrics(sites);
    this.built = null;
  }

  textWidth(text) { return this.names.width(text); }

  // Whether the merged paths no longer hold what the view shows, or were made at another zoom.
  stale(view, size) {
    if (!this.built || !this.extent.size) return !this.built;
    const ratio = view.k / this.built.k;
    if (ratio > REBUILD_ZOOM || ratio < 1 / REBUILD_ZOOM) return true;
    const shown = meet(worldRect(view, size), this.extent);
    return shown !== null && !holds(this.built.region, shown);
  }

  // The path data of the plain vectors in the view and a margin around it (the region kept for
  // the ellipses too).
  vectorPath(view, size) {
    const region = grow(worldRect(view, size), REGION_MARGIN);
    const vectors = [];
    for (const i of this.plain) {
      const a = this.sites[this.vectors[i].from], b = this.sites[this.vectors[i].to];
      const box = { minX: Math.min(a.east, b.east), maxX: Math.max(a.east, b.east),
                    minY: Math.min(a.north, b.north), maxY: Math.max(a.north, b.north) };
      if (meets(box, region)) vectors.push(`M${mm(a.east)} ${mm(a.north)}L${mm(b.east)} ${mm(b.north)}`);
    }
    this.built = { k: view.k, region, ellipsesLeftOut: 0 };
    return vectors.join('');
  }

  // The ellipses too small to see at zoom k (pixels per metre): the first of the sorted radii.
  ellipsesTooSmall(k) {
    let low = 0, high = this.radii.length;
    while (low < high) {
      const middle = (low + high) >> 1;
      if (this.radii[middle] * k < MIN_ELLIPSE_PX) low = middle + 1; else high = middle;
    }
    return low;
  }

  // Whether zooming to k has made ellipses big enough to see or too small since they were drawn.
  ellipsesStale(k) { return this.ellipsesTooSmall(k) !== this.built.ellipsesLeftOut; }

  // The path data of the ellipses in the region of the vectors that are big enough to see at zoom k.
  ellipsePath(k) {
    const region = this.built.region, ellipses = [];
    for (const e of this.shapes) {
      const r = Math.max(e.rx, e.ry);
      if (r * k >= MIN_ELLIPSE_PX && meets({ minX: e.x - r, maxX: e.x + r, minY: e.y - r, maxY: e.y + r }, region)) {
        ellipses.push(ellipsePath(e));
      }
    }
    this.built.ellipsesLeftOut = this.ellipsesTooSmall(k);
    return ellipses.join('');
  }

  // The sites in view as dots (path data, while many are in view), the sites that get a symbol of
  // their own (all of them while few are in view, else control, out-of-use, pending and the
  // selected one) and the names that have room, the
  // selected site's first: [{i, x, y}] with the name's start in pixels.
  // kept: boxes (pixels) where no name goes.
  layout(view, size, selected, kept) {
    const margin = SITE_RADIUS + 2;
    const screen = [];
    for (const i of this.order) {
      const x = this.sites[i].east * view.k + view.tx, y = -this.sites[i].north * view.k + view.ty;
      if (x >= -margin && x <= size.w + margin && y >= -margin && y <= size.h + margin) screen.push({ i, x, y });
    }
    const full = screen.length <= SYMBOL_LIMIT;
    // Dots as filled squares on the screen: far cheaper to draw than as many stroked shapes.
    const dots = full ? '' : screen.map(p => `M${Math.round(p.x) - DOT_PX / 2} ${Math.round(p.y) - DOT_PX / 2}h${DOT_PX}v${DOT_PX}h${-DOT_PX}z`).join('');
    const symbols = screen.filter(p => full || this.own[p.i] || p.i === selected).map(p => p.i);
    const first = screen.findIndex(p => p.i === selected);
    if (first > 0) screen.unshift(...screen.splice(first, 1));
    const grid = new NameGrid();
    for (const box of kept) grid.put(box);
    const names = [];
    for (const p of screen) {
      const x = p.x + NAME_DX, y = p.y + NAME_DY;
      const box = { minX: x - NAME_ROOM, maxX: x + this.names.widths[p.i] + NAME_ROOM,
                    minY: y - this.names.ascent - NAME_ROOM, maxY: y + this.names.descent + NAME_ROOM };
      if (grid.take(box)) names.push({ i: p.i, x, y });
    }
    return { symbols, dots, names, full, inView: screen.length, positioned: this.positioned };
  }

  // The site (within SITE_HIT_PX) or else the vector (within VECTOR_HIT_PX) nearest to the point
  // (x, y) pixels of the plot, as a selection, or null.
  hit(view, x, y) {
    const wx = (x - view.tx) / view.k, wy = (view.ty - y) / view.k;
    let best = null, bestDistance = SITE_HIT_PX / view.k;
    for (const i of this.order) {
      const d = Math.hypot(this.sites[i].east - wx, this.sites[i].north - wy);
      if (d <= bestDistance) { best = { kind: 'site', index: i }; bestDistance = d; }
    }
    if (best) return best;
    bestDistance = VECTOR_HIT_PX / view.k;
    this.vectors.forEach((v, i) => {
      const a = this.sites[v.from], b = this.sites[v.to];
      if (!a || !b || !Number.isFinite(a.east + a.north + b.east + b.north)) return;
      const d = segmentDistance(wx, wy, a.east, a.north, b.east, b.north);
      if (d <= bestDistance) { best = { kind: 'vector', index: i }; bestDistance = d; }
    });
    return best;
  }
}
