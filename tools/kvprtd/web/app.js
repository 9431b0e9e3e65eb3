// kvprtd's dashboard: the fleet at #/, one printer at #/printer/NAME. It
// reads kvprtd's API; the event stream keeps the page current without a
// reload, and the list of printers is read again now and then for what
// changes without an event (page counts, supply levels).
import { getJson, h } from './dom.js';
import { FleetView } from './fleet.js';
import { PrinterView } from './printer.js';

const kRefreshMs = 15000;
const kStatusMs = 5000;
const kAfterEventMs = 300;   // events come in bursts: one read of the printers after them
const kReadGapMs = 2000;     // but a large fleet's events never pause: at most a read this often
const kEventsKept = 200;
const kStaleMs = 5000;       // kvprtd silent this long: the page says its data is old
const kKinds = ['up', 'down', 'alert-raised', 'alert-cleared', 'supply', 'alert-received'];

const main = document.getElementById('main');
const live = document.getElementById('live');
const announce = document.getElementById('announce');
const service = document.getElementById('service');

// What the views show: the printers as last read, the events as they came (newest first).
const fleet = { printers: [], events: [], latest: new Map() };
let view = null;
let refreshTimer = null;
let refreshAt = 0;    // when the timer fires (performance.now())
let lastRead = -Infinity;
let source = null;

function setLive(state, words) {
  live.dataset.state = state;
  live.replaceChildren(h('span', { class: 'dot', 'aria-hidden': 'true' }), words);
}

// Whether what the page shows is kvprtd's present: once kvprtd has been out
// of reach for kStaleMs, the page says as of when its data is, and greys it.
const freshness = { heard: null, timer: null };

function heard() {
  freshness.heard = new Date();
  clearTimeout(freshness.timer);
  freshness.timer = null;
  if (!document.body.dataset.stale) return;
  delete document.body.dataset.stale;
  if (source?.readyState === EventSource.OPEN) setLive('on', 'Live');
  else setLive('off', `No live updates; read every ${kRefreshMs / 1000} s`);
}

function unheard() {
  if (freshness.timer || document.body.dataset.stale) return;
  freshness.timer = setTimeout(() => {
    freshness.timer = null;
    document.body.dataset.stale = 'true';
    const asOf = freshness.heard ? freshness.heard.toLocaleTimeString([], { hour: '2-digit', minute: '2-digit', second: '2-digit' }) : 'never';
    setLive('stale', `kvprtd unreachable: data as of ${asOf}`);
  }, kStaleMs);
}

// The next read of the printers in `delay` ms, unless one is due sooner.
function refreshIn(delay) {
  const at = performance.now() + delay;
  if (refreshTimer !== null && refreshAt <= at) return;
  clearTimeout(refreshTimer);
  refreshAt = at;
  refreshTimer = setTimeout(refresh, delay);
}

async function refresh() {
  refreshTimer = null;
  refreshIn(kRefreshMs);
  lastRead = performance.now();
  try {
    fleet.printers = (await getJson('/api/v1/printers')).printers;
    heard();
    view?.update();
  } catch (e) {
    if (!document.body.dataset.stale) setLive('off', `kvprtd cannot be reached (${e.message}); trying again`);
    unheard();
  }
}

// What keeps kvprtd from its job, said above every view: a fleet file it
// refused, a database that refuses writes.
async function checkService() {
  setTimeout(checkService, kStatusMs);
  try {
    const status = await getJson('/api/v1/status');
    const problems = [];
    if (status.fleetFile.reloadError)
      problems.push(`kvprtd refused its fleet file and watches the fleet it had: ${status.fleetFile.reloadError}`);
    if (status.database.failing)
      problems.push(`kvprtd cannot write its history (${status.database.eventsWaiting} events wait in memory); its log says why`);
    service.replaceChildren(...problems.map((text) => h('p', {}, text)));
    service.hidden = problems.length === 0;
    heard();
  } catch (e) {
    unheard();   // the live line says when kvprtd cannot be reached
  }
}

function onEvent(event) {
  heard();
  fleet.events.unshift(event);
  fleet.events.length = Math.min(fleet.events.length, kEventsKept);
  fleet.latest.set(event.printer, event);
  if (event.kind === 'down' || event.kind === 'up')
    announce.textContent = `${event.printer} is ${event.kind}${event.kind === 'down' ? `: ${event.text}` : ''}`;
  view?.onEvent(event);
  refreshIn(Math.max(kAfterEventMs, lastRead + kReadGapMs - performance.now()));
}

// The event stream, from the newest events kvprtd keeps on. The browser
// reconnects by itself (naming the last event it saw); a stream refused
// (too many open) leaves the page to its periodic reads.
function listen() {
  source = new EventSource('/api/v1/events?lastEventId=0');
  source.addEventListener('open', () => {
    setLive('on', 'Live');
    heard();
  });
  source.addEventListener('error', () => {
    if (source.readyState === EventSource.CLOSED) {
      setLive('off', `No live updates; read every ${kRefreshMs / 1000} s`);
      return;
    }
    if (!document.body.dataset.stale) setLive('off', 'Reconnecting…');
    unheard();
  });
  for (const kind of kKinds) source.addEventListener(kind, (m) => onEvent(JSON.parse(m.data)));
}

function route() {
  view?.close?.();
  const printer = location.hash.match(/^#\/printer\/(.+)$/);
  view = printer ? new PrinterView(main, decodeURIComponent(printer[1]), fleet) : new FleetView(main, fleet);
  view.update();
}

window.addEventListener('hashchange', () => {
  if (!location.hash.startsWith('#/') && location.hash !== '') return;   // "#main": the skip link
  route();
  main.focus();   // a screen reader starts at the new view
});
setLive('off', 'Connecting…');
route();
listen();
refresh();
checkService();
