// The fleet view: one row per printer, problems first, a filter by text,
// tag and state, and the events as they come.
import { alertItem, bySeverity, eventWords, gauge, h, number, printerHref, severity, stateBadge, timeElement } from './dom.js';

const kAlertsShown = 3;    // the worst alerts in the row; the printer's view has them all
const kEventsShown = 20;

// How badly a printer needs someone: 0 is worst.
export function rank(p) {
  if (p.state === 'down') return 0;
  if (p.alerts.some((a) => severity(a.family) === 'error')) return 1;
  if (p.supplies.some((s) => (s.ratio !== null && s.ratio <= 0.1) || (s.daysLeft !== null && s.daysLeft < 7))) return 2;
  if (p.alerts.some((a) => severity(a.family) === 'warning')) return 3;
  return p.state === 'unknown' ? 4 : 5;
}
const kRankWords = ['Down', 'Needs attention', 'Supply running out', 'Warnings', 'Not polled yet', 'Fine'];

// Names in natural order: p2 before p10.
const byName = new Intl.Collator(undefined, { numeric: true, sensitivity: 'base' }).compare;

function matchesText(p, text) {
  if (!text) return true;
  const haystack = [p.name, p.location, p.uri, p.error || '', ...p.tags, ...p.alerts.map((a) => a.text)];
  return haystack.some((t) => t.toLowerCase().includes(text));
}

function matchesState(p, state) {
  switch (state) {
    case 'problems': return rank(p) <= 3;
    case 'down': case 'up': case 'unknown': return p.state === state;
    default: return true;
  }
}

function labelled(id, label, control) {
  return h('div', { class: 'field' }, h('label', { for: id }, label), control);
}

function option(value, text, selected) {
  return h('option', { value, selected: value === selected }, text);
}

export class FleetView {
  constructor(main, fleet) {
    this.fleet = fleet;
    this.search = h('input', { id: 'filter-text', type: 'search', autocomplete: 'off', placeholder: 'name, location, alert' });
    this.state = h('select', { id: 'filter-state' },
      option('all', 'All'), option('problems', 'With problems'), option('down', 'Down'), option('up', 'Up'),
      option('unknown', 'Not polled yet'));
    this.tag = h('select', { id: 'filter-tag' });
    for (const control of [this.search, this.state, this.tag]) control.addEventListener('input', () => this.update());

    this.summary = h('p', { class: 'summary', id: 'fleet-summary' });
    this.rows = h('tbody');
    this.events = h('ol', { class: 'events', id: 'live-events' });
    // The feed shows changes of condition; what printers announce is folded
    // into them (the rows change), and shown on request.
    this.announcements = h('input', { id: 'show-announcements', type: 'checkbox' });
    this.announcements.addEventListener('change', () => this.renderEvents());
    main.replaceChildren(
      h('h1', {}, 'Printers'),
      this.summary,
      h('form', { class: 'filters', role: 'search', 'aria-label': 'Filter the printers' },
        labelled('filter-text', 'Search', this.search),
        labelled('filter-state', 'State', this.state),
        labelled('filter-tag', 'Tag', this.tag)),
      h('table', { class: 'fleet' },
        h('caption', { class: 'visually-hidden' }, 'Printers, the ones with problems first'),
        h('thead', {}, h('tr', {},
          ['Printer', 'State', 'Alerts', 'Supplies', 'Pages', 'Latest event'].map((c) => h('th', { scope: 'col' }, c)))),
        this.rows),
      h('section', { 'aria-labelledby': 'events-heading' },
        h('h2', { id: 'events-heading' }, 'Events'),
        h('p', { class: 'feed-filter' }, this.announcements,
          h('label', { for: 'show-announcements' }, 'Show what printers announce (status bits, variables, job lines)')),
        this.events));
    document.title = 'Printers · kvprtd';
    this.search.addEventListener('keydown', (e) => { if (e.key === 'Enter') e.preventDefault(); });
  }

  update() {
    const printers = this.fleet.printers;
    this.updateTags(printers);
    const text = this.search.value.trim().toLowerCase();
    const shown = printers
      .filter((p) => matchesText(p, text) && matchesState(p, this.state.value) &&
                     (this.tag.value === '' || p.tags.includes(this.tag.value)))
      .sort((a, b) => rank(a) - rank(b) || byName(a.name, b.name));
    const focus = this.focusedLink();
    this.rows.replaceChildren(...shown.map((p) => this.row(p)));
    this.restoreFocus(focus);
    if (shown.length === 0)
      this.rows.append(h('tr', {}, h('td', { colspan: 6, class: 'empty' },
        printers.length ? 'No printer matches the filter.' : 'No printers yet.')));

    const count = (r) => printers.filter((p) => rank(p) === r).length;
    const down = count(0), attention = count(1) + count(2);
    this.summary.replaceChildren(`${printers.length} ${printers.length === 1 ? 'printer' : 'printers'}: `,
      `${down} down, ${attention} needing attention, ${printers.length - down - attention} other`,
      shown.length < printers.length ? ` (${shown.length} shown)` : '');
    this.renderEvents();
  }

  // The rows are built afresh: a keyboard user's place in them is kept.
  focusedLink() {
    const active = document.activeElement;
    const row = active && this.rows.contains(active) ? active.closest('tr[data-printer]') : null;
    return row ? { printer: row.dataset.printer, index: [...row.querySelectorAll('a')].indexOf(active) } : null;
  }

  restoreFocus(focus) {
    if (!focus) return;
    const row = [...this.rows.rows].find((r) => r.dataset.printer === focus.printer);
    row?.querySelectorAll('a')[focus.index]?.focus();
  }

  updateTags(printers) {
    const tags = [...new Set(printers.flatMap((p) => p.tags))].sort();
    const current = [...this.tag.options].map((o) => o.value).slice(1);
    if (current.join('\n') === tags.join('\n')) return;
    const chosen = this.tag.value;
    this.tag.replaceChildren(option('', 'All tags', chosen), ...tags.map((t) => option(t, t, chosen)));
  }

  row(p) {
    const r = rank(p);
    const alerts = [...p.alerts].sort(bySeverity);
    const latest = this.fleet.latest.get(p.name);
    return h('tr', { 'data-printer': p.name, 'data-state': p.state, class: `rank-${r}` },
      h('th', { scope: 'row' },
        h('a', { href: printerHref(p.name) }, p.name),
        p.location ? h('span', { class: 'location' }, p.location) : null,
        p.tags.length ? h('span', { class: 'tags' }, p.tags.map((t) => h('span', { class: 'tag' }, t))) : null),
      h('td', { 'data-label': 'State', class: 'state' },
        stateBadge(p.state),
        r >= 1 && r <= 2 ? h('span', { class: 'attention' }, kRankWords[r]) : null,
        p.since ? h('span', { class: 'since' }, 'since ', timeElement(p.since)) : null,
        p.state === 'down' && p.problem ? h('span', { class: 'problem' }, p.problem) : null,
        p.state === 'down' && p.error ? h('details', { class: 'error' }, h('summary', {}, 'Details'), p.error) : null),
      h('td', { 'data-label': 'Alerts', class: 'alerts' },
        alerts.length === 0 ? h('span', { class: 'none' }, 'None') : [
          p.state === 'down' ? h('span', { class: 'note' }, 'When last seen:') : null,
          h('ul', {}, alerts.slice(0, kAlertsShown).map(alertItem),
            alerts.length > kAlertsShown ?
              h('li', { class: 'more' }, h('a', { href: printerHref(p.name) }, `and ${alerts.length - kAlertsShown} more`)) : null)]),
      h('td', { 'data-label': 'Supplies', class: 'supplies' },
        p.supplies.length ? p.supplies.map(gauge) : h('span', { class: 'none' }, '–')),
      h('td', { 'data-label': 'Pages', class: 'pages' }, p.pages ? number(p.pages.type1) : '–'),
      h('td', { 'data-label': 'Latest event', class: 'latest', 'data-kind': latest?.kind },
        latest ? [timeElement(latest.time), ' ', eventWords(latest)] : '–'));
  }

  renderEvents() {
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

  onEvent() { this.update(); }
}
