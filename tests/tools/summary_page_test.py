#!/usr/bin/python3
"""brevo-sweep report=yes: summary.html as headless Chromium builds it, against the records.

Also at a phone's width (400 px): no sideways scrolling of the page, every row one line
high, the results' columns before the inputs', every axis title with its unit and its
ticks apart from it and from each other.
With COM in the sweep (the calibration set of CHANNELS_DIR/com, skipped with a message
when absent): COM and its verdict right after the status, the rows in the order of
summary.csv's COM figures (lowest first, runs without COM last, in run order), the COM
heading marked as the sorted one and exactly the rows whose verdict is fail marked.
usage: summary_page_test.py BREVO_SWEEP BREVO_REPORT BREVO EXAMPLES_DIR [CHANNELS_DIR]
"""
import csv, json, os, re, shutil, subprocess, sys, tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from report_pages_test import Browser, console_errors, DEADLINE   # the pipe to the browser

PROBE = r"""(() => {
  const sn = [...document.querySelectorAll("#summary th")].findIndex((th) => th.textContent === "SN");
  const rows = () => [...document.querySelectorAll("#summary tbody tr")];
  const seen = {ready: window.brevoPageReady === true, rows: rows().map((r) => [r.id, r.className]),
    links: [...document.querySelectorAll("#summary a")].map((a) => a.getAttribute("href")),
    sn: rows().map((r) => r.cells[sn].textContent), charts: {}};
  for (const [name, g] of Object.entries(window.brevoCharts || {})) {
    let painted = 0;
    for (const c of g.graphDiv.querySelectorAll("canvas")) {
      const px = c.getContext("2d").getImageData(0, 0, c.width, c.height).data;
      for (let i = 3; i < px.length; i += 4) painted += px[i] > 0;
    }
    seen.charts[name] = {points: [...Array(g.numRows()).keys()].map((r) => [g.getValue(r, 0), g.getValue(r, 1)]), painted,
                         log: g.getOption("logscale")};
  }
  document.querySelectorAll("#summary th")[sn].click();
  seen.sorted = rows().map((r) => r.id);
  return JSON.stringify(seen);
})()"""


# The page as a phone shows it: what is wrong with its layout.
LAYOUT = r"""(() => {
  const problems = [], text = (e) => { const r = document.createRange(); r.selectNodeContents(e); return r.getBoundingClientRect(); };
  const meet = (a, b) => a.left < b.right - 1 && b.left < a.right - 1 && a.top < b.bottom - 1 && b.top < a.bottom - 1;
  if (document.documentElement.scrollWidth > innerWidth + 1)
    problems.push(`the page is ${document.documentElement.scrollWidth} px wide in a window of ${innerWidth}`);
  const heads = [...document.querySelectorAll("#summary th")].map((th) => th.textContent);
  if (!(heads.indexOf("SN") < heads.indexOf("control") && heads.indexOf("BER") < heads.indexOf("arguments") && heads[1] === "status"))
    problems.push("columns in the order " + heads);
  const line = document.querySelector("#summary th").getBoundingClientRect().height;
  for (const r of document.querySelectorAll("#summary tbody tr"))
    if (r.getBoundingClientRect().height > 1.5 * line) problems.push(`row ${r.id} is ${r.getBoundingClientRect().height} px high, a line ${line}`);
  for (const [chart, g] of Object.entries(window.brevoCharts || {}))
    for (const [axis, title] of [["x", "xlabel"], ["y1", "ylabel"]]) {
      const ticks = [...g.graphDiv.querySelectorAll(".dygraph-axis-label-" + axis)].filter((t) => t.textContent !== "");
      const label = g.graphDiv.querySelector(".dygraph-" + title);
      const texts = ticks.map((t) => t.textContent);
      if (new Set(texts).size !== texts.length) problems.push(`${chart} ${axis} ticks repeat: ${texts}`);
      if (!label || !/\(.+\)/.test(label.textContent)) problems.push(`${chart} ${axis} title without a unit: ${label && label.textContent}`);
      for (const t of ticks) {
        if (label && meet(text(t), text(label))) problems.push(`${chart} ${axis} tick ${t.textContent} over the title`);
        for (const u of ticks) if (t !== u && meet(text(t), text(u))) problems.push(`${chart} ${axis} ticks ${t.textContent} and ${u.textContent} meet`);
      }
    }
  return JSON.stringify(problems);
})()"""


def main():
    sweep, report, brevo, examples = sys.argv[1:5]
    if not shutil.which("chromium"):
        print("FAIL: chromium is not installed, though scripts/ensure-packages.sh installs it")
        return 1
    failures = []
    check = lambda ok, what: ok or failures.append(what)
    with tempfile.TemporaryDirectory(prefix="brevo_summary_") as work:
        env = dict(os.environ, BREVO_REPORT=report)
        common = ["jobs=2", "progress=none", "exe=" + brevo, "cases=" + os.path.join(examples, "cases.txt"),
                  os.path.join(examples, "link.cf")]
        for name, extra in (("pages", ["report=yes"]), ("plain", [])):   # five runs, one failing
            run = subprocess.run([sweep, "out=" + os.path.join(work, name)] + extra + common, env=env,
                                 capture_output=True, timeout=10 * DEADLINE)
            check(run.returncode == 1, "%s: status %d (one run fails), stderr %r" % (name, run.returncode, run.stderr[-500:]))
        out = os.path.join(work, "pages")
        text = open(os.path.join(out, "summary.csv"), "rb").read()
        check(text == open(os.path.join(work, "plain", "summary.csv"), "rb").read(), "summary.csv differs from report=no's")
        table = list(csv.DictReader(text.decode().splitlines()))
        records = {r["run"]: json.load(open(os.path.join(out, r["run"] + ".json"))) for r in table}
        sn = {run: (r["figures"]["signal_to_noise"] or {}).get("value") if r["status"] == 0 else None
              for run, r in records.items()}
        browser = Browser(os.path.join(work, "profile"))
        try:
            session = browser.new_page()
            browser.call("Page.navigate", session, url="file://" + os.path.join(out, "summary.html"))
            browser.wait_for("Page.loadEventFired")
            seen = json.loads(browser.call("Runtime.evaluate", session, expression=PROBE, returnByValue=True)["result"]["value"])
            errors = console_errors(browser.events)
            for width, mobile in ((400, True), (1400, False)):
                browser.call("Emulation.setDeviceMetricsOverride", session, width=width, height=900, deviceScaleFactor=1, mobile=mobile)
                browser.call("Page.navigate", session, url="file://" + os.path.join(out, "summary.html"))
                browser.wait_for("Page.loadEventFired")
                for problem in json.loads(browser.call("Runtime.evaluate", session, expression=LAYOUT, returnByValue=True)["result"]["value"]):
                    check(False, "%d px: %s" % (width, problem))
        finally:
            browser.close()
        missing = [link for link in seen["links"] if not os.path.isfile(os.path.join(out, link))]
    check(seen["ready"] and not errors, "page not built, or console errors: %s" % errors)
    marks = [["run-" + r["run"], "failed" if r["status"] != "0" else "warned" if r["warnings"] != "0" else ""]
             for r in table]
    check(seen["rows"] == marks, "rows and marks %s, expected %s" % (seen["rows"], marks))
    check({"failed", "warned", ""} <= {m for _, m in marks}, "the cases no longer hold a failed, a warned and a clean run")
    check(seen["links"] == [r["run"] + "/report.html" for r in table], "links %s" % seen["links"])
    check(not missing, "links to no file: %s" % missing)
    check(seen["sn"] == ["" if sn[r["run"]] is None else "%.3f" % sn[r["run"]] for r in table], "S/N shown %s" % seen["sn"])
    drawn = [[int(r["run"]), v] for r in table if (v := sn[r["run"]]) is not None]
    check(seen["charts"].get("sn", {}).get("points") == drawn, "S/N chart %s, the records' %s" % (seen["charts"].get("sn"), drawn))
    for name in ("sn", "ber", "tolerance"):
        c = seen["charts"].get(name, {"points": [], "painted": 0})
        check(len(c["points"]) == len(drawn) and c["painted"] >= 2000, "chart %s drawn without its points: %s" % (name, c))
        check(c.get("log") == (name == "ber"), "chart %s: log axis %s" % (name, c.get("log")))
    by_sn = sorted(table, key=lambda r: (sn[r["run"]] is None, sn[r["run"]] or 0))
    check(seen["sorted"] == ["run-" + r["run"] for r in by_sn], "sorted by S/N: %s" % seen["sorted"])
    if len(sys.argv) > 5:
        com_page(sweep, report, brevo, sys.argv[5], check)
    for f in failures:
        print("FAIL:", f)
    print("summary page: %d failures" % len(failures))
    return 1 if failures else 0


def com_page(sweep, report, brevo, channels, check):
    """The sweep page with the COM columns, as written (the order and marks are the page's own)."""
    lane = os.path.join(channels, "com", "example2_")
    if not os.path.isfile(lane + "THRU.s4p"):
        print("SKIP: the COM page: calibration channels absent from %s/com" % channels)
        return
    whole = "Thru=%sTHRU.s4p " % lane + " ".join("%s=%s%s.s4p" % (k[:4], lane, k) for k in
                                                 ("NEXT1", "NEXT2", "NEXT3", "FEXT1", "FEXT2"))
    with tempfile.TemporaryDirectory(prefix="brevo_summary_com_") as work:
        open(os.path.join(work, "none.cf"), "w").write("# the channels come from the cases\n")
        open(os.path.join(work, "cases.txt"), "w").write(   # a pass above a fail, none, unavailable
            "Thru=%sTHRU.s4p com=kr4\n%s com=kr4 com_pass_threshold=4\n%s\n%s com=kr5\n" % (lane, whole, whole, whole))
        out = os.path.join(work, "out")
        run = subprocess.run([sweep, "out=" + out, "report=yes", "jobs=2", "progress=none", "exe=" + brevo,
                              "cases=" + os.path.join(work, "cases.txt"), os.path.join(work, "none.cf")],
                             env=dict(os.environ, BREVO_REPORT=report), capture_output=True, timeout=10 * DEADLINE)
        check(run.returncode == 0, "COM sweep: status %d, stderr %r" % (run.returncode, run.stderr[-500:]))
        table = list(csv.DictReader(open(os.path.join(out, "summary.csv")).read().splitlines()))
        page = open(os.path.join(out, "summary.html")).read()
    verdicts = [r["COM_verdict"] for r in table]
    check(verdicts == ["pass", "fail", "", "unavailable"], "COM verdicts %s" % verdicts)
    heads = re.findall(r"<th( aria-sort=\"ascending\")?>([^<]*)</th>", page)
    check([h for _, h in heads[:4]] == ["run", "status", "COM_dB", "COM_verdict"], "headings %s" % heads[:4])
    check([h for s, h in heads if s] == ["COM_dB"], "sorted headings %s" % [h for s, h in heads if s])
    rows = re.findall(r'<tr id="run-([0-9]+)"(?: class="([^"]*)")?>', page)
    com = lambda r: float(r["COM_dB"]) if r["COM_dB"] else None
    order = sorted(table, key=lambda r: (com(r) is None, com(r) or 0))
    check([run for run, _ in rows] == [r["run"] for r in order], "rows in the order %s" % rows)
    marked = {run for run, classes in rows if "comfail" in classes.split()}
    check(marked == {r["run"] for r in table if r["COM_verdict"] == "fail"}, "COM fail marked on %s" % marked)


if __name__ == "__main__":
    sys.exit(main())
