// Charts as inline SVG, each with its numbers as a table for those who do
// not see the chart (and for copying).
import { h, svg } from './dom.js';

const kWidth = 640, kHeight = 220;
const kLeft = 48, kRight = 12, kTop = 12, kBottom = 28;
const kPlotW = kWidth - kLeft - kRight, kPlotH = kHeight - kTop - kBottom;
const kDashes = ['', '6 4', '2 3', '10 3 2 3'];   // lines told apart without colour

// A round upper bound for an axis: 1, 2 or 5 times a power of ten.
function niceMax(value) {
  if (value <= 0) return 1;
  const power = 10 ** Math.floor(Math.log10(value));
  return [1, 2, 5, 10].map((m) => m * power).find((m) => m >= value);
}

const shortDate = (date) => date.slice(5);   // MM-DD of YYYY-MM-DD

function frame(title, description, yTicks, yFormat, dates) {
  const id = `chart-${Math.random().toString(36).slice(2)}`;
  const root = svg('svg', { viewBox: `0 0 ${kWidth} ${kHeight}`, role: 'img', 'aria-labelledby': `${id}-t ${id}-d`, class: 'chart' },
    svg('title', { id: `${id}-t` }, title),
    svg('desc', { id: `${id}-d` }, description));
  for (const [value, y] of yTicks) {
    root.append(svg('line', { x1: kLeft, x2: kWidth - kRight, y1: y, y2: y, class: 'gridline' }),
      svg('text', { x: kLeft - 6, y: y + 4, 'text-anchor': 'end', class: 'axis' }, yFormat(value)));
  }
  const step = Math.max(1, Math.ceil(dates.length / 8));
  dates.forEach((date, i) => {
    if ((dates.length - 1 - i) % step !== 0) return;   // the last day always labelled
    root.append(svg('text', { x: xOf(i, dates.length), y: kHeight - 8, 'text-anchor': 'middle', class: 'axis' }, shortDate(date)));
  });
  return root;
}

// The middle of day i's slot of n.
const xOf = (i, n) => kLeft + (kPlotW * (i + 0.5)) / Math.max(1, n);

function dataTable(caption, headers, rows) {
  return h('details', { class: 'chart-data' },
    h('summary', {}, `${caption} as a table`),
    h('table', {},
      h('thead', {}, h('tr', {}, headers.map((c) => h('th', { scope: 'col' }, c)))),
      h('tbody', {}, rows.map((r) => h('tr', {}, h('th', { scope: 'row' }, r[0]), r.slice(1).map((c) => h('td', {}, c)))))));
}

// Lines of ratios (0 to 1) over the days; a day without a value breaks the line.
export function levelChart(title, dates, series) {
  const yOf = (ratio) => kTop + kPlotH * (1 - ratio);
  const root = frame(title, `${series.length} supplies over ${dates.length} days, 0 to 100 %`,
    [0, 0.25, 0.5, 0.75, 1].map((v) => [v, yOf(v)]), (v) => `${v * 100} %`, dates);
  series.forEach((s, k) => {
    let points = [];
    const flush = () => {
      if (points.length === 1) root.append(svg('circle', { cx: points[0][0], cy: points[0][1], r: 3, class: `series-${k % 4}` }));
      if (points.length > 1)
        root.append(svg('polyline', { points: points.map((p) => p.join(',')).join(' '), class: `line series-${k % 4}`,
                                      'stroke-dasharray': kDashes[k % 4] || null }));
      points = [];
    };
    s.values.forEach((v, i) => (v === null ? flush() : points.push([xOf(i, dates.length).toFixed(1), yOf(v).toFixed(1)])));
    flush();
  });
  const legend = h('ul', { class: 'legend' }, series.map((s, k) =>
    h('li', {}, h('span', { class: `swatch series-${k % 4} dash-${k % 4}`, 'aria-hidden': 'true' }), s.name)));
  const rows = dates.map((d, i) => [d, ...series.map((s) => (s.values[i] === null ? '–' : `${Math.round(s.values[i] * 100)} %`))]);
  return h('figure', { class: 'figure' }, root, legend, dataTable(title, ['Day', ...series.map((s) => s.name)], rows));
}

// Bars of counts over the days; a day without a count has no bar.
export function barChart(title, dates, values, unit) {
  const top = Math.max(5, niceMax(Math.max(0, ...values.filter((v) => v !== null))));   // its fifths are whole
  const yOf = (v) => kTop + kPlotH * (1 - v / top);
  const root = frame(title, `${unit} per day over ${dates.length} days, at most ${top}`,
    [0, 0.2, 0.4, 0.6, 0.8, 1].map((f) => [top * f, yOf(top * f)]), (v) => Math.round(v).toLocaleString(), dates);
  const slot = kPlotW / Math.max(1, dates.length);
  values.forEach((v, i) => {
    if (v === null) return;
    const x = xOf(i, dates.length);
    const w = Math.max(2, slot * 0.7);
    root.append(svg('rect', { x: (x - w / 2).toFixed(1), y: yOf(v).toFixed(1), width: w.toFixed(1),
                              height: (kTop + kPlotH - yOf(v)).toFixed(1), class: 'bar' },
      svg('title', {}, `${dates[i]}: ${v.toLocaleString()} ${unit}`)));
  });
  const rows = dates.map((d, i) => [d, values[i] === null ? '–' : values[i].toLocaleString()]);
  return h('figure', { class: 'figure' }, root, dataTable(title, ['Day', unit], rows));
}
