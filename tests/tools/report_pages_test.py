#!/usr/bin/python3
"""brevo-report's pages on the example lane as headless Chromium builds them (DevTools
protocol on fds 3 and 4): every chart drawn with data, no console error, the figures those
of run.json, the pulse peak where the side file .wv1 puts it in UI at the run's rate (25.78125
and 53.125 GBd); the folder's files Brevo's own; brevo-report's own failures status 2.
Every page is looked at as a phone (400 px, mobile) and a desktop (1400 px) show it: the
headline first; no value, label or picture outside its panel, no panel over another, no
sideways scrolling; aggressors by base name with the path on hover; axis ticks that differ,
clear of the axis titles, every title with its unit; the settings as the record holds them.
usage: report_pages_test.py BREVO_REPORT BREVO EXAMPLES_DIR [CHANNELS_DIR]
"""
import json, os, select, shutil, signal, subprocess, sys, tempfile

RATE_25, RATE_53 = 25.78125e9, 53.125e9
# name, Brevo arguments, exit status, rate, the charts the page must draw
CASES = [
    ("nrz", ["nrz.cf", "save_file=nrz"], 0, RATE_25, {"pulse", "loss", "period", "crosstalk"}),
    ("pam4_53G", ["pam4.cf", "baud_rate=53.125G", "N_DFE=12", "save_file=pam4"], 0, RATE_53, {"pulse", "loss", "period", "crosstalk"}),
    ("flipped", ["link.cf", 'Thru="lane_thru.s4p 3 1 2 4"', 'NEXT="lane_next1.s4p 1 3 2 4"', "save_file=flipped"], 0, RATE_25, {"pulse", "loss", "period", "crosstalk"}),
    ("no_thru", ["Thru=no_such_thru.s4p"], 1, RATE_25, set()),
    ("short_thru_line", ['Thru="lane_thru.s4p 1 3 2"'], 10, RATE_25, set()),
]
# A real lane read in place: long file names, two NEXT and two FEXT aggressors given by
# absolute paths, one more NEXT that cannot be opened; its ports as hex digits (13 is 0x13).
REAL = "bp_whisper27in/TEC_Whisper27in_"
REAL_CASE = ("real", [f'Thru="{REAL}THRU_G14G15_07202016.s4p 1 3 2 4"'] +
             [f"{kind}={REAL}{kind}_{pair}_to_G14G15_07212016.s4p" for kind in ("NEXT", "FEXT") for pair in ("F14F15", "H14H15")] +
             ["NEXT=no_such_next.s4p", "input_ports=13", "baud_rate=25.78125G", "N_DFE=12", "save_file=real"],
             0, RATE_25, {"pulse", "loss", "period", "crosstalk"})
# COM on the calibration set read in place (kr4), its threshold raised so that the second
# package case fails: the COM section, its headline, the fail marking, every COM chart.
COM_SET = "com/example2_"
COM_CHARTS = {"com-%s-%d" % (chart, n) for chart in ("pulse", "responses", "bathtub", "eye") for n in (1, 2)}
COM_CASE = ("com_kr4", [f"Thru={COM_SET}THRU.s4p", f"FEXT={COM_SET}FEXT1.s4p", f"FEXT={COM_SET}FEXT2.s4p",
                        f"NEXT={COM_SET}NEXT1.s4p", f"NEXT={COM_SET}NEXT2.s4p", f"NEXT={COM_SET}NEXT3.s4p",
                        "com=kr4", "com_pass_threshold=4", "save_file=com"],
            0, RATE_25, {"pulse", "loss", "period", "crosstalk"} | COM_CHARTS)
# Why each failed case failed, as the page must say it.
REASONS = {"no_thru": "cannot open no_such_thru.s4p", "short_thru_line": "problem with thru channel:  lane_thru.s4p"}
WIDTHS = [(400, True), (1400, False)]   # CSS pixels, and whether the browser acts as a phone
# brevo-report's own failures: OUTDIR, Brevo arguments, BREVO_DYGRAPHS_DIR
OWN_FAILURES = [
    ("OUTDIR under a file", ["nrz.cf/out", "nrz.cf"], None),
    ("no charting code", ["out_nocharts", "nrz.cf"], "/nonexistent"),
    ("no Brevo arguments", ["out_noargs"], None),
]
DEADLINE = 60   # seconds for any one answer of the browser

# What the page shows of itself: its charts (rows, series, canvas size, painted pixels),
# the figure rows of its table, the pulse chart's peak and the drawn SVG shapes.
PROBE = r"""(() => {
  const charts = {};
  for (const [name, g] of Object.entries(window.brevoCharts || {})) {
    let painted = 0, w = 0, h = 0;
    for (const c of g.graphDiv.querySelectorAll("canvas")) {
      w = Math.max(w, c.width), h = Math.max(h, c.height);
      const px = c.getContext("2d").getImageData(0, 0, c.width, c.height).data;
      for (let i = 3; i < px.length; i += 4) painted += px[i] > 0;
    }
    charts[name] = {rows: g.numRows(), columns: g.numColumns(), w, h, painted};
  }
  let peak = null, best = -1;
  const p = (window.brevoCharts || {}).pulse;
  for (let r = 0; p && r < p.numRows(); ++r)
    if (Math.abs(p.getValue(r, 1)) > best) best = Math.abs(p.getValue(r, 1)), peak = p.getValue(r, 0);
  const figures = [...document.querySelectorAll("#figures-table tr[data-key], #figures-table tr[data-aggressor]")].map(
    (tr) => [tr.dataset.key || null, tr.dataset.aggressor || null, tr.cells[1].textContent, tr.cells[2].textContent]);
  const comFigure = document.querySelector("#headline .figure[data-key=COM] .number");
  const com = {section: !!document.getElementById("com"), headline: comFigure && comFigure.textContent,
    first: (document.querySelector("#headline .figure") || {dataset: {}}).dataset.key || null,
    cases: document.querySelectorAll("#com .com-case").length,
    failed: [...document.querySelectorAll("#com .com-case.fail")].map((e) => Number(e.dataset.case)),
    budgets: document.querySelectorAll("#com svg.budget").length,
    logscale: Object.entries(window.brevoCharts || {}).filter(([n]) => n.startsWith("com-bathtub")).map(([, g]) => g.getOptionForAxis("logscale", "y"))};
  return JSON.stringify({ready: window.brevoPageReady === true, charts, peak, figures, com,
    shapes: document.querySelectorAll("svg rect").length, alerts: !!document.getElementById("alerts")});
})()"""

# How the page lies out at the browser's width: problems found, and what is shown where.
LAYOUT = r"""(() => {
  const problems = [], box = (e) => e.getBoundingClientRect();
  const inside = (a, b) => a.left >= b.left - 1 && a.right <= b.right + 1 && a.top >= b.top - 1 && a.bottom <= b.bottom + 1;
  const meet = (a, b) => a.left < b.right - 1 && b.left < a.right - 1 && a.top < b.bottom - 1 && b.top < a.bottom - 1;
  const text = (e) => { const r = document.createRange(); r.selectNodeContents(e); return r.getBoundingClientRect(); };
  const name = (e) => e.tagName + (e.id ? "#" + e.id : "") + " '" + e.textContent.slice(0, 40) + "'";
  if (document.documentElement.scrollWidth > innerWidth + 1)
    problems.push(`the page is ${document.documentElement.scrollWidth} px wide in a window of ${innerWidth}`);
  for (const s of document.querySelectorAll(".scroll"))
    if (s.scrollWidth > s.clientWidth + 1) problems.push(`${name(s.firstChild)} needs sideways scrolling: ${s.scrollWidth} in ${s.clientWidth}`);
  // Every value inside its own panel, every panel clear of its neighbours.
  for (const e of document.querySelectorAll("td, th, .headline .number, svg text, .header dd")) {
    const panel = e.closest("svg, .scroll, .headline, section, .header, .alerts");
    if (panel && box(e).width > 0 && !inside(box(e), box(panel))) problems.push(`${name(e)} reaches out of ${name(panel)}`);
  }
  const panels = [...document.querySelectorAll("main > *, .overview > *, .side > section, section > .chart-box, section > svg, section > .scroll")];
  for (let i = 0; i < panels.length; ++i)
    for (let j = i + 1; j < panels.length; ++j)
      if (!panels[i].contains(panels[j]) && !panels[j].contains(panels[i]) && meet(box(panels[i]), box(panels[j])))
        problems.push(`${name(panels[i])} lies over ${name(panels[j])}`);
  // Axes: ticks that differ and stay clear of each other and of the axis title; a unit in every title.
  for (const [chart, g] of Object.entries(window.brevoCharts || {})) {
    for (const [axis, title] of [["x", "xlabel"], ["y1", "ylabel"], ["y2", "y2label"]]) {
      const ticks = [...g.graphDiv.querySelectorAll(".dygraph-axis-label-" + axis)];
      const label = g.graphDiv.querySelector(".dygraph-" + title);
      if (!ticks.length) continue;
      const texts = ticks.map((t) => t.textContent);
      if (new Set(texts).size !== texts.length) problems.push(`${chart} ${axis} ticks repeat: ${texts}`);
      if (!label || !/\(.+\)/.test(label.textContent)) problems.push(`${chart} ${axis} axis title without a unit: ${label && label.textContent}`);
      for (const t of ticks) {
        if (label && meet(text(t), text(label))) problems.push(`${chart} ${axis} tick ${t.textContent} over the title`);
        for (const u of ticks) if (t !== u && meet(text(t), text(u))) problems.push(`${chart} ${axis} ticks ${t.textContent} and ${u.textContent} meet`);
      }
    }
  }
  const order = [...document.querySelectorAll("main > *")].map((e) => e.id || e.className || e.tagName);
  const headline = Object.fromEntries([...document.querySelectorAll("#headline .figure")].map((f) => [f.dataset.key, f.querySelector(".number").textContent]));
  const aggressors = [...document.querySelectorAll("#figures-table tr[data-aggressor] .file")].map((e) => [e.textContent, e.title]);
  const settings = Object.fromEntries([...document.querySelectorAll("table.settings tr[data-keyword]")].map(
    (tr) => [tr.dataset.keyword, [...tr.cells[1].querySelectorAll(".line")].map((l) => l.textContent).concat(tr.cells[1].querySelector(".line") ? [] : [tr.cells[1].textContent])]));
  const alerts = (document.getElementById("alerts") || {}).textContent || "";
  return JSON.stringify({problems: [...new Set(problems)].slice(0, 12), order, headline, aggressors, settings, alerts,
                         height: document.documentElement.scrollHeight});
})()"""


class Browser:
    """Headless Chromium on a DevTools pipe; always killed by close()."""

    def __init__(self, profile):
        to_browser, self.commands = os.pipe()
        self.answers, from_browser = os.pipe()

        def pipes():   # the browser reads commands on fd 3 and writes answers on fd 4
            a, b = os.dup(to_browser), os.dup(from_browser)   # neither may sit on 3 or 4 already
            os.dup2(a, 3), os.dup2(b, 4)
            os.setsid()   # the browser and its helpers in one group, stopped together

        self.proc = subprocess.Popen(
            ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--remote-debugging-pipe", "--no-first-run",
             "--user-data-dir=" + profile, "--window-size=1200,2000", "about:blank"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=pipes, close_fds=False)
        os.close(to_browser), os.close(from_browser)
        self.buffer, self.next_id, self.events = b"", 0, []

    def close(self):
        # The whole group: a helper process left running still writes into the profile
        # folder while it is removed.
        os.killpg(self.proc.pid, signal.SIGKILL)
        self.proc.wait(timeout=DEADLINE)
        os.close(self.commands), os.close(self.answers)

    def _message(self):
        while b"\0" not in self.buffer:
            ready, _, _ = select.select([self.answers], [], [], DEADLINE)
            chunk = os.read(self.answers, 1 << 20) if ready else b""
            if not chunk:
                raise RuntimeError("the browser did not answer within %d s" % DEADLINE)
            self.buffer += chunk
        text, self.buffer = self.buffer.split(b"\0", 1)
        return json.loads(text)

    def call(self, method, session=None, **params):
        self.next_id += 1
        message = dict({"id": self.next_id, "method": method, "params": params}, **({"sessionId": session} if session else {}))
        os.write(self.commands, json.dumps(message).encode() + b"\0")
        while True:
            m = self._message()
            if m.get("id") == self.next_id:
                if "error" in m:
                    raise RuntimeError("%s: %s" % (method, m["error"]))
                return m["result"]
            self.events.append(m)

    def new_page(self):
        """A blank tab's session, its page, script and log events on."""
        target = self.call("Target.createTarget", url="about:blank")["targetId"]
        session = self.call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
        for domain in ("Page", "Runtime", "Log"):
            self.call(domain + ".enable", session)
        return session

    def wait_for(self, method):
        while True:
            for k, m in enumerate(self.events):
                if m.get("method") == method:
                    return self.events.pop(k)
            self.events.append(self._message())


def console_errors(events):
    """Exceptions thrown, console.error and console.assert calls, and the browser's own error lines."""
    said = [m["params"]["exceptionDetails"] for m in events if m.get("method") == "Runtime.exceptionThrown"]
    said += [m["params"]["args"] for m in events if m.get("method") == "Runtime.consoleAPICalled" and m["params"]["type"] in ("error", "assert")]
    return said + [m["params"]["entry"]["text"] for m in events if m.get("method") == "Log.entryAdded" and m["params"]["entry"]["level"] == "error"]


def wv1_peak_time(path):
    """The time of the largest |pulse| sample of a .wv1 side file, seconds."""
    rows = [list(map(float, l.split())) for l in open(path) if l.strip() and not l.startswith("names")]
    return max(rows, key=lambda r: abs(r[1]))[0]


def same_as_brevo(brevo, work, out, args, record, check):
    """Brevo's streams and side files for the same run, byte for byte, and its record but for its summary argument."""
    own = subprocess.run([brevo] + args + ["summary=brevo.json"], cwd=work, capture_output=True, timeout=DEADLINE)
    kept = {"run.report": own.stdout, "run.log": own.stderr.replace(b"%d  summary=brevo.json\n" % (len(args) + 1), b"")}
    for suffix in ("wv1", "fd", "wv2"):
        kept["run." + suffix] = open(os.path.join(work, "nrz." + suffix), "rb").read()
    for file, text in kept.items():
        check(open(os.path.join(out, file), "rb").read() == text, "%s is not what Brevo writes" % file)
    theirs = json.load(open(os.path.join(work, "brevo.json")))
    theirs["arguments"].pop()
    theirs["keywords"]["summary"].update(value="", origin={"source": "default"})
    check(record == theirs, "run.json is not Brevo's record of the run")


def figures_shown(seen, record, check):
    """Each figure shown is run.json's, to the six digits shown, in the unit shown."""
    aggressors = {a["file"]: a["icn"]["value"] for a in record["aggressors"]}
    for key, aggressor, text, unit in seen["figures"]:
        want = aggressors[aggressor] if aggressor else record["figures"][key]
        want = want["value"] if isinstance(want, dict) else want
        if key == "flipped":
            ok = text == {True: "yes", False: "no", None: "\u2014"}[want]
        elif want is None or isinstance(want, str):
            ok = text == (want or "\u2014")
        else:
            ok = abs(float(text) * {"GHz": 1e9, "GBd": 1e9}.get(unit, 1) - want) <= 5e-6 * abs(want)
        check(ok, "figure %s shows %s %s, the record holds %r" % (key or aggressor, text, unit, want))
    wanted = len(record["figures"]) - (record["figures"]["low_frequency_ild"] is None) + len(aggressors)
    check(len(seen["figures"]) == wanted, "%d figures shown of %d" % (len(seen["figures"]), wanted))


def com_shown(seen, com, check):
    """The COM section only with COM: the worst case's margin and verdict first in the headline,
    each case's box, failing ones marked, a noise budget each, the bathtubs on a log axis."""
    check(seen["section"] == (com is not None) and (seen["headline"] is None) == (com is None), "COM shown: %s" % seen)
    if com is None:
        return
    number, unit, verdict = seen["headline"].split()
    check(seen["first"] == "COM" and unit == "dB" and verdict == com["verdict"] and
          abs(float(number) - com["COM"]["value"]) <= 5e-6 * abs(com["COM"]["value"]), "COM headline %r, first %s" % (seen["headline"], seen["first"]))
    limit = com["pass_threshold"]["value"]
    failing = [k + 1 for k, c in enumerate(com["cases"]) if c["COM"]["value"] < limit]
    check(seen["failed"] == failing and failing, "failing cases marked %s, the record's %s" % (seen["failed"], failing))
    check(seen["cases"] == seen["budgets"] == len(com["cases"]), "%d cases shown, %d budgets" % (seen["cases"], seen["budgets"]))
    check(seen["logscale"] == [True] * len(com["cases"]), "bathtub axes: %s" % seen["logscale"])


def page_laid_out(layout, record, reason, check):
    """The layout probe's findings against the record."""
    for problem in layout["problems"]:
        check(False, problem)
    # The headline right under the title, and the record's figures in it.
    check(layout["order"][:2] == ["H1", "headline"], "the page starts with %s" % layout["order"][:3])
    for key, text in layout["headline"].items():
        if key == "COM":   # looked at with the COM section
            continue
        f = record["figures"][key]
        want = f["value"] if f else None
        ok = text == "\u2014" if want is None else text == want if isinstance(want, str) else \
            abs(float(text.split()[0]) - want) <= 5e-6 * abs(want)
        check(ok, "headline %s shows %r, the record holds %r" % (key, text, want))
    # Aggressors by base name, the full path on hover.
    files = [a["file"] for a in record["aggressors"]]
    check(layout["aggressors"] == [[os.path.basename(f), f] for f in files], "aggressors named %s" % layout["aggressors"])
    # A failed run says why, in the log's words.
    check(not reason or reason in layout["alerts"], "the failure is not told: %r" % layout["alerts"][:300])
    # Settings as the record holds them: every digit, ports in hex as written, every channel line.
    lines = {"Thru": [record["thru"]] if record["thru"] else [], "NEXT": [], "FEXT": []}
    for a in record["aggressors"] + record["skipped"]:
        lines[a["kind"]].append(a)
    for keyword, k in record["keywords"].items():
        shown = layout["settings"].get(keyword)
        if lines.get(keyword):
            want = [" ".join([c["file"]] + [str((c["ports"] or {})[p]) for p in ("inP", "inM", "outP", "outM") if c["ports"]])
                    for c in lines[keyword]]
            check(sorted(shown or []) == sorted(want), "%s shows %s, the run's lines are %s" % (keyword, shown, want))
        elif k["type"] == "hexadecimal":
            check(shown == ["%x" % k["value"]], "%s shows %s for %d" % (keyword, shown, k["value"]))
        elif isinstance(k["value"], (int, float)) and not isinstance(k["value"], bool):
            check(shown is not None and len(shown) == 1 and float(shown[0]) == k["value"], "%s shows %s, the record holds %r" % (keyword, shown, k["value"]))
        else:
            check(shown == [str(k["value"])], "%s shows %s, the record holds %r" % (keyword, shown, k["value"]))


def main():
    report, brevo, examples = (os.path.abspath(a) for a in sys.argv[1:4])
    channels = os.path.abspath(sys.argv[4]) if len(sys.argv) > 4 else ""
    cases = list(CASES)
    if os.path.isfile(os.path.join(channels, REAL + "THRU_G14G15_07202016.s4p")):
        name, args, status, rate, charts = REAL_CASE
        cases.append((name, [a.replace(REAL, os.path.join(channels, REAL)) for a in args], status, rate, charts))
    else:
        print("SKIPPED the real lane: no %s under %r (BREVO_CHANNELS_DIR)" % (REAL, channels))
    if os.path.isfile(os.path.join(channels, COM_SET + "THRU.s4p")):
        name, args, status, rate, charts = COM_CASE
        cases.append((name, [a.replace(COM_SET, os.path.join(channels, COM_SET)) for a in args], status, rate, charts))
    else:
        print("SKIPPED COM: no calibration set %s under %r (BREVO_CHANNELS_DIR)" % (COM_SET, channels))
    if not shutil.which("chromium"):
        if os.geteuid() != 0:
            print("SKIPPED: chromium is not installed (scripts/ensure-packages.sh installs it)")
            return 77
        print("FAIL: chromium is not installed, though scripts/ensure-packages.sh installs it")
        return 1
    failures, peaks = [], {}
    with tempfile.TemporaryDirectory(prefix="brevo_report_") as work:
        for name in os.listdir(examples):
            os.symlink(os.path.join(examples, name), os.path.join(work, name))
        browser = Browser(os.path.join(work, "profile"))
        try:
            session = browser.new_page()
            for name, args, status, rate, expected in cases:
                check = lambda ok, what: ok or failures.append(name + ": " + what)
                out = os.path.join(work, "out_" + name)
                run = subprocess.run([report, out] + args, cwd=work, capture_output=True, timeout=DEADLINE)
                check(run.returncode == status and run.stdout == b"", "status %d, stdout %r, stderr %r" % (run.returncode, run.stdout[:200], run.stderr[:500]))
                record = json.load(open(os.path.join(out, "run.json")))
                if name == "nrz":
                    size = os.path.getsize(os.path.join(out, "report.html"))
                    check(size < 1 << 20, "the page has %d bytes, 1 MB at most" % size)
                    same_as_brevo(brevo, work, out, args, record, check)
                for width, mobile in WIDTHS:
                    browser.call("Emulation.setDeviceMetricsOverride", session, width=width, height=900, deviceScaleFactor=1, mobile=mobile)
                    browser.events.clear()
                    browser.call("Page.navigate", session, url="file://" + os.path.join(out, "report.html"))
                    browser.wait_for("Page.loadEventFired")
                    layout = json.loads(browser.call("Runtime.evaluate", session, expression=LAYOUT, returnByValue=True)["result"]["value"])
                    page_laid_out(layout, record, name in REASONS and REASONS[name], lambda ok, what: check(ok, "%d px: %s" % (width, what)))
                browser.call("Emulation.clearDeviceMetricsOverride", session)
                browser.events.clear()
                browser.call("Page.navigate", session, url="file://" + os.path.join(out, "report.html"))
                browser.wait_for("Page.loadEventFired")
                seen = json.loads(browser.call("Runtime.evaluate", session, expression=PROBE, returnByValue=True)["result"]["value"])
                errors = console_errors(browser.events)
                check(seen["ready"] and not errors, "page not built, or console errors: %s" % errors)
                check(set(seen["charts"]) == expected, "charts %s, expected %s" % (sorted(seen["charts"]), sorted(expected)))
                for chart, c in seen["charts"].items():   # the eye contour has a point every 1/16 UI
                    check(c["rows"] >= (17 if chart.startswith("com-eye") else 100) and c["columns"] >= 2 and c["w"] >= 600 and c["h"] >= 250 and c["painted"] >= 2000,
                          "chart %s drawn without data: %s" % (chart, c))
                figures_shown(seen, record, check)
                com_shown(seen["com"], record["com"], check)
                # The box that cannot be missed: there for a failed run, FLIPPED or a warning, else not.
                check(seen["alerts"] == (status != 0 or record["figures"]["flipped"] is True or bool(record["warnings"])), "alert box: %s" % seen["alerts"])
                if status != 0:
                    continue
                check(seen["shapes"] >= 6, "the noise budget and ICN pictures hold %d shapes" % seen["shapes"])
                # The pulse chart's time axis is the side file's time in UI at the run's rate.
                want = wv1_peak_time(os.path.join(out, "run.wv1")) * rate
                check(seen["peak"] is not None and abs(seen["peak"] - want) < 0.01, "pulse peak at %s UI, the side file puts it at %.4f UI" % (seen["peak"], want))
                if name in ("nrz", "pam4_53G"):
                    peaks[rate] = seen["peak"]
        finally:
            browser.close()
        for what, args, charts in OWN_FAILURES:
            env = dict(os.environ, **({"BREVO_DYGRAPHS_DIR": charts} if charts else {}))
            run = subprocess.run([report] + args, cwd=work, env=env, capture_output=True, timeout=DEADLINE)
            if not (run.returncode == 2 and run.stdout == b"" and run.stderr.startswith(b"brevo-report: ")
                    and not os.path.exists(os.path.join(work, args[0], "report.html"))):
                failures.append("%s: status %d, stdout %r, stderr %r" % (what, run.returncode, run.stdout[:200], run.stderr[:300]))
    # One lane, one delay in seconds: its peak in UI grows with the rate.
    if len(peaks) == 2 and None not in peaks.values():
        ratio = peaks[RATE_53] / peaks[RATE_25]
        if abs(ratio / (RATE_53 / RATE_25) - 1) > 0.03:
            failures.append("pulse peaks at %s UI: ratio %.4f, the rates' %.4f" % (peaks, ratio, RATE_53 / RATE_25))
    for f in failures:
        print("FAIL:", f)
    print("%d cases, %d failures" % (len(cases) + len(OWN_FAILURES), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
