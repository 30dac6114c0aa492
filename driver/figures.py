#!/usr/bin/python3
"""figures.py: what the build makes from driver/figures.toml, the table of the report's figures.

usage: figures.py TABLE header OUT            the C++ table (figureTable.h)
       figures.py TABLE schema|stubs|page|man TEMPLATE OUT
                                              TEMPLATE with its @FIGURE_...@ and @COM_FIGURE_...@ places filled in:
                                              the record schema, the Python stubs, the page script,
                                              Brevo's manual page

A table that breaks a rule (a key twice, a unit the schema has no type for, a stage that
does not exist) stops the build with the reason.
"""
import json, re, sys, tomllib

STAGES = ("deriveSettings", "budget", "figuresOfMerit")
# The schema's type of a figure that may be null, by unit; none: the yes-or-no figure.
SCHEMA_TYPES = {"mV": {"$ref": "#/$defs/maybeMillivolts"}, "dB": {"$ref": "#/$defs/maybeDecibels"},
                "ratio": {"$ref": "#/$defs/maybeRatio"}, "Hz": {"$ref": "#/$defs/maybeHertz"},
                "Bd": {"$ref": "#/$defs/maybeBaud"}, None: {"type": ["boolean", "null"]}}
NAME = re.compile(r"[A-Za-z_][A-Za-z0-9_]*$")
FIELDS = {"key", "unit", "after", "sometimes", "attribute", "doc", "label", "meaning", "page_unit", "page_unit_size",
          "headline", "column", "format", "scale", "chart", "log_axis"}
# A COM package case's figures: all quantities, in one of these units.
COM_FIELDS = {"key", "unit", "nullable", "label", "meaning", "page"}
COM_UNITS = {"mV": "millivolts", "dB": "decibels"}


def fail(text):
    sys.stderr.write(f"figures.py: {text}\n")
    sys.exit(1)


def read(path):
    try:
        with open(path, "rb") as f:
            table = tomllib.load(f)
    except (OSError, tomllib.TOMLDecodeError) as e:
        fail(f"{path}: {e}")
    figures, com_figures = table.get("figure", []), table.get("com_figure", [])
    seen = set()
    for f in figures:
        key = f.get("key", "")
        if set(f) - FIELDS:
            fail(f"{path}: figure {key or '?'} has a field the table does not know: {', '.join(sorted(set(f) - FIELDS))}")
        for field in ("key", "attribute", "doc", "label", "meaning"):
            if not isinstance(f.get(field), str) or not f[field]:
                fail(f"{path}: figure {key or '?'} has no {field}")
        for field in ("key", "attribute"):
            if not NAME.match(f[field]):
                fail(f"{path}: {f[field]} is no name")
            if (field, f[field]) in seen:
                fail(f"{path}: {field} {f[field]} twice")
            seen.add((field, f[field]))
        if f.get("unit") not in SCHEMA_TYPES:
            fail(f"{path}: {key} has unit {f.get('unit')}, which the record schema has no type for")
        if f.get("after") not in STAGES:
            fail(f"{path}: {key} printed after {f.get('after')}, none of {', '.join(STAGES)}")
        if ("page_unit" in f) != ("page_unit_size" in f):
            fail(f"{path}: {key} needs page_unit and page_unit_size together")
        if f.get("headline") and not ("column" in f and "chart" in f and f.get("unit")):
            fail(f"{path}: {key} is in the headline, so needs a unit, a column and a chart")
        if "column" in f and ("column", f["column"]) in seen:
            fail(f"{path}: column {f['column']} twice")
        seen.add(("column", f.get("column")))
    com_seen = set()
    for f in com_figures:
        key = f.get("key", "")
        if set(f) - COM_FIELDS:
            fail(f"{path}: COM figure {key or '?'} has a field the table does not know: {', '.join(sorted(set(f) - COM_FIELDS))}")
        for field in ("key", "label", "meaning"):
            if not isinstance(f.get(field), str) or not f[field]:
                fail(f"{path}: COM figure {key or '?'} has no {field}")
        if not NAME.match(key):
            fail(f"{path}: {key} is no name")
        if key in com_seen:
            fail(f"{path}: COM figure {key} twice")
        com_seen.add(key)
        if f.get("unit") not in COM_UNITS:
            fail(f"{path}: COM figure {key} has unit {f.get('unit')}, not one of {', '.join(COM_UNITS)}")
    return figures, com_figures


def c_text(s):
    return json.dumps(s, ensure_ascii=True)   # a JSON string of ASCII reads the same in C++


def header(figures, com_figures):
    lines = ["// Made by driver/figures.py from driver/figures.toml; not edited by hand.",
             "#pragma once", "", '#include "stages.h"', "",
             "// Every figure of the report, in report order.",
             "enum class Figure { " + ", ".join(f["key"] for f in figures) + " };", "",
             "// A figure's name in the run record, its unit there (nullptr: yes or no), the stage",
             "// whose end prints its line, the Python attribute that holds it and that attribute's help.",
             "struct FigureRow {", "  Figure figure;", "  const char* key;", "  const char* unit;", "  Stage after;",
             "  const char* attribute;", "  const char* doc;", "};", "",
             "inline constexpr FigureRow kFigureRows[] = {"]
    for f in figures:
        unit = c_text(f["unit"]) if f.get("unit") else "nullptr"
        lines.append(f'    {{Figure::{f["key"]}, {c_text(f["key"])}, {unit}, Stage::{f["after"]}, '
                     f'{c_text(f["attribute"])}, {c_text(f["doc"])}}},')
    lines += ["};", "",
              "// Every figure of a COM package case, in the page's order.",
              "enum class ComFigure { " + ", ".join(f["key"] for f in com_figures) + " };", "",
              "// Its name in a case of the run record, its unit there, and whether it may be null.",
              "struct ComFigureRow {", "  ComFigure figure;", "  const char* key;", "  const char* unit;",
              "  bool nullable;", "};", "",
              "inline constexpr ComFigureRow kComFigureRows[] = {"]
    for f in com_figures:
        lines.append(f'    {{ComFigure::{f["key"]}, {c_text(f["key"])}, {c_text(f["unit"])}, '
                     f'{"true" if f.get("nullable") else "false"}}},')
    return "\n".join(lines + ["};", ""])


def key_lines(keys):
    """JSON strings of keys, parted by commas, in lines of about a hundred characters."""
    wrapped, line = [], ""
    for k in map(json.dumps, keys):
        if line and len(line) + len(k) > 100:
            wrapped.append(line + ",")
            line = ""
        line += (", " if line else "") + k
    return "\n                   ".join(wrapped + [line])


def schema(figures, com_figures):
    properties = ",\n".join(f'        {json.dumps(f["key"])}: '
                            + json.dumps({"description": f["meaning"], **SCHEMA_TYPES[f.get("unit")]}) for f in figures)
    com_properties = "".join(
        f'        {json.dumps(f["key"])}: '
        + json.dumps({"description": f["meaning"].replace("{DER0}", "DER0"),
                      "$ref": "#/$defs/" + ("maybe" + COM_UNITS[f["unit"]].capitalize() if f.get("nullable")
                                            else COM_UNITS[f["unit"]])}) + ",\n" for f in com_figures)
    return {"@FIGURE_KEYS@": "[" + key_lines(f["key"] for f in figures) + "]",
            "@FIGURE_PROPERTIES@": "{\n" + properties + "\n      }",
            "@COM_FIGURE_KEYS@": key_lines(f["key"] for f in com_figures),
            "@COM_FIGURE_PROPERTIES@\n": com_properties}


def stubs(figures, com_figures):
    return {"@FIGURE_ATTRIBUTES@": "\n".join(f'    {f["attribute"]}: {"float" if f.get("unit") else "bool"} | None'
                                              for f in figures)}


def page(figures, com_figures):
    rows = []
    for f in figures:
        row = {"key": f["key"], "label": f["label"], "meaning": f["meaning"], "quantity": bool(f.get("unit")),
               "headline": bool(f.get("headline")), "sometimes": bool(f.get("sometimes"))}
        if "page_unit" in f:
            row.update(unit=f["page_unit"], size=f["page_unit_size"])
        rows.append("    " + json.dumps(row))
    com_rows = ["    " + json.dumps({"key": f["key"], "label": f["label"], "unit": f["unit"], "meaning": f["meaning"]})
                for f in com_figures if f.get("page", True)]
    # "</" never closes the page's script element early.
    return {"@FIGURE_ROWS@": ("[\n" + ",\n".join(rows) + "\n  ]").replace("</", "<\\/"),
            "@COM_FIGURE_ROWS@": ("[\n" + ",\n".join(com_rows) + "\n  ]").replace("</", "<\\/")}


def man(figures, com_figures):
    """The run record's figure names as the manual lists them (roff's \\% keeps each whole)."""
    keys = ["\\%" + f["key"] + ("" if f.get("unit") else " (true or false)") for f in figures]
    return {"@FIGURE_KEY_LIST@": ", ".join(keys[:-1]) + ", and " + keys[-1]}


def main():
    if len(sys.argv) < 4 or sys.argv[2] not in ("header", "schema", "stubs", "page", "man") or len(sys.argv) != (4 if sys.argv[2] == "header" else 5):
        fail(__doc__.strip())
    (figures, com_figures), kind = read(sys.argv[1]), sys.argv[2]
    if kind == "header":
        text = header(figures, com_figures)
    else:
        try:
            with open(sys.argv[3], encoding="utf-8") as f:
                text = f.read()
        except OSError as e:
            fail(f"{sys.argv[3]}: {e.strerror}")
        makers = {"schema": schema, "stubs": stubs, "page": page, "man": man}
        for place, filled in makers[kind](figures, com_figures).items():
            if place not in text:
                fail(f"{sys.argv[3]} has no {place}")
            text = text.replace(place, filled)
    try:
        with open(sys.argv[-1], "w", encoding="utf-8") as f:
            f.write(text)
    except OSError as e:
        fail(f"{sys.argv[-1]}: {e.strerror}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
