// The printer view: its state, supplies and pages over the days, operator
// panel, alerts, identity, bins and event log.
import { levelChart, barChart } from './charts.js';
import { alertItem, bySeverity, eventWords, gauge, getJson, h, number, severity, stateBadge, timeElement, unavailable, when } from './dom.js';

const kDays = 30;
const kReloadMs = 500;   // after an event of this printer, its report and days again
const kEventPage = 100;  // events read at first, and more with each "Older events"
const kFamilies = {
  inputStatus: 'Input status', outputStatus: 'Output status', paperJams: 'Paper jams',
  operatorIntervention: 'Operator intervention', warnings: 'Warnings', serviceRequired: 'Service required',
  configChanges: 'Configuration changes', supplies: 'Supplies', suppliesStatus: 'Supplies status',
};

// The alert families the printer does not carry, in words; null when it carries them all.
function notCarried(families) {
  const names = Object.entries(families || {}).filter(([, v]) => v && v.unavailable).map(([k]) => kFamilies[k] || k);
  return names.length ? h('p', { class: 'unavailable' }, `Not available from this printer: ${names.join(', ')}.`) : null;
}

function section(id, title, ...content) {
  return h('section', { class: 'card', 'aria-labelledby': id }, h('h2', { id }, title), ...content);
}

function table(caption, headers, rows) {
  if (rows.length === 0) return h('p', { class: 'none' }, `${caption}: none.`);
  return h('table', {},
    h('caption', {}, caption),
    h('thead', {}, h('tr', {}, headers.map((c) => h('th', { scope: 'col' }, c)))),
    h('tbody', {}, rows.map((r) => h('tr', {}, h('th', { scope: 'row' }, r[0]), r.slice(1).map((c) => h('td', {}, c))))));
}

// Terms and their descriptions; pairs without a value are left out.
function fields(pairs) {
  return h('dl', { class: 'fields' }, pairs.filter(([, v]) => v !== null && v !== undefined && v !== '')
    .map(([k, v]) => [h('dt', {}, k), h('dd', {}, v)]));
}

const kb = (n) => (n === null || n === undefined ? null : `${number(n)} KB`);
const mac = (hex) => (hex ? hex.match(/../g).join(':') : null);

// Device status byte 1: bit 0 needs attention, bit 1 paper jam (docs/realprinters.md).
const kStatusAttention = 0x03;

function panel(p, summary, status) {
  const missing = unavailable(p);
  if (missing) return missing;
  const lines = [...p.lines];
  while (lines.length < p.height) lines.push('');
  const known = status && typeof status.byte0Bit0 === 'number';
  const attention = summary?.alerts.some((a) => severity(a.family) === 'error') ||
    (known && (status.byte1 & kStatusAttention) !== 0);
  // The lamp follows the device status; a jam or an open cover is no ready printer.
  const ready = summary?.state === 'up' && !attention && (!known || status.byte0Bit0 === 1);
  const lamp = (name, on, words) => h('span', { class: `lamp lamp-${name}${on ? ' on' : ''}` },
    h('span', { class: 'bulb', 'aria-hidden': 'true' }), words);
  return h('div', { class: 'panel', role: 'group', 'aria-label': 'Operator panel' },
    known ? h('p', { class: 'device-status' }, status.text) : null,
    h('div', { class: 'panel-display', 'aria-label': 'Display' },
      lines.map((line) => h('span', { class: 'panel-line' }, line.padEnd(p.width, ' ').slice(0, p.width)))),
    h('div', { class: 'panel-lamps' },
      lamp('ready', ready, ready ? 'Ready' : 'Not ready'),
      lamp('attention', attention, attention ? 'Attention' : 'No attention needed'),
      lamp('lock', p.locked, p.locked ? 'Panel locked' : 'Panel unlocked')),
    // The keys are drawn, not pressed: kvprt panel presses them.
    h('div', { class: 'panel-keys', 'aria-hidden': 'true', title: 'The keys are pressed with kvprt panel, not here' },
      ['Menu', 'Select', 'Return', 'Go', 'Stop'].map((k) => h('span', { class: 'key' }, k))));
}

// The library's printer type, or the type the printer reported when the library knows none by it.
function printerType(p) {
  if (p.printerType !== null && p.printerType !== undefined) return String(p.printerType);
  return p.rawPrinterType !== null && p.rawPrinterType !== undefined ? `other (reported ${p.rawPrinterType})` : null;
}

function identity(report) {
  const p = report.printer, d = report.deviceChars, s = report.storage;
  const net = p?.networkAddress;
  const interpreters = Array.isArray(report.interpreters) ? report.interpreters.filter((i) => i.lu !== null).map((i) => i.name) : [];
  const printer = unavailable(p) ? [] : [
    ['Model', p.model], ['Serial number', p.serial], ['Port', p.portName], ['Connection', p.connection?.text],
    ['Host name', net?.hostName], ['Address', net ? `${net.address}:${net.port}` : null],
    ['Adapter address', mac(p.adapterAddress)], ['Property tag', p.propertyTag], ['Printer type', printerType(p)],
    ['Bidi', p.bidiActive ? 'active' : 'not active'],
  ];
  const chars = unavailable(d) ? [] : [['Code level', d.codeLevel], ['Resolution', d.text3], ['Memory', kb(d.memoryKB)]];
  return [
    unavailable(p), unavailable(d),
    fields([
      ...printer, ...chars,
      ['Flash', s?.flash ? `${kb(s.flash.size)}, ${kb(s.flash.free)} free` : null],
      ['Disk', s?.disk ? `${kb(s.disk.size)}, ${kb(s.disk.free)} free` : null],
      ['Font cartridge', s?.fontCartridge?.present ? s.fontCartridge.name : null],
      ['Interpreters', interpreters.join(', ')],
    ]),
    Array.isArray(report.codeLevels) ?
      table('Code levels', ['Component', 'Instance', 'Level'], report.codeLevels.map((c) => [c.text, c.instance, c.level])) :
      unavailable(report.codeLevels, 'Code levels'),
  ];
}

function bins(report) {
  return [
    unavailable(report.inputBins, 'Input bins') || table('Input bins', ['Bin', 'Kind', 'Name', 'Capacity'],
      report.inputBins.map((b) => [String(b.number), b.text, b.name || '–', number(b.capacity)])),
    unavailable(report.outputBins, 'Output bins') || table('Output bins', ['Bin', 'Kind', 'Name', 'Capacity', 'Finishing', 'Nickname'],
      report.outputBins.map((b) => [String(b.number), b.text, b.name || '–', number(b.capacity),
        (b.finishing || []).join(', ') || '–', b.nickname || '–'])),
  ];
}

function charts(days) {
  const dates = days.map((d) => d.date);
  const ids = [...new Set(days.flatMap((d) => d.supplies.map((s) => s.supply)))].sort((a, b) => a - b);
  const series = ids.map((id) => ({
    name: `Toner ${id}`,
    values: days.map((d) => d.supplies.find((s) => s.supply === id)?.ratio ?? null),
  }));
  const printed = days.map((d) => d.printed?.type1 ?? null);
  return {
    levels: series.length ? levelChart('Supply levels', dates, series) : h('p', { class: 'none' }, 'No supply levels recorded yet.'),
    pages: printed.some((v) => v !== null) ? barChart('Pages printed', dates, printed, 'pages')
      : h('p', { class: 'none' }, 'No pages counted per day yet (a day needs the count of the day before).'),
  };
}

export class PrinterView {
  constructor(main, name, fleet) {
    this.main = main;
    this.name = name;
    this.fleet = fleet;
    this.data = null;
    this.failure = null;
    this.shown = '';   // what the page was built from
    this.timer = null;
    this.events = null;   // {list: newest first, more: whether older ones remain}
    document.title = `${name} · kvprtd`;
    main.replaceChildren(h('p', { class: 'loading' }, `Loading ${name}…`));
    this.load();
  }

  get base() { return `/api/v1/printers/${encodeURIComponent(this.name)}`; }

  // The newest events once; after that, events arrive from the stream, older
  // ones a page at a time, and the report and days are read again.
  async load() {
    try {
      const events = this.events ?? getJson(`${this.base}/events?limit=${kEventPage}`);
      const [report, page, days] = await Promise.all([getJson(this.base), events, getJson(`${this.base}/days?days=${kDays}`)]);
      this.events ??= { list: page.events, more: page.more };
      this.data = { report, days };
      this.failure = null;
    } catch (e) {
      this.failure = e.message;
    }
    this.update();
  }

  async older() {
    const button = this.main.querySelector('#older-events');
    button.disabled = true;
    try {
      const page = await getJson(`${this.base}/events?limit=${kEventPage}&before=${this.events.list.at(-1).id}`);
      this.events.list.push(...page.events);
      this.events.more = page.more;
    } catch (e) {
      button.disabled = false;
      button.textContent = `Older events (could not be read: ${e.message}; again)`;
      return;
    }
    this.update();
    (this.main.querySelector('#older-events') ?? this.main.querySelector('#events-heading'))?.focus();
  }

  onEvent(e) {
    if (e.printer !== this.name) return;
    const events = this.events?.list;
    if (events && !(events.length && events[0].id >= e.id)) events.unshift(e);
    if (this.timer) return;
    this.timer = setTimeout(() => { this.timer = null; this.load(); }, kReloadMs);
  }

  close() { clearTimeout(this.timer); }

  update() {
    const summary = this.fleet.printers.find((p) => p.name === this.name);
    const back = h('nav', { class: 'crumbs', 'aria-label': 'Breadcrumb' }, h('a', { href: '#/' }, '← All printers'));
    if (!this.data) {
      if (this.failure) this.main.replaceChildren(back, h('h1', {}, this.name), h('p', { class: 'error' }, this.failure));
      return;
    }
    // Built afresh only when something shown changed (the time of the last poll alone does not count).
    // (Events are only ever added: their count stands for them.)
    const { report: r, days: d } = this.data;
    const shown = JSON.stringify([summary && { ...summary, lastPoll: null }, r, d, this.events.list.length, this.events.more]);
    if (shown === this.shown) return;
    this.shown = shown;
    const open = [...this.main.querySelectorAll('details')].map((d) => d.open);

    const { report, days } = this.data;
    const { levels, pages } = charts(days.days);
    const alerts = summary ? [...summary.alerts].sort(bySeverity) : [];
    this.main.replaceChildren(
      back,
      h('header', { class: 'printer-head' },
        h('h1', {}, this.name, ' ', summary ? stateBadge(summary.state) : null),
        fields([
          ['Location', summary?.location], ['Tags', summary?.tags.join(', ')], ['URI', summary?.uri],
          ['State since', summary?.since ? when(summary.since) : null], ['Last poll', summary?.lastPoll ? when(summary.lastPoll) : null],
          ['Report read', report.poll.reportTime ? when(report.poll.reportTime) : null],
        ]),
        summary?.state === 'down' ? h('p', { class: 'error', role: 'alert' }, `Down: ${summary.problem}`,
          summary.error ? h('details', {}, h('summary', {}, 'Details'), summary.error) : null) : null),
      h('div', { class: 'grid' },
        section('supplies-heading', 'Supplies',
          summary?.supplies.length ? h('div', { class: 'gauges' }, summary.supplies.map(gauge)) : null, levels),
        section('pages-heading', 'Pages per day',
          h('p', { class: 'note' }, `Counter type 1 over the last ${kDays} days; now ${number(summary?.pages?.type1)}.`), pages),
        section('panel-heading', 'Operator panel', panel(report.panel, summary, report.deviceStatus)),
        section('alerts-heading', 'Alerts',
          alerts.length ? h('ul', { class: 'alert-list' }, alerts.map((a) => {
            const item = alertItem(a);
            item.append(h('span', { class: 'family' }, ` (${kFamilies[a.family] || a.family}, alert ${a.id})`));
            return item;
          })) : h('p', { class: 'none' }, 'No alerts.'),
          notCarried(report.alerts)),
        section('identity-heading', 'Identity and characteristics', identity(report)),
        section('bins-heading', 'Bins', bins(report)),
        section('events-heading', 'Event log',
          table('Events, newest first', ['Time', 'Event', 'What happened'],
            this.events.list.map((e) => [timeElement(e.time), e.kind, eventWords(e)])),
          this.events.more ? h('button', { type: 'button', class: 'older', id: 'older-events' }, 'Older events') : null)));
    this.main.querySelector('#older-events')?.addEventListener('click', () => this.older());
    this.main.querySelectorAll('details').forEach((d, i) => { d.open = open[i] || false; });
  }
}
