// Building the page. Every text, a printer's above all, goes in as a text
// node: nothing the API returns is ever parsed as markup.

const kSvg = 'http://www.w3.org/2000/svg';

// Characters that would change how the text around them reads (direction
// overrides and isolates, marks) or show as nothing (controls): written as
// their code, so that "evil \u202eRTL" cannot pass for something else.
const kHidden = /[\u0000-\u0008\u000b-\u001f\u007f-\u009f\u061c\u200e\u200f\u202a-\u202e\u2066-\u2069]/g;
export const shown = (text) =>
  text.replace(kHidden, (c) => `⟨U+${c.codePointAt(0).toString(16).toUpperCase().padStart(4, '0')}⟩`);

function build(node, attrs, children) {
  for (const [name, value] of Object.entries(attrs || {})) {
    if (value === null || value === undefined || value === false) continue;
    node.setAttribute(name, value === true ? '' : String(value));
  }
  for (const child of children.flat(Infinity)) {
    if (child === null || child === undefined || child === false) continue;
    node.append(child instanceof Node ? child : document.createTextNode(shown(String(child))));
  }
  return node;
}

// h('td', {class: 'x'}, 'text', otherNode): an HTML element.
export function h(tag, attrs, ...children) {
  return build(document.createElement(tag), attrs, children);
}

// The same for SVG.
export function svg(tag, attrs, ...children) {
  return build(document.createElementNS(kSvg, tag), attrs, children);
}

export async function getJson(url) {
  const response = await fetch(url, { headers: { Accept: 'application/json' } });
  const body = await response.json().catch(() => null);
  if (!response.ok) throw new Error(body?.error?.message || `${response.status} ${response.statusText}`);
  return body;
}

const numbers = new Intl.NumberFormat();
export const number = (n) => (n === null || n === undefined ? '–' : numbers.format(n));
export const percent = (ratio) => (ratio === null || ratio === undefined ? '–' : `${Math.round(ratio * 100)} %`);

// A time of the API (RFC 3339) as people read it: the hour today, the date before.
export function when(iso) {
  if (!iso) return '–';
  const t = new Date(iso);
  const today = new Date().toDateString() === t.toDateString();
  return today ? t.toLocaleTimeString([], { hour: '2-digit', minute: '2-digit', second: '2-digit' })
               : t.toLocaleString([], { dateStyle: 'medium', timeStyle: 'short' });
}

export const timeElement = (iso) => h('time', { datetime: iso }, when(iso));

// The link to a printer's view.
export const printerHref = (name) => `#/printer/${encodeURIComponent(name)}`;

// Alert families by how much they need someone, worst first.
const kSeverities = {
  paperJams: 'error', operatorIntervention: 'error', serviceRequired: 'error',
  inputStatus: 'warning', outputStatus: 'warning', warnings: 'warning', supplies: 'warning',
  suppliesStatus: 'info', configChanges: 'info',
};
const kSeverityOrder = { error: 0, warning: 1, info: 2 };
export const severity = (family) => kSeverities[family] || 'warning';
export const bySeverity = (a, b) => kSeverityOrder[severity(a.family)] - kSeverityOrder[severity(b.family)];

const kSeverityWords = { error: 'Error', warning: 'Warning', info: 'Note' };
const kSeverityMarks = { error: '▲', warning: '●', info: '○' };   // shapes, not only colours

// An alert in words, its severity as a mark and (for screen readers) a word.
export function alertItem(alert) {
  const level = severity(alert.family);
  return h('li', { class: `sev-${level}` },
    h('span', { class: 'mark', 'aria-hidden': 'true' }, kSeverityMarks[level]),
    h('span', { class: 'visually-hidden' }, `${kSeverityWords[level]}: `),
    alert.text);
}

const kStateWords = { up: 'Up', down: 'Down', unknown: 'Not polled yet' };
export const stateBadge = (state) => h('span', { class: `badge state-${state}` }, kStateWords[state] || state);

// A supply's level in words: "45 %, 12 days left"; for a level the printer does
// not measure, whether some remains.
export function supplyWords(supply) {
  if (supply.ratio === null || supply.ratio === undefined) return supply.someRemaining ? 'some remaining' : 'level unknown';
  const words = [percent(supply.ratio)];
  if (supply.daysLeft !== null && supply.daysLeft !== undefined)
    words.push(`${Math.round(supply.daysLeft)} ${Math.round(supply.daysLeft) === 1 ? 'day' : 'days'} left`);
  return words.join(', ');
}

// A supply's gauge: a meter and its level in words. A level the printer does
// not measure (no ratio) has words only.
export function gauge(supply) {
  const name = h('span', { class: 'gauge-name' }, `Toner ${supply.supply}`);
  const words = h('span', { class: 'gauge-words' }, supplyWords(supply));
  if (supply.ratio === null || supply.ratio === undefined)
    return h('div', { class: 'gauge level-unmeasured' }, name, h('span', { class: 'gauge-none', 'aria-hidden': 'true' }, '–'), words);
  const low = supply.ratio <= 0.1 ? 'empty' : supply.ratio <= 0.2 ? 'low' : 'ok';
  return h('div', { class: `gauge level-${low}` }, name,
    h('meter', { min: 0, max: 1, low: 0.2, high: 0.5, optimum: 1, value: supply.ratio, 'aria-hidden': 'true' }), words);
}

// An event in words: what happened, then kvprtd's text of it.
const kEventWords = { down: 'Down', 'alert-raised': 'Alert', 'alert-cleared': 'Cleared', 'alert-received': 'Announced', supply: 'Supply' };
export function eventWords(event) {
  if (event.kind === 'up') return 'Up';
  if (event.kind === 'down') return 'Down';   // why: the printer's state says it, its details the code
  return kEventWords[event.kind] ? `${kEventWords[event.kind]}: ${event.text}` : event.text;
}

// A section's value of a report, or its failure in words: a part the printer
// does not carry ({unavailable}) is said to be so, and is no failure. `what`
// names the part where its card does not.
export function unavailable(section, what) {
  if (!section || typeof section !== 'object' || Array.isArray(section)) return null;
  if (section.unavailable) return h('p', { class: 'unavailable' }, `${what ? `${what}: not` : 'Not'} available from this printer.`);
  if (section.error) return h('p', { class: 'unavailable' }, `Not available: ${section.error.message}`);
  return null;
}
