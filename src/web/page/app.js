// The station's live page: the table, the bus lines and the alarms follow
// the event stream; the charts read /api/history. Everything a device or a
// setting names is put in as text, never as markup.
'use strict';

(function () {
  const texts = JSON.parse(document.getElementById('texts').textContent);
  const lang = document.documentElement.lang || 'en';
  const t = (key, arg) => {
    const text = texts[key] !== undefined ? texts[key] : key;
    return arg === undefined ? text : text.replace('%1', arg);
  };
  const $ = (id) => document.getElementById(id);
  const el = (tag, className, text) => {
    const made = document.createElement(tag);
    if (className) made.className = className;
    if (text !== undefined) made.textContent = text;
    return made;
  };

  let latest = null;
  const charts = new Map(); // channel key -> {box, chart, points, canvas, caption}
  const stored = (() => {
    try { return JSON.parse(localStorage.getItem('orvex.charts') || 'null'); } catch (e) { return null; }
  })();
  let spanMs = (stored && stored.span) || 3600000;
  let wanted = stored && Array.isArray(stored.keys) ? stored.keys : null;

  function remember() {
    try {
      localStorage.setItem('orvex.charts', JSON.stringify({ span: spanMs, keys: [...charts.keys()] }));
    } catch (e) { /* private mode: not kept */ }
  }

  function clock(ms) {
    if (ms === null || ms === undefined) return '';
    const when = new Date(ms);
    const options = { hour: '2-digit', minute: '2-digit', second: '2-digit', hour12: false };
    if (new Date().toDateString() !== when.toDateString()) {
      options.day = '2-digit';
      options.month = '2-digit';
    }
    return when.toLocaleString(lang, options);
  }

  function channelName(c) {
    const who = c.i2cSerial ? c.i2cSerial + (c.hubChannel >= 0 ? ' / ' + c.hubChannel : '') : c.rom;
    return who + ' ' + c.type + (c.subchannel ? ' #' + c.subchannel : '') + ', ' + c.unitShown;
  }

  // A value as the window's table writes it (a count whole, a state as 1
  // or 0: the digits the channel's chip resolves), with its unit.
  function valueText(c) {
    if (c.value === null) return '---';
    return c.text + (c.unitShown ? '\u00a0' + c.unitShown : '');
  }

  function renderBuses(state) {
    const list = $('buses');
    list.replaceChildren();
    state.buses.forEach((bus) => {
      const li = el('li');
      li.append(el('span', '', t('kind.' + bus.kind) + ' (' + bus.description + '): '));
      li.append(el('span', bus.up ? 'up' : 'down', bus.up ? t('busUp') : t('busDown')));
      li.append(el('span', '', '; ' + (state.cycleMs >= 0 ? t('cycle', state.cycleMs) : t('noCycle'))));
      list.append(li);
    });
  }

  function alarmCell(td, c, editable) {
    td.className = 'alarm ' + c.alarm;
    td.replaceChildren(el('span', '', t('state.' + c.alarm)));
    if (c.limits) td.append(el('small', '', c.limits));
    if (editable) {
      const button = el('button', '', t('editLimits'));
      button.type = 'button';
      button.addEventListener('click', () => editLimits(c));
      td.append(button);
    }
  }

  function renderChannels(state) {
    const body = $('channels').tBodies[0];
    const rows = new Map();
    for (const tr of body.rows) rows.set(tr.dataset.key, tr);
    const order = [];
    state.channels.forEach((c) => {
      let tr = rows.get(c.key);
      if (!tr) {
        tr = el('tr');
        tr.dataset.key = c.key;
        ['rom', 'sub', 'hub', 'serial', 'type', 'value', 'time', 'alarm'].forEach((name) => tr.append(el('td', name)));
      }
      rows.delete(c.key);
      const cells = tr.cells;
      cells[0].textContent = c.rom;
      cells[1].textContent = String(c.subchannel);
      cells[2].textContent = c.hubChannel >= 0 ? String(c.hubChannel) : '';
      cells[3].textContent = c.i2cSerial;
      cells[4].textContent = c.type;
      cells[5].textContent = valueText(c);
      cells[6].textContent = clock(c.timeMs);
      alarmCell(cells[7], c, state.limitsEditable);
      const failed = c.failure !== '';
      tr.classList.toggle('failed', failed);
      tr.classList.toggle('stale', !c.fresh);
      tr.title = failed ? t('failure.' + c.failure) : (c.fresh ? '' : t('stale'));
      order.push(tr);
    });
    rows.forEach((tr) => tr.remove());
    order.forEach((tr, i) => { if (body.rows[i] !== tr) body.insertBefore(tr, body.rows[i] || null); });
  }

  function renderAlarms(state) {
    const active = $('activeAlarms');
    active.replaceChildren();
    const byKey = new Map(state.channels.map((c) => [c.key, c]));
    if (!state.alarms.active.length) active.append(el('li', '', t('noAlarms')));
    state.alarms.active.forEach((a) => {
      const c = byKey.get(a.key);
      const value = a.value === null ? '---' : a.value.toFixed(2);
      active.append(el('li', a.state, (c ? channelName(c) : a.key) + ': ' + t('state.' + a.state) + ' (' + value + ')'));
    });
    const body = $('transitions').tBodies[0];
    body.replaceChildren();
    const lines = state.alarms.transitions.slice().reverse();
    if (!lines.length) {
      const tr = el('tr');
      const td = el('td', '', t('noTransitions'));
      td.colSpan = 6;
      tr.append(td);
      body.append(tr);
    }
    lines.forEach((line) => {
      const tr = el('tr', line.state);
      [line.date, line.time, line.channel, t('state.' + line.state), line.value, line.limit].forEach((text) =>
        tr.append(el('td', '', text)));
      body.append(tr);
    });
  }

  function renderChoice(state) {
    const select = $('chartChannel');
    const chosen = select.value;
    select.replaceChildren();
    state.channels.forEach((c) => {
      const option = el('option', '', channelName(c));
      option.value = c.key;
      select.append(option);
    });
    if (chosen) select.value = chosen;
  }

  let chartsStarted = false;
  function render(state) {
    latest = state;
    renderBuses(state);
    renderChannels(state);
    renderAlarms(state);
    renderChoice(state);
    const status = $('status');
    status.className = '';
    status.textContent = state.time ? t('updated', clock(Date.parse(state.time))) : '';
    // Opened before the run's first cycle ended, the page starts its charts
    // with the first state that has channels.
    if (!chartsStarted && state.channels.length) {
      chartsStarted = true;
      const keys = (wanted || [state.channels[0].key]).filter((k) => state.channels.some((c) => c.key === k));
      (keys.length ? keys : [state.channels[0].key]).forEach(addChart);
    }
    if (state.channels.length) extendCharts(state);
  }

  // Charts: one per chosen channel, over the chosen span up to now.
  function addChart(key) {
    if (charts.has(key) || !latest) return;
    const c = latest.channels.find((x) => x.key === key);
    const box = el('div', 'chart');
    box.dataset.key = key;
    const title = el('div', 'title');
    title.append(el('span', '', c ? channelName(c) : key));
    const remove = el('button', '', t('removeChart'));
    remove.type = 'button';
    remove.addEventListener('click', () => {
      const entry = charts.get(key);
      if (entry && entry.chart) entry.chart.destroy();
      charts.delete(key);
      box.remove();
      remember();
    });
    title.append(remove);
    const holder = el('div', 'box');
    const canvas = el('canvas');
    canvas.dataset.points = '0';
    holder.append(canvas);
    const caption = el('div', 'caption');
    box.append(title, holder, caption);
    $('charts').append(box);
    const entry = { box, canvas, caption, chart: null, points: [], unit: c ? c.unitShown : '' };
    charts.set(key, entry);
    remember();
    loadChart(key);
  }

  // A null between two points where the readings paused: the line breaks there.
  function withBreaks(points) {
    const spacings = [];
    for (let i = 1; i < points.length; ++i) spacings.push(points[i].x - points[i - 1].x);
    spacings.sort((a, b) => a - b);
    const usual = spacings.length ? spacings[Math.floor(spacings.length / 2)] : 0;
    const out = [];
    points.forEach((p, i) => {
      if (i > 0 && usual > 0 && p.x - points[i - 1].x > Math.max(5 * usual, 10000))
        out.push({ x: points[i - 1].x + 1, y: null });
      out.push(p);
    });
    return out;
  }

  // Ticks on whole minutes, hours or days of local time, about six of them.
  const steps = [60e3, 300e3, 600e3, 900e3, 1800e3, 3600e3, 7200e3, 10800e3, 21600e3, 43200e3, 86400e3];
  function roundTicks(scale) {
    const span = scale.max - scale.min;
    const step = steps.find((s) => span / s <= 7) || 86400e3;
    const offset = new Date(scale.min).getTimezoneOffset() * 60e3;
    const ticks = [];
    for (let v = Math.ceil((scale.min - offset) / step) * step + offset; v <= scale.max; v += step)
      ticks.push({ value: v });
    scale.ticks = ticks;
  }

  function drawChart(entry, from, to) {
    entry.canvas.dataset.points = String(entry.points.filter((p) => p.y !== null).length);
    if (typeof Chart === 'undefined') {
      $('chartNote').hidden = false;
      return;
    }
    const data = withBreaks(entry.points);
    if (entry.chart) {
      entry.chart.data.datasets[0].data = data;
      entry.chart.options.scales.x.min = from;
      entry.chart.options.scales.x.max = to;
      entry.chart.update('none');
      return;
    }
    entry.chart = new Chart(entry.canvas, {
      type: 'line',
      data: { datasets: [{ data, borderColor: '#24405c', backgroundColor: '#24405c', borderWidth: 1.5,
                            pointRadius: data.length < 60 ? 2 : 0, spanGaps: false }] },
      options: {
        animation: false, parsing: false, normalized: true, maintainAspectRatio: false,
        plugins: { legend: { display: false },
                   tooltip: { callbacks: { title: (items) => clock(items[0].parsed.x),
                                           label: (item) => item.parsed.y + ' ' + entry.unit } } },
        scales: { x: { type: 'linear', min: from, max: to, afterBuildTicks: roundTicks,
                       ticks: { autoSkip: false, maxRotation: 0, callback: (v) => clock(v) } },
                  y: { ticks: { maxTicksLimit: 6 } } },
      },
    });
  }

  function loadChart(key) {
    const entry = charts.get(key);
    if (!entry) return;
    const to = Date.now();
    const from = to - spanMs;
    const width = Math.max(100, Math.min(2000, Math.round(entry.box.clientWidth || 600)));
    const query = new URLSearchParams({ channel: key, from: String(from), to: String(to), points: String(width) });
    fetch('api/history?' + query.toString(), { cache: 'no-store' })
      .then((answer) => (answer.ok ? answer.json() : Promise.reject(new Error(String(answer.status)))))
      .then((history) => {
        entry.points = history.readings.map((r) => ({ x: r[0], y: r[1] }));
        entry.unit = history.unitShown;
        entry.caption.textContent = history.source === 'files'
          ? t('chartFiles', history.files.join(', ')) : t('chartRun');
        if (!entry.points.length) entry.caption.textContent += ' — ' + t('chartEmpty');
        drawChart(entry, from, to);
      })
      .catch(() => { entry.caption.textContent = t('chartEmpty'); drawChart(entry, from, to); });
  }

  // A new cycle's readings go onto the charts without asking for the history again.
  function extendCharts(state) {
    const to = Date.now();
    charts.forEach((entry, key) => {
      const c = state.channels.find((x) => x.key === key);
      if (!c || c.timeMs === null || !c.fresh) return;
      const last = entry.points.length ? entry.points[entry.points.length - 1].x : -Infinity;
      if (c.timeMs <= last) return;
      entry.points.push({ x: c.timeMs, y: c.value });
      while (entry.points.length && entry.points[0].x < to - spanMs) entry.points.shift();
      drawChart(entry, to - spanMs, to);
    });
  }

  function editLimits(c) {
    const text = window.prompt(t('limitsPrompt', channelName(c)), c.limits);
    if (text === null) return;
    fetch('api/limits', {
      method: 'POST', headers: { 'Content-Type': 'application/json' },
      body: JSON.stringify({ channel: c.key, limits: text }),
    })
      .then((answer) => answer.json().then((body) => ({ ok: answer.ok, body })))
      .then(({ ok, body }) => {
        $('status').textContent = ok ? t('limitsTaken') : t('limitsRefused', body.error || '');
      })
      .catch((e) => { $('status').textContent = t('limitsRefused', String(e)); });
  }

  document.querySelectorAll('.spans button').forEach((button) => {
    button.classList.toggle('on', Number(button.dataset.span) === spanMs);
    button.addEventListener('click', () => {
      spanMs = Number(button.dataset.span);
      document.querySelectorAll('.spans button').forEach((b) => b.classList.toggle('on', b === button));
      remember();
      charts.forEach((entry, key) => loadChart(key));
    });
  });
  $('addChart').addEventListener('click', () => addChart($('chartChannel').value));
  if (typeof Chart === 'undefined') $('chartNote').hidden = false;

  function offline() {
    const status = $('status');
    status.className = 'offline';
    status.textContent = t('offline');
  }

  fetch('api/channels', { cache: 'no-store' }).then((a) => a.json()).then((state) => {
    if (latest === null || state.cycle > latest.cycle) render(state);
  }).catch(offline);
  const events = new EventSource('api/events');
  events.addEventListener('channels', (event) => render(JSON.parse(event.data)));
  events.addEventListener('error', offline);
})();
