// The fleet view: one line per printer, problems first; tiles that count the
// printers by condition and filter by it; a filter by text, tag and state;
// the events as they come. A printer's row is built once and again only when
// the printer changed, and only the rows in sight (with a margin) are in the
// page: a fleet of 10,000 filters at a keystroke and refreshes without a freeze.
import { bySeverity, eventWords, gauge, h, number, printerHref, severity, shown, stateBadge, supplyWords,
         timeElement } from './dom.js';

const kEventsShown = 20;
const kOverscan = 20;   // rows in the page above and below the window
const kRowPx = 25;      // a row's height until one is measured

const lowSupply = (s) => (s.ratio !== null && s.ratio <= 0.1) || (s.daysLeft !== null && s.daysLeft < 7);

// A printer's worst condition, worst first: its rank. Marks are shapes, not only colours.
const kConditions = [
  { key: 'down', words: 'Down', mark: '✕', tone: 'error' },
  { key: 'jam', words: 'Paper jam', mark: '▲', tone: 'error' },
  { key: 'attention', words: 'Needs attention', mark: '▲', tone: 'error' },
  { key: 'supply', words: 'Supply low', mark: '◆', tone: 'warning' },
  { key: 'warning', words: 'Warning', mark: '●', tone: 'warning' },
  { key: 'unknown', words: 'Not polled yet', mark: '?', tone: 'info' },
  { key: 'ok', words: 'OK', mark: '✓', tone: 'ok' },
];

export function rank(p) {
  if (p.state === 'down') return 0;
  if (p.alerts.some((a) => a.family === 'paperJams')) return 1;
  if (p.alerts.some((a) => severity(a.family) === 'error')) return 2;
  if (p.supplies.some(lowSupply)) return 3;
  if (p.alerts.some((a) => severity(a.family) === 'warning')) return 4;
  return p.state === 'unknown' ? 5 : 6;
}

// The tiles above the table: the ranks each counts. "Not polled yet" shows while some are.
const kTiles = [
  { key: 'down', ranks: [0] }, { key: 'jam', ranks: [1] }, { key: 'attention', ranks: [2, 4] },
  { key: 'supply', ranks: [3] }, { key: 'ok', ranks: [6] }, { key: 'unknown', ranks: [5] },
];

// Names in natural order: p2 before p10.
const byName = new Intl.Collator(undefined, { numeric: true, sensitivity: 'base' }).compare;

function matchesState(entry, state) {
  switch (state) {
    case 'problems': return entry.rank <= 4;
    case 'down': case 'up': case 'unknown': return entry.p.state === state;
    default: return true;
  }
}

// What the text filter searches, in lower case.
const haystack = (p) => [p.name, p.location, p.uri, p.error || '', ...p.tags, ...p.alerts.map((a) => a.text)]
  .join('\n').toLowerCase();

// The supply that runs out first: a low one, else the lowest measured level.
function worstSupply(supplies) {
  const worse = (a, b) => (lowSupply(a) !== lowSupply(b) ? lowSupply(b) : (b.ratio ?? 2) < (a.ratio ?? 2));
  return supplies.reduce((a, b) => (worse(a, b) ? b : a));
}

// "+2": more of a list than the line shows; its texts for screen readers and as a tooltip.
function more(texts) {
  if (texts.length === 0) return null;
  return h('span', { class: 'more', title: shown(texts.join('\n')) },
    ` +${texts.length}`, h('span', { class: 'visually-hidden' }, ` more: ${texts.join('; ')}`));
}

// The worst condition in words; the printer's other alerts after it.
function condition(p, r) {
  const c = kConditions[r];
  const alerts = [...p.alerts].sort(bySeverity);
  const worst = r === 1 ? alerts.find((a) => a.family === 'paperJams') : r === 2 || r === 4 ? alerts[0] : null;
  const others = alerts.filter((a) => a !== worst).map((a) => a.text);
  let words = worst?.text ?? c.words;
  if (r === 0) {
    words = [h('span', { class: 'problem', title: p.error ? shown(p.error) : null }, p.problem || 'Not reachable'),
      p.since ? h('span', { class: 'since' }, ' (since ', timeElement(p.since), ')') : null];
  }
  if (r === 3) {
    const s = worstSupply(p.supplies);
    words = `Toner ${s.supply} low: ${supplyWords(s)}`;
  }
  return [h('span', { class: 'mark', 'aria-hidden': 'true' }, c.mark),
    r === 0 || worst ? h('span', { class: 'visually-hidden' }, `${c.words}: `) : null, words, r === 0 ? null : more(others)];
}

function supplies(list) {
  if (list.length === 0) return h('span', { class: 'none' }, '–');
  const worst = worstSupply(list);
  return [gauge(worst), more(list.filter((s) => s !== worst).map((s) => `Toner ${s.supply}: ${supplyWords(s)}`))];
}

function labelled(id, label, control) {
  return h('div', { class: 'field' }, h('label', { for: id }, label), control);
}

function option(value, text, selected) {
  return h('option', { value, selected: value === selected }, text);
}

// A row of no printer: the room of the rows out of sight.
function spacer() {
  return h('tr', { class: 'spacer', 'aria-hidden': 'true' }, h('td', { colspan: 6 }));
}

export class FleetView {
  constructor(main, fleet) {
    this.fleet = fleet;
    this.entries = new Map();   // by name: {name, order (by name), p, sig, rank, text, row}
    this.ordered = [];          // every entry, problems first, then by name
    this.matching = [];         // the entries the filters leave, in that order
    this.tile = null;
    this.rowPx = kRowPx;
    this.frame = 0;
    this.eventsStale = false;

    this.search = h('input', { id: 'filter-text', type: 'search', autocomplete: 'off', placeholder: 'name, location, alert' });
    this.state = h('select', { id: 'filter-state' },
      option('all', 'All'), option('problems', 'With problems'), option('down', 'Down'), option('up', 'Up'),
      option('unknown', 'Not polled yet'));
    this.tag = h('select', { id: 'filter-tag' });
    for (const control of [this.search, this.state, this.tag]) control.addEventListener('input', () => this.filter());
    this.search.addEventListener('keydown', (e) => { if (e.key === 'Enter') e.preventDefault(); });
    this.tiles = kTiles.map((t) => {
      const c = kConditions.find((k) => k.key === t.key);
      const tile = h('button', { type: 'button', class: `tile tone-${c.tone}`, 'data-tile': t.key, 'aria-pressed': 'false' },
        h('span', { class: 'mark', 'aria-hidden': 'true' }, c.mark), h('span', { class: 'count' }, '0'), ' ', c.words);
      tile.addEventListener('click', () => this.chooseTile(t.key));
      return tile;
    });

    this.summary = h('p', { class: 'summary', id: 'fleet-summary' });
    this.before = spacer();
    this.after = spacer();
    this.rows = h('tbody');
    this.table = h('table', { class: 'fleet' },
      h('caption', { class: 'visually-hidden' }, 'Printers, the ones with problems first'),
      h('colgroup', {}, ['name', 'state', 'condition', 'supplies', 'pages', 'latest'].map((c) => h('col', { class: `col-${c}` }))),
      h('thead', {}, h('tr', { 'aria-rowindex': 1 },
        ['Printer', 'State', 'Condition', 'Supplies', 'Pages', 'Latest event'].map((c) => h('th', { scope: 'col' }, c)))),
      this.rows);
    this.events = h('ol', { class: 'events', id: 'live-events' });
    // The feed shows changes of condition; what printers announce is folded
    // into them (the rows change), and shown on request.
    this.announcements = h('input', { id: 'show-announcements', type: 'checkbox' });
    this.announcements.addEventListener('change', () => this.renderEvents());
    main.replaceChildren(
      h('div', { class: 'fleet-head' }, h('h1', {}, 'Printers'), this.summary,
        h('form', { class: 'filters', role: 'search', 'aria-label': 'Filter the printers' },
          labelled('filter-text', 'Search', this.search),
          labelled('filter-state', 'State', this.state),
          labelled('filter-tag', 'Tag', this.tag))),
      h('div', { class: 'tiles', role: 'group', 'aria-label': 'Show the printers of one condition' }, this.tiles),
      this.table,
      h('section', { 'aria-labelledby': 'events-heading' },
        h('h2', { id: 'events-heading' }, 'Events'),
        h('p', { class: 'feed-filter' }, this.announcements,
          h('label', { for: 'show-announcements' }, 'Show what printers announce (status bits, variables, job lines)')),
        this.events));
    document.title = 'Printers · kvprtd';
    this.onScroll = () => this.schedule();
    window.addEventListener('scroll', this.onScroll, { passive: true });
    window.addEventListener('resize', this.onScroll);
  }

  close() {
    window.removeEventListener('scroll', this.onScroll);
    window.removeEventListener('resize', this.onScroll);
    cancelAnimationFrame(this.frame);
  }

  // The printers as last read.
  update() {
    this.index(this.fleet.printers);
    this.updateTags();
    this.updateTiles();
    this.filter();
    this.renderEvents();
  }

  // Entries for the printers: a changed printer's is made again (its row is
  // built when in sight); the order changes when a rank or the names do.
  index(printers) {
    let names = false, reorder = false;
    const seen = new Set();
    for (const p of printers) {
      seen.add(p.name);
      let entry = this.entries.get(p.name);
      if (!entry) {
        entry = { name: p.name };
        this.entries.set(p.name, entry);
        names = true;
      }
      const sig = JSON.stringify([p.state, p.since, p.problem, p.error, p.location, p.uri, p.tags, p.alerts, p.supplies, p.pages]);
      if (entry.sig === sig) continue;
      const r = rank(p);
      reorder ||= r !== entry.rank;
      Object.assign(entry, { p, sig, rank: r, text: haystack(p), row: null });
    }
    if (seen.size !== this.entries.size) {
      for (const name of this.entries.keys()) if (!seen.has(name)) this.entries.delete(name);
      names = true;
    }
    if (names) [...this.entries.values()].sort((a, b) => byName(a.name, b.name)).forEach((e, i) => { e.order = i; });
    if (names || reorder) this.ordered = [...this.entries.values()].sort((a, b) => a.rank - b.rank || a.order - b.order);
  }

  updateTags() {
    const tags = [...new Set(this.ordered.flatMap((e) => e.p.tags))].sort();
    const current = [...this.tag.options].map((o) => o.value).slice(1);
    if (current.join('\n') === tags.join('\n')) return;
    const chosen = this.tag.value;
    this.tag.replaceChildren(option('', 'All tags', chosen), ...tags.map((t) => option(t, t, chosen)));
  }

  updateTiles() {
    const counts = new Array(kConditions.length).fill(0);
    for (const e of this.ordered) ++counts[e.rank];
    kTiles.forEach((t, i) => {
      const count = t.ranks.reduce((sum, r) => sum + counts[r], 0);
      this.tiles[i].querySelector('.count').textContent = number(count);
      this.tiles[i].hidden = t.key === 'unknown' && count === 0 && this.tile !== 'unknown';
    });
  }

  // A tile shows its printers only; again, all.
  chooseTile(key) {
    this.tile = this.tile === key ? null : key;
    for (const tile of this.tiles) tile.setAttribute('aria-pressed', String(tile.dataset.tile === this.tile));
    this.filter();
  }

  filter() {
    const text = this.search.value.trim().toLowerCase(), state = this.state.value, tag = this.tag.value;
    const ranks = kTiles.find((t) => t.key === this.tile)?.ranks;
    this.matching = this.ordered.filter((e) => (!text || e.text.includes(text)) && matchesState(e, state) &&
                                                (!tag || e.p.tags.includes(tag)) && (!ranks || ranks.includes(e.rank)));
    const total = this.ordered.length;
    this.summary.textContent = `${number(total)} ${total === 1 ? 'printer' : 'printers'}` +
      (this.matching.length < total ? `, ${number(this.matching.length)} shown` : '');
    this.table.setAttribute('aria-rowcount', this.matching.length + 1);
    this.render();
  }

  schedule() {
    if (!this.frame) this.frame = requestAnimationFrame(() => { this.frame = 0; this.render(); });
  }

  // The rows in sight and kOverscan either side; spacers stand for the others.
  render() {
    if (this.eventsStale) this.renderEvents();
    const total = this.matching.length;
    const top = this.rows.getBoundingClientRect().top;
    const first = Math.max(0, Math.min(total, Math.floor(-top / this.rowPx) - kOverscan));
    const last = Math.max(first, Math.min(total, Math.ceil((window.innerHeight - top) / this.rowPx) + kOverscan));
    const focus = this.focusedLink();
    const rows = [];
    for (let i = first; i < last; ++i) {
      const e = this.matching[i];
      e.row ??= this.row(e.p, e.rank);
      e.row.setAttribute('aria-rowindex', i + 2);
      rows.push(e.row);
    }
    this.before.hidden = first === 0;
    this.before.style.height = `${first * this.rowPx}px`;
    this.after.hidden = last === total;
    this.after.style.height = `${(total - last) * this.rowPx}px`;
    const empty = total ? null : h('tr', {}, h('td', { colspan: 6, class: 'empty' },
      this.ordered.length ? 'No printer matches the filter.' : 'No printers yet.'));
    this.rows.replaceChildren(this.before, ...rows, this.after, ...(empty ? [empty] : []));
    this.restoreFocus(focus);
    // The rows' height as drawn (cards at phone width are taller): the spacers' unit.
    if (rows.length > 1) {
      const px = (rows.at(-1).getBoundingClientRect().bottom - rows[0].getBoundingClientRect().top) / rows.length;
      if (Math.abs(px - this.rowPx) > 0.5) {
        this.rowPx = px;
        this.schedule();
      }
    }
  }

  // Rows leave and come back as the page scrolls or a printer changes: a keyboard user's place is kept.
  focusedLink() {
    const active = document.activeElement;
    const row = active && this.rows.contains(active) ? active.closest('tr[data-printer]') : null;
    return row ? { printer: row.dataset.printer, index: [...row.querySelectorAll('a')].indexOf(active) } : null;
  }

  restoreFocus(focus) {
    const row = focus && this.entries.get(focus.printer)?.row;
    if (row?.isConnected) row.querySelectorAll('a')[focus.index]?.focus({ preventScroll: true });
  }

  row(p, r) {
    const latest = this.fleet.latest.get(p.name);
    const c = kConditions[r];
    return h('tr', { 'data-printer': p.name, 'data-state': p.state, 'data-condition': c.key, class: `rank-${r}` },
      h('th', { scope: 'row', title: shown([p.name, p.location, p.tags.join(', ')].filter((t) => t).join('\n')) },
        h('a', { href: printerHref(p.name) }, p.name),
        p.location ? [' ', h('span', { class: 'location' }, p.location)] : null,
        p.tags.length ? [' ', h('span', { class: 'tags' }, p.tags.map((t) => h('span', { class: 'tag' }, t)))] : null),
      h('td', { 'data-label': 'State', class: 'state' }, stateBadge(p.state)),
      h('td', { 'data-label': 'Condition', class: `condition tone-${c.tone}` }, condition(p, r)),
      h('td', { 'data-label': 'Supplies', class: 'supplies' }, supplies(p.supplies)),
      h('td', { 'data-label': 'Pages', class: 'pages' }, p.pages ? number(p.pages.type1) : '–'),
      h('td', { 'data-label': 'Latest event', class: 'latest', 'data-kind': latest?.kind,
                title: latest ? shown(eventWords(latest)) : null },
        latest ? [timeElement(latest.time), ' ', eventWords(latest)] : '–'));
  }

  renderEvents() {
    this.eventsStale = false;
    const events = this.fleet.events
      .filter((e) => this.announcements.checked || e.kind !== 'alert-received')
      .slice(0, kEventsShown);
    if (events.length === 0) {
      this.events.replaceChildren(h('li', { class: 'none' }, 'No events since kvprtd started.'));
      return;
    }
    this.events.replaceChildren(...events.map((e) => h('li', { 'data-kind': e.kind, 'data-printer': e.printer },
      timeElement(e.time), ' ', h('a', { href: printerHref(e.printer) }, e.printer), ': ', eventWords(e))));
  }

  // An event: its printer's latest event changed; the feed and the rows in sight are drawn at the next frame.
  onEvent(event) {
    const entry = this.entries.get(event.printer);
    if (entry) entry.row = null;
    this.eventsStale = true;
    this.schedule();
  }
}
