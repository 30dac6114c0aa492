// The report page of one run: builds the header, the warnings, the tables, the noise
// budget, the charts and, when the record has com, the COM section from the run's data (the JSON element "run-data": the run record
// and the waveforms brevo-report kept). The charts are dygraphs; window.brevoCharts holds
// them by name, for whoever looks at the page from outside (the tests do).
"use strict";
(function () {
  const data = JSON.parse(document.getElementById("run-data").textContent);
  const rec = data.record, facts = data.page, fig = rec.figures || {};
  // Every figure of the report in report order, as the build fills it in from the figure
  // table (driver/figures.toml): key, label, meaning, whether it is a quantity (else yes
  // or no), whether the headline shows it, whether its report line is printed only when it
  // applies, and the unit the page shows it in with that unit's size.
  const figureTable = @FIGURE_ROWS@;
  // The figures of a COM package case the page shows, in its order, from the same table:
  // key, label, unit and meaning ({DER0}: the preset's target detector error ratio).
  const comFigureTable = @COM_FIGURE_ROWS@;
  const root = document.getElementById("page");
  window.brevoCharts = {};

  function el(tag, attrs, ...children) {
    const e = document.createElement(tag);
    for (const [k, v] of Object.entries(attrs || {})) e.setAttribute(k, v);
    for (const c of children) e.append(c instanceof Node ? c : String(c));
    return e;
  }
  function svgEl(tag, attrs, text) {
    const e = document.createElementNS("http://www.w3.org/2000/svg", tag);
    for (const [k, v] of Object.entries(attrs || {})) e.setAttribute(k, v);
    if (text !== undefined) e.textContent = text;
    return e;
  }
  // A number as the page shows it: six significant digits; "nan" and "inf" as the record
  // writes them.
  function num(v) {
    if (v === null || v === undefined) return "\u2014";
    if (typeof v === "string") return v;
    return Number(v.toPrecision(6)).toString();
  }
  function section(title, id, parent) {
    const s = el("section", { id: id }, el("h2", {}, title));
    (parent || root).append(s);
    return s;
  }
  const value = (f) => (f && typeof f === "object" ? f.value : f);
  // An aggressor goes by its file's base name (the full path on hover); files of one base
  // name in different folders keep as many of their last folders as tell them apart.
  const baseName = (path) => String(path).split("/").pop();
  const allFiles = [...(rec.aggressors || []), ...(rec.skipped || [])].map((a) => a.file);
  function shortName(path) {
    const parts = String(path).split("/");
    for (let keep = 1; keep < parts.length; ++keep) {
      const tail = parts.slice(-keep).join("/");
      if (!allFiles.some((f) => f !== path && (f === tail || f.endsWith("/" + tail)))) return tail;
    }
    return String(path);
  }
  const named = (path) => el("span", { title: path, class: "file" }, shortName(path));
  const portText = (p) => (p ? `${p.inP} ${p.inM} ${p.outP} ${p.outM}` : "");
  const rateText = facts.rate ? num(facts.rate / 1e9) + " GBd" : "\u2014";

  // Header.
  const thru = rec.thru || {};
  const ports = thru.ports ? `${thru.ports.inP} ${thru.ports.inM} \u21d2 ${thru.ports.outP} ${thru.ports.outM}` : "\u2014";
  root.append(el("h1", {}, "Brevo report: ", thru.file ? el("span", { title: thru.file }, baseName(thru.file)) : "no channel"));
  // The headline: what the run gives, before anything else.
  const headline = el("div", { class: "headline", id: "headline" });
  const unitOf = (f) => (f && f.unit && f.unit !== "ratio" ? " " + f.unit : "");
  for (const { key, label } of figureTable.filter((row) => row.headline)) {
    const f = fig[key];
    const shown = f && typeof f.value === "number" ? num(f.value) + unitOf(f)
                : f && typeof f.value === "string" ? f.value : "\u2014";
    headline.append(el("div", { class: "figure", "data-key": key }, el("span", { class: "label" }, label), el("span", { class: "number" }, shown)));
  }
  if (rec.status !== 0) headline.classList.add("failed");
  // COM first when the run has it: the worst case's margin and the verdict.
  const com = rec.com;
  if (com) {
    const shown = com.available ? `${num(value(com.COM))} dB ${com.verdict}` : "unavailable";
    headline.prepend(el("div", { class: "figure com " + (com.available ? com.verdict : "unavailable"), "data-key": "COM" },
      el("span", { class: "label" }, "COM"), el("span", { class: "number" }, shown)));
  }
  root.append(headline);
  const header = el("dl", { class: "header" });
  const facts0 = [["channel", thru.file ? el("span", { title: thru.file, class: "file" }, thru.file) : "\u2014"], ["ports", ports], ["symbol rate", rateText],
    ["PAM", facts.pam], ["N_DFE", num(facts.ndfe) + " UI"], ["target BER", num(value(fig.target_BER))],
    ["exit status", rec.status], ["date", facts.date], ["version", "Brevo " + facts.version]];
  for (const [k, v] of facts0) header.append(el("dt", {}, k), el("dd", {}, v));
  root.append(header);

  // Warnings, FLIPPED and a failed run, in one box that cannot be missed.
  const alerts = [];
  if (fig.flipped === true) alerts.push("FLIPPED: the channel inverts the signal; its pulse and dibit are drawn as written, with the sign turned.");
  if (rec.status !== 0)
    alerts.push(`The run failed with exit status ${rec.status}` + (facts.failure ? `: ${facts.failure}` : "") +
      ". Figures it did not reach are shown as \u2014 (run.log has the whole log).");
  for (const w of rec.warnings || []) alerts.push("warning: " + w);
  for (const s of rec.skipped || []) alerts.push(["skipped " + s.kind + " aggressor ", named(s.file), ": " + s.reason]);
  if (alerts.length) {
    const box = el("div", { class: "alerts", id: "alerts" }, el("strong", {}, "Look here first"));
    const list = el("ul");
    for (const a of alerts) list.append(el("li", {}, ...[].concat(a)));
    box.append(list);
    root.append(box);
  }

  // The figures on the left, the budget and the crosstalk beside them.
  const overview = el("div", { class: "overview" }), side = el("div", { class: "side" });
  root.append(overview);
  const figures = section("Figures", "figures", overview);
  overview.append(side);
  figures.append(el("p", {}, "Amplitudes in mV; noise figures are rms values, and noise terms add as powers."));
  const table = el("table", { class: "figures", id: "figures-table" });
  table.append(el("tr", {}, el("th", {}, "figure"), el("th", {}, "value"), el("th", {}, "unit"), el("th", {}, "what it means")));
  const unitText = (u) => (u === "ratio" ? "" : u);
  // A figure in the unit the page shows it in.
  const shownIn = (row, f) => (row.unit && f && typeof f.value === "number" ? { value: f.value / row.size, unit: row.unit } : f);
  for (const row of figureTable.filter((r) => r.quantity)) {
    const { key, label, meaning } = row;
    if (!(key in fig)) continue;
    if (row.sometimes && fig[key] === null) continue;   // printed only when it applies
    const f = shownIn(row, fig[key]);
    table.append(el("tr", { "data-key": key }, el("td", {}, label), el("td", { class: "value" }, num(f && f.value)),
      el("td", {}, f ? unitText(f.unit) : ""), el("td", {}, meaning)));
  }
  for (const a of rec.aggressors || [])
    table.append(el("tr", { "data-aggressor": a.file }, el("td", {}, named(a.file), ` ICN (${a.kind})`),
      el("td", { class: "value" }, num(a.icn.value)), el("td", {}, a.icn.unit), el("td", {}, "one aggressor's crosstalk at the receiver")));
  for (const { key, label, meaning } of figureTable.filter((r) => !r.quantity && r.key in fig))
    table.append(el("tr", { "data-key": key }, el("td", {}, label),
      el("td", { class: "value" }, fig[key] === null ? "\u2014" : fig[key] ? "yes" : "no"), el("td", {}, ""),
      el("td", {}, meaning)));
  figures.append(el("div", { class: "scroll" }, table));

  // The noise budget: every noise power stacked, against the power the available signal
  // allows at the target BER, (available signal / target Q)^2; what is left is the
  // interference tolerance squared.
  const mv = (k) => value(fig[k]);
  // Noise powers [name, mV^2, file or undefined] stacked in one bar against the power
  // allowed (a dashed box and its line); the picture and its legend.
  function budgetPicture(id, powers, allowed, limitText, footText) {
    const total = powers.reduce((s, p) => s + p[1], 0);
    const width = 500, barTop = 30, barHeight = 40, scale = (width - 20) / (Math.max(allowed, total) || 1);
    const svg = svgEl("svg", { viewBox: `0 0 ${width} 120`, class: "budget", id: id, role: "img" });
    svg.append(svgEl("rect", { x: 10, y: barTop, width: allowed * scale, height: barHeight, class: "allowed" }));
    let x = 10;
    const legend = el("table", { class: "legend" });
    powers.forEach(([name, p, path], i) => {
      const w = p * scale;
      const r = svgEl("rect", { x: x, y: barTop, width: w, height: barHeight, class: "term", fill: `hsl(${(i * 47) % 360} 60% 55%)` });
      r.append(svgEl("title", {}, `${name}: ${num(p)} mV\u00b2 (${num(Math.sqrt(p))} mV rms)`));
      svg.append(r);
      legend.append(el("tr", {}, el("td", {}, el("span", { class: "swatch", style: `background:hsl(${(i * 47) % 360} 60% 55%)` })),
        el("td", {}, path ? el("span", { title: path, class: "file" }, name) : name), el("td", { class: "value" }, num(p) + " mV\u00b2"), el("td", { class: "value" }, num(100 * p / total) + " %")));
      x += w;
    });
    const ax = 10 + allowed * scale;
    svg.append(svgEl("line", { x1: ax, x2: ax, y1: barTop - 14, y2: barTop + barHeight + 14, class: "limit" }));
    svg.append(svgEl("text", { x: ax, y: barTop - 18, "text-anchor": ax > width / 2 ? "end" : "start" }, limitText));
    svg.append(svgEl("text", { x: 10, y: barTop + barHeight + 32 }, footText));
    return [svg, el("div", { class: "scroll" }, legend)];
  }
  if (typeof mv("available_signal") === "number" && typeof mv("total_noise") === "number") {
    const terms = [["implementation", mv("implementation_noise")], ["ILD", mv("ild_noise")],
      ["Tx re-reflection", mv("tx_reflection_noise")], ["Rx re-reflection", mv("rx_reflection_noise")],
      ["Tx-Rx re-reflection", mv("txrx_reflection_noise")]];
    for (const a of rec.aggressors || []) terms.push([`${shortName(a.file)} ICN (${a.kind})`, a.icn.value, a.file]);
    const powers = terms.map(([n, v, path]) => [n, typeof v === "number" ? v * v : 0, path]);
    const total = powers.reduce((s, p) => s + p[1], 0);
    const q = Math.abs(value(fig.target_Q));
    // A closed eye (no available signal) allows no noise at all.
    const allowed = mv("available_signal") > 0 ? Math.pow(mv("available_signal") / q, 2) : 0;
    const s = section("Noise budget", "budget", side);
    s.append(el("p", {}, `Noise powers in mV\u00b2, stacked, against the power the available signal of ${num(mv("available_signal"))} mV ` +
      `allows at the target BER: (available signal / target Q)\u00b2 = ${num(allowed)} mV\u00b2. ` +
      `Total noise power ${num(total)} mV\u00b2.`));
    s.append(...budgetPicture("budget-svg", powers, allowed, "allowed at target BER",
      total <= allowed ? `left over: interference tolerance ${num(mv("interference_tolerance"))} mV rms`
                       : allowed > 0 ? `short by ${num(total - allowed)} mV\u00b2: the target BER is missed`
                       : "the eye is closed: no available signal, so no noise is allowed"));
  }

  // ICN per aggressor, largest first.
  if ((rec.aggressors || []).length) {
    const list = [...rec.aggressors].filter((a) => typeof a.icn.value === "number").sort((a, b) => b.icn.value - a.icn.value);
    const s = section("Crosstalk per aggressor (ICN, largest first)", "icn", side);
    const rowH = 40, width = 500, barW = width - 110, top = Math.max(...list.map((a) => a.icn.value), 1e-30);
    const svg = svgEl("svg", { viewBox: `0 0 ${width} ${rowH * list.length + 10}`, class: "icn", id: "icn-svg", role: "img" });
    list.forEach((a, i) => {
      const y = 5 + i * rowH, w = barW * a.icn.value / top;
      const label = svgEl("text", { x: 10, y: y + 14 }, `${shortName(a.file)} (${a.kind})`);
      label.append(svgEl("title", {}, a.file));
      svg.append(label);
      svg.append(svgEl("rect", { x: 10, y: y + 19, width: w, height: 16, class: a.kind === "NEXT" ? "next" : "fext" }));
      // The value beside its bar, or inside it when the bar leaves no room on its right.
      const inside = 16 + w + 90 > width;
      svg.append(svgEl("text", { x: inside ? 4 + w : 16 + w, y: y + 32, "text-anchor": inside ? "end" : "start",
        class: inside ? "inside" : "" }, num(a.icn.value) + " mV"));
    });
    s.append(svg);
  }

  if (com) comSection(com);

  // Charts.
  function rowsOf(c) {
    return c.x.map((x, i) => [x, ...c.y.map((y) => y[i])]);
  }
  // Curves on their own x values merged into one table; null where a curve has no point.
  function merged(charts) {
    const byX = new Map();
    let column = 0;
    const width = charts.reduce((n, c) => n + c.y.length, 0);
    for (const c of charts) {
      c.x.forEach((x, i) => {
        if (!byX.has(x)) byX.set(x, new Array(width).fill(null));
        c.y.forEach((y, k) => { byX.get(x)[column + k] = y[i]; });
      });
      column += c.y.length;
    }
    return [...byX.entries()].sort((a, b) => a[0] - b[0]).map(([x, v]) => [x, ...v]);
  }
  function marks(spans, lines) {
    return (ctx, area, g) => {
      for (const [a, b, color] of spans) {
        const left = g.toDomXCoord(a), right = g.toDomXCoord(b);
        ctx.fillStyle = color;
        ctx.fillRect(left, area.y, right - left, area.h);
      }
      for (const [x, color] of lines) {
        const px = g.toDomXCoord(x);
        ctx.strokeStyle = color;
        ctx.setLineDash([5, 4]);
        ctx.beginPath(); ctx.moveTo(px, area.y); ctx.lineTo(px, area.y + area.h); ctx.stroke();
        ctx.setLineDash([]);
      }
    };
  }
  // Tick labels: as many decimals as show every tick's value exactly (so no two read the
  // same), plain where the values are of a size to read that way, else with an exponent
  // ("2.5e-5"), short enough to stay clear of the axis title.
  function tickLabels(values) {
    const big = Math.max(0, ...values.map(Math.abs));
    const exact = (f) => values.every((v) => Math.abs(Number(f(v)) - v) <= 1e-9 * (big || 1));
    if (big === 0 || (big >= 1e-3 && big < 1e5))
      for (let k = 0; k <= 12; ++k) if (exact((v) => v.toFixed(k))) return values.map((v) => v.toFixed(k));
    for (let k = 0; k <= 12; ++k)
      if (exact((v) => v.toExponential(k))) return values.map((v) => (v === 0 ? "0" : v.toExponential(k).replace("e+", "e")));
    return values.map(String);
  }
  function ticker(min, max, pixels, opts, g, vals) {
    const ticks = Dygraph.numericTicks(min, max, pixels, opts, g, vals).filter((t) => typeof t.v === "number");
    const labels = tickLabels(ticks.map((t) => t.v));
    return ticks.map((t, i) => ({ v: t.v, label: labels[i] }));
  }
  function drawChart(name, parent, title, note, table, labels, options) {
    const box = el("div", { class: "chart-box" }, el("h3", {}, title));
    if (note) box.append(el("p", { class: "note" }, note));
    const legend = el("div", { class: "legend-line" });
    const div = el("div", { class: "chart", id: "chart-" + name });
    box.append(div, legend);
    parent.append(box);
    // Aggressors by their short names; curve names must differ (one file may be an
    // aggressor twice): a repeat gets " #2", " #3".
    labels = labels.map((l) => { const m = /^(.*) \((NEXT|FEXT)\)$/.exec(l); return m ? `${shortName(m[1])} (${m[2]})` : l; });
    const seen = new Map();
    labels = labels.map((l) => (seen.set(l, (seen.get(l) || 0) + 1), seen.get(l) > 1 ? `${l} #${seen.get(l)}` : l));
    try {
      const axes = Object.assign({ x: {}, y: {}, y2: {} }, options.axes);
      for (const a of ["x", "y", "y2"]) axes[a] = Object.assign({ ticker: ticker }, a === "x" ? {} : { axisLabelWidth: 72 }, axes[a]);
      window.brevoCharts[name] = new Dygraph(div, table, Object.assign({
        labels: labels, labelsDiv: legend, legend: "always", labelsSeparateLines: false, strokeWidth: 1.6, axisLabelFontSize: 12,
        connectSeparatedPoints: true, highlightCircleSize: 3, colors: ["#1f5fbf", "#d0641a", "#2a9d3a", "#a8329b", "#6a6a6a", "#b8a01c"],
      }, options, { axes: axes }));
    } catch (e) {
      console.error(`chart ${name}: ${e}`);
    }
  }
  const charts = section("Charts", "charts");
  charts.append(el("p", { class: "note" }, "Drag to zoom, double-click to zoom out, hover for values. Long curves keep, in each of 1000 runs of samples, " +
    "their smallest and largest samples, so every peak and notch stays; the period waveforms keep every sample around the DFE span."));
  const ui = `UI at ${rateText}`;
  if (facts.pulse) {
    drawChart("pulse", charts, "Pulse, dibit and fitted pulse",
      `Response to a unit pulse against time in ${ui}; the dashed line is the fitted channel delay (${num(facts.delay_UI)} UI).` +
      (fig.flipped ? " FLIPPED: the channel inverts the signal." : ""),
      rowsOf(facts.pulse), ["time (UI)", ...facts.pulse.names],
      { xlabel: `time (${ui})`, ylabel: "response to a unit pulse (V/V)", underlayCallback: marks([], [[facts.delay_UI, "#888"]]),
        series: { "fitted pulse": { strokePattern: Dygraph.DASHED_LINE } } });
  }
  if (facts.loss) {
    // The ILD axis spans the ILD in the band that counts (below the receiver bandwidth),
    // so out-of-band notches do not flatten the in-band ripple.
    const [lo, hi] = facts.ild_band_GHz || [-Infinity, Infinity];
    const ild = facts.loss.y[2].filter((v, i) => v !== null && facts.loss.x[i] >= lo && facts.loss.x[i] <= hi);
    const options = { xlabel: "frequency (GHz)", ylabel: "gain (dB)", y2label: "ILD (dB)",
      series: { "fit": { strokePattern: Dygraph.DASHED_LINE }, "ILD": { axis: "y2" } }, axes: { y2: { independentTicks: true } },
      underlayCallback: marks(facts.fit_band_GHz ? [[...facts.fit_band_GHz, "rgba(80,140,230,0.10)"]] : [],
        [[facts.nyquist_GHz, "#c03030"]]) };
    if (ild.length) {
      const a = Math.min(...ild), b = Math.max(...ild), pad = 0.1 * (b - a || 1);
      options.axes.y2.valueRange = [a - pad, b + pad];
    }
    drawChart("loss", charts, "Insertion loss, fit and ILD",
      `Thru and its fit on the uniform grid; ILD (right axis) is their difference in dB, its axis scaled to the band below ` +
      `${num(hi)} GHz. Shaded: the fitted band (${facts.fit_band_GHz ? facts.fit_band_GHz.map(num).join(" to ") : "\u2014"} GHz); ` +
      `red dashed: Nyquist, ${num(facts.nyquist_GHz)} GHz.`,
      rowsOf(facts.loss), ["frequency (GHz)", ...facts.loss.names], options);
  }
  if (facts.period) {
    const [a, b] = facts.dfe_UI;
    drawChart("period", charts, "Period waveforms and the DFE span",
      `Pulse, fitted pulse and ILD pulse (right axis) over one period, time in ${ui}. Shaded: the DFE span, ` +
      `N_DFE = ${num(facts.ndfe)} UI from the dibit peak at ${num(a)} UI.`,
      rowsOf(facts.period), ["time (UI)", ...facts.period.names],
      { xlabel: `time (${ui})`, ylabel: "response to a unit pulse (V/V)", y2label: "ILD pulse (V/V)", dateWindow: [a - 10, b + 40],
        series: { "fitted pulse": { strokePattern: Dygraph.DASHED_LINE }, "ILD pulse": { axis: "y2" } },
        axes: { y2: { independentTicks: true } }, underlayCallback: marks([[a, b, "rgba(80,140,230,0.18)"]], []) });
  }
  if ((facts.crosstalk || []).length > 1) {
    const labels = ["frequency (GHz)", ...facts.crosstalk.flatMap((c) => c.names)];
    drawChart("crosstalk", charts, "Crosstalk transfers beside the thru",
      `Each aggressor's transfer to the victim's receiver and the thru's Sdd21, in dB on their files' own points; red dashed: Nyquist.`,
      merged(facts.crosstalk), labels,
      { xlabel: "frequency (GHz)", ylabel: "gain (dB)", underlayCallback: marks([], [[facts.nyquist_GHz, "#c03030"]]),
        series: { "thru Sdd21": { strokeWidth: 2.4 } } });
  }

  // COM: per package case its figures and equaliser, its noise terms stacked, its pulses,
  // the equaliser's responses and the statistical eye (bathtub and contour at DER0).
  function comSection(com) {
    const s = section("Channel Operating Margin (COM)", "com");
    const limit = value(com.pass_threshold);
    s.append(el("p", {}, `Preset ${com.preset}` + (com.convention ? `, ${com.convention} convention` : "") +
      (com.search ? `, ${com.search} search` : "") + ". " + (com.available
        ? `COM ${num(value(com.COM))} dB, the worst package case, against the pass threshold of ${num(limit)} dB: ${com.verdict}.`
        : `COM could not be computed: ${com.reason}.`)));
    for (const problem of com.problems || []) s.append(el("p", { class: "note" }, "problem: " + problem));
    if (!com.available) return;
    const der = com.cases.length ? com.cases[0].bathtub.DER0 : null;
    com.cases.forEach((c, k) => {
      const n = k + 1, failed = !(value(c.COM) >= limit);
      const box = el("div", { class: "com-case " + (failed ? "fail" : "pass"), id: `com-case-${n}`, "data-case": n });
      s.append(box);
      const pkg = (c.package_mm.tx || []).join(" + ");
      box.append(el("h3", {}, `Package case ${n} (Tx package ${pkg} mm): COM ${num(value(c.COM))} dB `,
        el("span", { class: "verdict" }, failed ? "fail" : "pass")));
      const t = el("table", { class: "com-figures" });
      const row = (label, v, unit, meaning) => t.append(el("tr", {}, el("td", {}, label), el("td", { class: "value" }, v), el("td", {}, unit), el("td", {}, meaning)));
      for (const f of comFigureTable) row(f.label, num(value(c[f.key])), f.unit, f.meaning.replace("{DER0}", num(der)));
      const pre = c.tx_cursor, post = c.tx_taps.length - 1 - c.tx_cursor;
      const eq = el("table", { class: "com-equaliser" });
      eq.append(el("tr", {}, el("td", {}, `Tx FFE c(${-pre}..${post})`), el("td", { class: "taps" }, c.tx_taps.map(num).join(" "))));
      eq.append(el("tr", {}, el("td", {}, "CTLE"), el("td", { class: "taps" },
        `gDC ${num(value(c.gDC))} dB` + (c.gDC2 ? `, gDC2 ${num(value(c.gDC2))} dB` : ""))));
      eq.append(el("tr", {}, el("td", {}, `DFE b(1..${c.dfe_taps.length})`), el("td", { class: "taps" }, c.dfe_taps.map((v) => num(Number(v.toFixed(4)))).join(" ") || "none")));
      box.append(el("div", { class: "scroll" }, t), el("h4", {}, "Chosen equaliser"), el("div", { class: "scroll" }, eq));
      // The noise terms as powers, stacked against the power they could reach, all scaled
      // alike (Ani scales with them), before COM falls to the threshold.
      const As = value(c.As);
      const powers = [["Tx noise", value(c.sigma_TX)], ["residual ISI", value(c.sigma_ISI)], ["dual-Dirac jitter", value(c.sigma_DD)],
        ["random jitter", value(c.sigma_RJ)], ["crosstalk", value(c.sigma_XT)], ["thermal noise", value(c.sigma_N)]]
        .map(([name, v]) => [name, typeof v === "number" ? v * v : 0]);
      const total = powers.reduce((a, p) => a + p[1], 0);
      const allowed = As > 0 ? total * Math.pow(10, (value(c.COM) - limit) / 10) : 0;
      box.append(el("h4", {}, "Noise budget"), el("p", { class: "note" }, `Noise powers in mV\u00b2 (the spreads of their distributions), ` +
        `stacked, against the power they could reach, all grown alike, before COM falls to the ${num(limit)} dB threshold: ` +
        `total \u00d7 10^((COM \u2212 ${num(limit)})/10) = ${num(allowed)} mV\u00b2. Total ${num(total)} mV\u00b2.`));
      box.append(...budgetPicture(`com-budget-${n}`, powers, allowed, "allowed at the threshold",
        total <= allowed ? `left over: ${num(allowed - total)} mV\u00b2` : `short by ${num(total - allowed)} mV\u00b2`));
      // Pulses on the time axis of the sampling point.
      const P = c.pulse, M = P.samples_per_ui;
      const at = (k) => P.first_ui + k / M;
      const spans = P.dfe_span ? [[at(P.dfe_span[0]) - 0.5, at(P.dfe_span[1]) + 0.5, "rgba(80,140,230,0.18)"]] : [];
      drawChart(`com-pulse-${n}`, box, "Victim pulse, unequalised and equalised",
        `The pulse through the package and receiver filter, and with the chosen Tx FFE and CTLE, in mV against UI from the sampling point ` +
        `(dashed). Shaded: the DFE span, ${c.dfe_taps.length} taps.`,
        P.equalised_mV.map((v, k) => [at(k), P.unequalised_mV[k], v]), ["time (UI)", "unequalised", "equalised"],
        { xlabel: "time from the sampling point (UI)", ylabel: "pulse (mV)", underlayCallback: marks(spans, [[0, "#c03030"]]) });
      const R = c.responses;
      const names = ["Tx FFE", "CTLE"].concat(R.rx_ffe_dB ? ["Rx FFE"] : []);
      drawChart(`com-responses-${n}`, box, "Equaliser responses",
        `Magnitude of the chosen Tx FFE and CTLE` + (R.rx_ffe_dB ? " and Rx FFE" : "") + ` from DC to the symbol rate; red dashed: Nyquist.`,
        R.f_GHz.map((f, k) => [f, R.tx_ffe_dB[k], R.ctle_dB[k], ...(R.rx_ffe_dB ? [R.rx_ffe_dB[k]] : [])]), ["frequency (GHz)", ...names],
        { xlabel: "frequency (GHz)", ylabel: "gain (dB)", underlayCallback: marks([], [[R.f_GHz[R.f_GHz.length - 1] / 2, "#c03030"]]) });
      // The bathtub on a log axis, DER0 and Ani marked.
      const B = c.bathtub;
      const tub = B.amplitude_mV.map((a, k) => [a, B.probability[k]]).filter((r) => r[1] > 0);
      drawChart(`com-bathtub-${n}`, box, "Bathtub at the sampling point",
        `The probability that interference and noise close the eye by more than each amplitude; it falls through DER ${num(B.DER0)} ` +
        `(dashed) at Ani = ${num(value(c.Ani))} mV (red), As = ${num(As)} mV.`,
        tub, ["amplitude (mV)", "probability"],
        { xlabel: "amplitude (mV)", ylabel: "probability (log scale)", axes: { y: { logscale: true, ticker: decades } },
          underlayCallback: (ctx, area, g) => {
            marks([], [[value(c.Ani), "#c03030"]])(ctx, area, g);
            const y = g.toDomYCoord(B.DER0);
            ctx.strokeStyle = "#555";
            ctx.setLineDash([5, 4]);
            ctx.beginPath(); ctx.moveTo(area.x, y); ctx.lineTo(area.x + area.w, y); ctx.stroke();
            ctx.setLineDash([]);
          } });
      const E = c.eye_contour;
      drawChart(`com-eye-${n}`, box, `Eye contour at DER ${num(E.DER0)}`,
        `The inner eye edges above and below the decision threshold at DER ${num(E.DER0)} across the sampling phases; ` +
        `phase 0 (dashed) is the sampling point, where the upper edge is As \u2212 Ani = ${num(As - value(c.Ani))} mV.`,
        E.phase_ui.map((x, k) => [x, E.upper_mV[k], E.lower_mV[k]]), ["phase (UI)", "upper edge", "lower edge"],
        { xlabel: "sampling phase (UI)", ylabel: "eye edge (mV)", underlayCallback: marks([], [[0, "#c03030"]]) });
    });
  }
  // Ticks of a log axis: powers of ten, every one or every few, as many as fit.
  function decades(min, max, pixels) {
    const a = Math.ceil(Math.log10(min)), b = Math.floor(Math.log10(max));
    const step = Math.max(1, Math.ceil((b - a + 1) / Math.max(2, Math.floor(pixels / 28))));
    const values = [];
    for (let e = b; e >= a; e -= step) values.unshift(Math.pow(10, e));
    const labels = values.map((v) => { const e = Math.round(Math.log10(v)); return e === 0 ? "1" : `1e${e}`; });
    return values.map((v, i) => ({ v: v, label: labels[i] }));
  }

  // The settings as applied, with where each was set.
  const settings = section("Settings", "settings");
  const st = el("table", { class: "settings" });
  st.append(el("tr", {}, el("th", {}, "keyword"), el("th", {}, "value"), el("th", {}, "set by")));
  // Values as the record holds them: numbers with every digit (25781250000), ports in
  // hexadecimal as they are written (13, not 19), and every channel line of the run, used
  // or skipped, where the record's keyword holds only the last one given.
  const lines = { Thru: [], NEXT: [], FEXT: [] };
  if (rec.thru) lines.Thru.push(rec.thru);
  for (const a of [...(rec.aggressors || []), ...(rec.skipped || [])]) (lines[a.kind] || []).push(a);
  function shown(name, k) {
    if ((lines[name] || []).length)
      return el("div", {}, ...lines[name].map((c) => el("div", { class: "line" }, c.file, c.ports ? " " + portText(c.ports) : "")));
    if (k.type === "hexadecimal" && typeof k.value === "number") return k.value.toString(16);
    return String(k.value);
  }
  for (const [name, k] of Object.entries(rec.keywords || {})) {
    const o = k.origin;
    const where = o.source === "default" ? "default" : o.source === "command line" ? `command line, argument ${o.line}` : `${o.source}, line ${o.line}`;
    st.append(el("tr", { class: o.source === "default" ? "default" : "given", "data-keyword": name }, el("td", {}, name),
      el("td", { class: "setting" }, shown(name, k)), el("td", { class: "origin" }, where)));
  }
  settings.append(el("p", {}, "Arguments: ", el("code", {}, (rec.arguments || []).join(" "))), el("div", { class: "scroll" }, st));
  window.brevoPageReady = true;
})();
