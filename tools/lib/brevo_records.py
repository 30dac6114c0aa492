"""What brevo-sweep, brevo-sweep-pages and brevo-plot read alike: Brevo's run records
(summary=), the sweep's case lists and summary.csv, and the numbers and paths they hold.

The record is the JSON file Brevo writes with summary=FILE (run-record.schema.json):
a number that is not finite is a string there ("nan", "inf", "-inf"), and a figure is a
quantity {"value": v, "unit": u}.
"""
import json, math, os, re, sys, tomllib

__all__ = ["project_version", "logical_dir", "logical_path", "read_record", "get", "finite", "read_cases",
           "split_case", "number", "summary_columns", "summary_row", "case_sets_com", "COM_COLUMNS",
           "TEXT_COLUMNS", "FIGURES", "HEADLINE"]


def project_version(version, script):
    """The project version: VERSION when the build filled it in, else read from the
    CMakeLists.txt of the checkout SCRIPT sits in."""
    if not version.startswith("@"):
        return version
    try:
        top = os.path.join(os.path.dirname(os.path.abspath(script)), "..", "CMakeLists.txt")
        return re.search(r"^project\(Brevo VERSION ([0-9.]+)", open(top).read(), re.M).group(1)
    except (OSError, AttributeError):
        return "unknown"


def _here():
    """The working folder as the shell names it ($PWD when that is this folder)."""
    pwd = os.environ.get("PWD", "")
    try:
        if os.path.isabs(pwd) and os.path.samefile(pwd, "."):
            return pwd
    except OSError:
        pass
    return os.getcwd()


def logical_path(path):
    """PATH made absolute the way a shell's cd and pwd would: against the working folder's
    own name, "." and ".." taken away in the text, links kept."""
    return os.path.normpath(os.path.join(_here(), path))


def logical_dir(path):
    """The folder PATH names, absolute as logical_path makes it, or None when there is
    no such folder."""
    return logical_path(path) if os.path.isdir(path) else None


def read_record(path):
    """The run record at PATH as a dict, or None when it cannot be read or is no record."""
    try:
        with open(path, encoding="utf-8") as f:
            record = json.load(f)
    except (OSError, ValueError):
        return None
    return record if isinstance(record, dict) else None


def get(value, *path):
    """The member of VALUE at PATH (keys and list positions), or None where it is missing."""
    for p in path:
        if isinstance(value, dict) and isinstance(p, str) and p in value:
            value = value[p]
        elif isinstance(value, list) and isinstance(p, int) and -len(value) <= p < len(value):
            value = value[p]
        else:
            return None
    return value


def finite(v):
    """A record number (or a quantity's value) when it is finite, else None."""
    if isinstance(v, dict):
        v = v.get("value")
    return v if isinstance(v, (int, float)) and not isinstance(v, bool) and math.isfinite(v) else None


def split_case(line):
    """The words of a case line: split at blanks outside double quotes, the quotes kept,
    since Brevo itself takes a quoted value (a channel line with its ports) apart."""
    words, word, quoted = [], "", False
    for c in line:
        if c == '"':
            quoted = not quoted
            word += c
        elif not quoted and c in " \t\r":
            if word:
                words.append(word)
            word = ""
        else:
            word += c
    if word:
        words.append(word)
    return words


def read_cases(path):
    """The runs of a case list, each its list of words; blank lines and lines starting
    with # are skipped. Bytes that are no UTF-8 pass through (surrogateescape)."""
    with open(path, "rb") as f:
        text = f.read().decode("utf-8", "surrogateescape")
    lines = text.split("\n")
    if lines[-1] == "":   # the end of the last line, or an empty file
        lines.pop()
    runs = []
    for line in lines:
        line = line[:-1] if line.endswith("\r") else line
        if re.match(r"[ \t\n\r\f\v]*(#|$)", line):
            continue
        runs.append(split_case(line))
    return runs


SUFFIXES = (("meg", 1e6), ("a", 1e-18), ("f", 1e-15), ("p", 1e-12), ("n", 1e-9), ("u", 1e-6), ("m", 1e-3),
            ("k", 1e3), ("g", 1e9), ("t", 1e12))


def number(text):
    """A number with an optional engineering suffix as control files take it (a f p n u m
    k meg g t, any case, anything after the suffix ignored), or None."""
    m = re.match(r"[-+]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][-+]?[0-9]+)?", text)
    if not m:
        return None
    rest = text[m.end():].lower()
    return float(m.group(0)) * next((f for s, f in SUFFIXES if rest.startswith(s)), 1)


# ---- summary.csv

def read_figures():
    """The report's figures in report order, each a dict as the figure table (figures.toml)
    gives it: beside this file when installed, in driver/ of the checkout it sits in."""
    here = os.path.dirname(os.path.abspath(__file__))
    for path in (os.path.join(here, "figures.toml"), os.path.join(here, "..", "..", "driver", "figures.toml")):
        if os.path.isfile(path):
            with open(path, "rb") as f:
                return tomllib.load(f)["figure"]
    raise ImportError("brevo_records: no figures.toml beside " + here + " nor in the checkout's driver folder")


# Every figure of the report; those with a summary.csv column; the headline's (S/N, BER,
# interference tolerance), which the sweep page shows first and draws per run.
FIGURES = read_figures()
SWEPT = [f for f in FIGURES if "column" in f]
HEADLINE = [f for f in SWEPT if f.get("headline")]

# The columns of every sweep: what the run was, its status, the figures of a run that
# ended with status 0 (the ICN of every aggressor just before the total ICN), and the
# facts of every run that wrote a record.
FIGURE_COLUMNS = [f["column"] for f in SWEPT]
FIGURE_COLUMNS.insert(FIGURE_COLUMNS.index("total_icn_mV"), "aggressor_icn_mV")
BASE_COLUMNS = (["run", "control", "arguments", "status"] + FIGURE_COLUMNS +
                ["symbol_rate_Bd", "PAM", "N_DFE", "aggressors_used", "aggressors_skipped", "warnings"])
# With com in the sweep: the worst package case's COM, the verdict, which case that is
# and its equaliser (taps joined by ";").
COM_COLUMNS = ["COM_dB", "COM_verdict", "COM_case", "COM_tx_taps", "COM_gDC_dB", "COM_gDC2_dB", "COM_dfe_taps"]
# The columns after the first figure that hold words, not one number: the yes-or-no
# figures among them.
TEXT_COLUMNS = ({"aggressor_icn_mV", "COM_verdict", "COM_tx_taps", "COM_dfe_taps"} |
                {f["column"] for f in SWEPT if "unit" not in f})


def summary_columns(with_com):
    return BASE_COLUMNS + (COM_COLUMNS if with_com else [])


def case_sets_com(words):
    """Whether the words of a run set com to a preset (the last com= says)."""
    value = None
    for w in words:
        m = re.match(r"\s*com\s*=(.*)$", w, re.S)
        if m:
            value = m.group(1).strip().strip('"').strip()
    return bool(value)


def field(f):
    """A CSV field, quoted when it needs it."""
    return '"' + f.replace('"', '""') + '"' if any(c in f for c in ',"\n') else f


def figure(q, style="%.3f", scale=1):
    """A quantity as the report prints it; a value that is not finite is "nan", "inf" or "-inf"."""
    if q is None:
        return ""
    v = q["value"]
    return v if isinstance(v, str) else style % (v * scale)


def plain(v):
    """A keyword's number as it reads: 25781250000, 8, 0.5."""
    if isinstance(v, float) and v.is_integer() and abs(v) < 1e15:
        return str(int(v))
    return str(v)


def ratio(v):
    """A tap or a gain in the compact form of the COM columns: -0.16, 0.84, 0.5342."""
    return v if isinstance(v, str) else "%.4g" % v


def com_cells(com):
    """The COM columns of a run: empty without a com block; the verdict "unavailable"
    (and nothing else) when COM could not be computed."""
    if not isinstance(com, dict):
        return [""] * len(COM_COLUMNS)
    if not com.get("available") or not com.get("cases"):
        return ["", "unavailable"] + [""] * (len(COM_COLUMNS) - 2)
    cases = com["cases"]
    worst = min(range(len(cases)), key=lambda k: (finite(cases[k].get("COM")) is None,
                                                  finite(cases[k].get("COM")) or 0))
    c = cases[worst]
    gdc2 = c.get("gDC2")
    return [figure(com.get("COM")), com.get("verdict") or "", str(worst + 1),
            ";".join(ratio(t) for t in c.get("tx_taps") or []), ratio(finite(c.get("gDC"))) if finite(c.get("gDC")) is not None else "",
            "" if gdc2 is None else ratio(gdc2["value"]), ";".join(ratio(t) for t in c.get("dfe_taps") or [])]


def summary_row(run, control, arguments, status, record, with_com):
    """The fields of one run's row of summary.csv (joined by ","). RECORD is the run's
    record or None; its figures fill the row when its status is 0."""
    row = [run, field(control), field(arguments), status]
    f = record["figures"] if record and record["status"] == 0 else None
    for s in SWEPT:   # a failed run keeps its row: status and empty figures
        if s["column"] == "total_icn_mV":
            row.append(field(";".join(a["file"] + "=" + figure(a["icn"]) for a in record["aggressors"])) if f else "")
        v = f[s["key"]] if f else None
        if "unit" not in s:
            row.append("" if v is None else "yes" if v else "no")
        else:
            row.append(figure(v, s.get("format", "%.3f"), s.get("scale", 1)))
    if record:
        keywords = record["keywords"]
        row += [plain(keywords["data_rate"]["value"]), plain(keywords["PAM"]["value"]), plain(keywords["N_DFE"]["value"]),
                str(len(record["aggressors"])), str(len(record["skipped"])), str(len(record["warnings"]))]
    else:
        row += [""] * (len(BASE_COLUMNS) - len(row))
    if with_com:
        row += com_cells(record.get("com") if record else None)
    assert len(row) == len(summary_columns(with_com))
    return row


def emit(line, stream=None):
    """A line of text out as UTF-8, bytes that came in as no UTF-8 given back as they were."""
    (stream or sys.stdout.buffer).write((line + "\n").encode("utf-8", "surrogateescape"))
