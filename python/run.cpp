// brevo.run and brevo.Result: one whole run of the analysis in the process, its report,
// log and record kept in memory, its waveforms as numpy arrays.
#include <pybind11/complex.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <map>
#include <cctype>
#include <regex>
#include <sstream>

#include "MemoryText.h"
#include "brevo.h"
#include "entry.h"
#include "figureTable.h"
#include "presets.h"
#include "stages.h"

namespace brevo_python {

namespace {

using complex = std::complex<double>;

// One run's result, every member a Python object made once the run has ended.
struct Result {
  int status = 0;
  py::object report, log, record, warnings, figures, aggressors, skipped, transfers, com;
  py::object shortTime, pulse, dibit, fitPulse;
  py::object frequency, thru, fit, ild;
  py::object periodTime, periodPulse, periodFitPulse, periodIldPulse;
};

// brevo.RunError, raised by run(check=True); set when the module is made.
PyObject* runError = nullptr;

// Every keyword a run knows, with its type code (s text, i integer, x hexadecimal, else a
// number), its default as the starter control file writes it and the starter's comment.
struct Keyword {
  std::string name;
  char type;
  std::string given, comment;
};

const std::vector<Keyword>& keywords() {
  static const std::vector<Keyword> all = [] {
    RunState rs;
    registerKeywords(rs.given);
    // The starter control file: "name=default   # comment" lines, comments continued below.
    MemoryText out, err;
    RunState starter;
    starter.io.standardOutput = out.stream();
    starter.io.standardError = err.stream();
    starter.io.arguments = {"Brevo", "-c"};
    runAnalysis(starter);
    std::map<std::string, std::pair<std::string, std::string>> written;
    std::istringstream lines(out.take());
    std::string last;
    for (std::string l; std::getline(lines, l);) {
      const std::size_t hash = l.find('#'), eq = l.find('=');
      std::string comment = hash == std::string::npos ? "" : l.substr(hash + 1);
      while (!comment.empty() && std::isspace(static_cast<unsigned char>(comment.back())))
        comment.pop_back();
      while (!comment.empty() && std::isspace(static_cast<unsigned char>(comment.front())))
        comment.erase(0, 1);
      if (eq != std::string::npos && eq < hash && l[0] != '#' &&
          !std::isspace(static_cast<unsigned char>(l[0]))) {
        last = l.substr(0, eq);
        std::string value =
            l.substr(eq + 1, hash == std::string::npos ? std::string::npos : hash - eq - 1);
        while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back())))
          value.pop_back();
        written[last] = {value, comment};
      } else if (!last.empty() && hash != std::string::npos && hash > 0 &&
                 l.find_first_not_of(" \t") == hash && !comment.empty()) {
        written[last].second += (written[last].second.empty() ? "" : " ") + comment;
      } else {
        last.clear();
      }
    }
    // Keywords the starter file leaves out: their defaults as the run record holds them.
    applyDefaults(rs.given, rs.io);
    const py::object record =
        py::module_::import("json").attr("loads")(utf8(runRecordText(rs, {}, 0)))["keywords"];
    std::vector<Keyword> list;
    for (const variable_def* n = rs.given.table.get(); n && n->next; n = n->next.get()) {
      if (!n->address) continue;
      const auto w = written.find(n->name);
      std::string given = w == written.end() ? "" : w->second.first;
      if (given.empty() && record.contains(n->name)) {
        const py::object v = record[py::str(n->name)]["value"];
        given = n->type == 'x' && py::isinstance<py::int_>(v)
                    ? py::str(py::module_::import("builtins").attr("format")(v, "x"))
                          .cast<std::string>()
                : py::isinstance<py::str>(v) ? v.cast<std::string>()
                                             : py::repr(v).cast<std::string>();
      }
      list.push_back({n->name, n->type, given, w == written.end() ? "" : w->second.second});
    }
    return list;
  }();
  return all;
}

// Edits between two names, case aside.
std::size_t distance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t up = row[j];
      const bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                        std::tolower(static_cast<unsigned char>(b[j - 1]));
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
      diagonal = up;
    }
  }
  return row[b.size()];
}

bool isNumber(const py::handle v) {
  return !py::isinstance<py::str>(v) &&
         (PyIndex_Check(v.ptr()) || PyFloat_Check(v.ptr()) || py::hasattr(v, "__float__"));
}

// A list (tuple, array) of numbers, or of such lists: a COM keyword's list or rows.
bool isNumberRows(const py::handle v, int depth = 0) {
  if (py::isinstance<py::str>(v) || py::isinstance<py::bytes>(v) || !py::hasattr(v, "__iter__") ||
      !py::hasattr(v, "__len__"))
    return false;
  for (const py::handle x : py::iter(v))
    if (!isNumber(x) && !(depth == 0 && isNumberRows(x, 1))) return false;
  return true;
}

// The text of such a list as a COM keyword takes it: numbers parted by blanks, rows by "; ".
std::string rowsText(const py::handle v) {
  std::string text;
  for (const py::handle x : py::iter(v)) {
    const bool row = !isNumber(x);
    if (!text.empty()) text += row ? "; " : " ";
    text += row ? rowsText(x)
                : py::repr(py::float_(py::reinterpret_borrow<py::object>(x))).cast<std::string>();
  }
  return text;
}

// A setting checked before the run: a keyword, with a value of its type; TypeError for a
// name that is no keyword, ValueError for a value the keyword cannot take.
void checkSetting(const std::string& name, const py::handle value) {
  const std::vector<Keyword>& all = keywords();
  const auto k =
      std::find_if(all.begin(), all.end(), [&](const Keyword& w) { return w.name == name; });
  if (k == all.end()) {
    std::vector<std::pair<std::size_t, std::string>> near;
    for (const Keyword& w : all) near.emplace_back(distance(name, w.name), w.name);
    std::sort(near.begin(), near.end());
    throw py::type_error("run() got an unknown setting " + name + "; did you mean " +
                         near.front().second + "?");
  }
  const bool text = py::isinstance<py::str>(value);
  const bool number = !text && (PyIndex_Check(value.ptr()) || PyFloat_Check(value.ptr()));
  const std::string given = text ? value.cast<std::string>() : "";
  static const std::regex engineering(
      R"(\s*[-+]?(\d+\.?\d*|\.\d+)([eE][-+]?\d+)?\s*(meg|[afpnumkgt])?\s*)", std::regex::icase);
  static const std::regex integer(R"(\s*[-+]?\d+\s*)"),
      hexadecimal(R"(\s*(0[xX])?[0-9a-fA-F]+\s*)");
  bool ok = true;
  const bool comKeyword = name.rfind("com_", 0) == 0;
  switch (k->type) {
    case 's':
      ok = text || (comKeyword && (number || isNumberRows(value)));
      break;
    case 'i':
      ok = (number && PyIndex_Check(value.ptr())) || (text && std::regex_match(given, integer));
      break;
    case 'x':
      ok = (number && PyIndex_Check(value.ptr())) || (text && std::regex_match(given, hexadecimal));
      break;
    case 'e':
    case 'd':
    case 'f':
    case 'p':
      ok = number || (text && std::regex_match(given, engineering));
      break;
    default:
      ok = text || number;
  }
  if (!ok)
    throw py::value_error(
        "setting " + name + "=" + py::repr(value).cast<std::string>() + ": " +
        (comKeyword ? "a text, a number or a list of numbers (rows: a list of lists) is needed"
         : k->type == 's' ? "a text (str or path) is needed"
         : k->type == 'i' ? "a whole number is needed"
         : k->type == 'x' ? "hexadecimal digits are needed (13 for ports 1 and 3)"
                          : "a number is needed (a float, an int or a text such as '25.78125G')"));
}

// The unit (or the form of the value) of every setting of the analysis; the COM keywords
// carry theirs in the preset reader's table.
const std::map<std::string, std::string, std::less<>> kUnits = {
    {"input_ports", "two hexadecimal port digits"},
    {"output_ports", "two hexadecimal port digits"},
    {"limit_range", "0, 1 or 2"},
    {"PAM", "levels"},
    {"data_rate", "Bd"},
    {"baud_rate", "Bd"},
    {"Sparameters", "file name [inP inM outP outM]"},
    {"Thru", "file name [inP inM outP outM]"},
    {"NEXT", "file name [inP inM outP outM]"},
    {"FEXT", "file name [inP inM outP outM]"},
    {"save_file", "file name base"},
    {"results", "file name"},
    {"log", "file name"},
    {"signal", "V peak"},
    {"tx_rise", "s, or UI when 1 ms or more"},
    {"tx_near_rise", "s, or UI when 1 ms or more"},
    {"tx_far_rise", "s, or UI when 1 ms or more"},
    {"rx_rise", "s, or UI when 1 ms or more"},
    {"tx_bandwidth", "Hz, or a fraction of the rate when 100 or less"},
    {"tx_near_bandwidth", "Hz, or a fraction of the rate when 100 or less"},
    {"tx_far_bandwidth", "Hz, or a fraction of the rate when 100 or less"},
    {"rx_bandwidth", "Hz, or a fraction of the rate when 100 or less"},
    {"NEXT_amp", "V peak"},
    {"target_BER", "errors per bit, between 0 and 0.5"},
    {"g0Tx", "reflection coefficient at DC"},
    {"g0Rx", "reflection coefficient at DC"},
    {"Tx_resistance_error", "fraction, or ohm when above 1"},
    {"Rx_resistance_error", "fraction, or ohm when above 1"},
    {"pTx", "Hz, or a fraction of the rate between 0.1 and 10"},
    {"pRx", "Hz, or a fraction of the rate between 0.1 and 10"},
    {"implementation_noise_factor", "fraction of the signal"},
    {"implementation_gain_factor", "fraction"},
    {"DFE_length", "UI"},
    {"N_DFE", "UI"},
    {"E_DFE", "fraction"},
    {"oversample", "samples per UI"},
    {"slicer_allowance", "V peak"},
    {"a4_limit", "1/Hz^2"},
    {"summary", "file name"},
    {"strict", "0 or 1"},
    {"touchstone_reader", "standard or long-standing"},
    {"com", "preset name, preset file or parameter sheet (.xls, .xlsx)"}};

std::string unitOf(const std::string& name) {
  if (const auto u = kUnits.find(name); u != kUnits.end()) return u->second;
  for (const brevo::com::PresetKeyword& k : brevo::com::presetKeywords())
    if (name == k.name) return *k.unit ? k.unit : k.takes;
  return "-";
}

// The keywords, their defaults, units and the starter's notes, for run's documentation.
std::string keywordHelp() {
  std::string text =
      "\n\nSettings (keyword, type, default as the starter control file writes it, [unit or form], "
      "the starter's note; engineering suffixes a f p n u m k meg g t apply to numbers):\n";
  for (const Keyword& k : keywords()) {
    const char* type = k.type == 's'   ? "text"
                       : k.type == 'i' ? "integer"
                       : k.type == 'x' ? "hexadecimal"
                                       : "number";
    text += "    " + k.name + " (" + type + ") = " + (k.given.empty() ? "''" : k.given) + " [" +
            unitOf(k.name) + "]" + (k.comment.empty() ? "" : "  # " + k.comment) + "\n";
  }
  return text;
}

template <typename T>
py::array_t<T> array(const std::vector<T>& v) {
  return py::array_t<T>(static_cast<py::ssize_t>(v.size()), v.data());
}

// A setting's value as the text of its assignment: numbers in their shortest exact form,
// a text with blanks in quotes (as a control file writes a channel line with its ports).
std::string assignment(const std::string& name, const py::handle value) {
  std::string v;
  if (py::hasattr(value, "__fspath__"))
    v = py::module_::import("os").attr("fspath")(value).cast<std::string>();
  else if (py::isinstance<py::str>(value))
    v = value.cast<std::string>();
  else if (py::isinstance<py::bool_>(value))
    v = value.cast<bool>() ? "1" : "0";
  else if (PyIndex_Check(value.ptr()))
    v = py::repr(py::int_(py::reinterpret_borrow<py::object>(value))).cast<std::string>();
  else if (PyFloat_Check(value.ptr()) || py::hasattr(value, "__float__"))
    v = py::repr(py::float_(py::reinterpret_borrow<py::object>(value))).cast<std::string>();
  else
    throw py::type_error("setting " + name + " takes a str, an int or a float");
  if (v.find_first_of(" \t") != std::string::npos && v.front() != '"') v = '"' + v + '"';
  return name + "=" + v;
}

// The channels of one keyword: a list of them, or one alone.
// A channel as the network side takes it: a path (os.PathLike) as its text, a scikit-rf
// Network as a brevo.Network of its numbers (kept alive in keep for the run).
py::object plainChannel(const py::handle item, py::list& keep) {
  if (py::hasattr(item, "__fspath__")) return py::module_::import("os").attr("fspath")(item);
  const std::string module =
      py::hasattr(item, "__module__") ? py::str(item.attr("__module__")).cast<std::string>() : "";
  if (module.rfind("skrf", 0) == 0 && py::hasattr(item, "f") && py::hasattr(item, "s")) {
    const py::object name = py::hasattr(item, "name") && !item.attr("name").is_none()
                                ? item.attr("name")
                                : py::str("network");
    py::object net = py::module_::import("brevo").attr("Network")(item.attr("f"), item.attr("s"),
                                                                  py::arg("name") = name);
    keep.append(net);
    return net;
  }
  if (py::isinstance<py::tuple>(item) && py::len(item) == 2)
    return py::make_tuple(plainChannel(item[py::int_(0)], keep), item[py::int_(1)]);
  return py::reinterpret_borrow<py::object>(item);
}

void addChannels(const char* keyword, const py::handle given, std::vector<std::string>& args,
                 std::map<std::string, const Network*>& networks, py::list& keep) {
  if (given.is_none()) return;
  std::vector<py::object> items;
  if (py::isinstance<py::list>(given))
    for (const py::handle item : given) items.push_back(plainChannel(item, keep));
  else
    items.push_back(plainChannel(given, keep));
  for (const py::object& item : items)
    args.push_back(assignment(keyword, py::str(channelLine(item, networks))));
}

struct Outcome {
  int status = 0;
  std::string report, log;
  RunState rs;
};

// One run on the arguments, the networks taken from channels; nothing outside it is
// touched, so runs go on in several threads at once.
void runOnce(Outcome& o, const std::vector<std::string>& arguments,
             const std::map<std::string, std::shared_ptr<const ReadChannel>>& channels) {
  MemoryText out, err;
  RunState& rs = o.rs;
  rs.io.standardOutput = out.stream();
  rs.io.standardError = err.stream();
  rs.io.arguments = {"Brevo"};
  rs.io.arguments.insert(rs.io.arguments.end(), arguments.begin(), arguments.end());
  rs.io.argumentsOnly = true;
  rs.io.keepRecord = true;
  rs.io.keepCurves = true;
  rs.channels.readChannels = channels;
  o.status = runAnalysis(rs);
  o.report = out.take();
  o.log = err.take();
}

py::object figureValue(const py::object& figures, const char* key) {
  if (figures.is_none() || !figures.contains(key)) return py::none();
  const py::object f = figures[key];
  if (f.is_none() || py::isinstance<py::bool_>(f)) return f;
  const py::object v = f["value"];
  return py::isinstance<py::str>(v) ? py::float_(py::module_::import("builtins").attr("float")(v))
                                    : v;
}

// The record's com object the Python way: a figure {"value", "unit"} becomes NAME_unit
// (a float), a list of numbers a numpy array, each package case a dict of the same kind.
py::object comObject(const py::handle v) {
  const py::object builtins = py::module_::import("builtins");
  if (py::isinstance<py::dict>(v)) {
    py::dict d;
    for (const auto [key, x] : py::reinterpret_borrow<py::dict>(v)) {
      const std::string name = key.cast<std::string>();
      if (py::isinstance<py::dict>(x) && py::len(x) == 2 && x.contains("value") &&
          x.contains("unit")) {
        const std::string unit = x["unit"].cast<std::string>();
        const py::object value = x["value"];
        d[py::str(name == "seconds" || unit == "ratio" ? name : name + "_" + unit)] =
            value.is_none() ? value : builtins.attr("float")(value);
      } else if (name == "gDC2" && x.is_none()) {  // a one-stage CTLE
        d["gDC2_dB"] = x;
      } else {
        d[key] = comObject(x);
      }
    }
    return d;
  }
  if (py::isinstance<py::list>(v)) {
    bool numbers = py::len(v) > 0, integers = numbers;
    for (const py::handle x : v) {
      const bool notFinite =
          py::isinstance<py::str>(x) &&
          (x.equal(py::str("nan")) || x.equal(py::str("inf")) || x.equal(py::str("-inf")));
      numbers = numbers && !py::isinstance<py::bool_>(x) && (isNumber(x) || notFinite);
      integers = integers && py::isinstance<py::int_>(x) && !py::isinstance<py::bool_>(x);
    }
    if (integers) {
      std::vector<long long> a;
      for (const py::handle x : v) a.push_back(x.cast<long long>());
      return py::array_t<long long>(static_cast<py::ssize_t>(a.size()), a.data());
    }
    if (numbers) {
      std::vector<double> a;
      for (const py::handle x : v) a.push_back(builtins.attr("float")(x).cast<double>());
      return py::array_t<double>(static_cast<py::ssize_t>(a.size()), a.data());
    }
    py::list l;
    for (const py::handle x : v) l.append(comObject(x));
    return l;
  }
  return py::reinterpret_borrow<py::object>(v);
}

Result makeResult(const Outcome& o) {
  Result r;
  r.status = o.status;
  r.report = utf8(o.report);
  r.log = utf8(o.log);
  r.record = o.rs.io.record.empty()
                 ? py::object(py::none())
                 : py::module_::import("json").attr("loads")(utf8(o.rs.io.record));
  py::list warnings;
  for (const std::string& w : o.rs.io.warnings) warnings.append(utf8(w));
  r.warnings = warnings;
  py::dict figures;
  const py::object recorded = r.record.is_none() ? py::object(py::none()) : r.record["figures"];
  for (const FigureRow& f : kFigureRows) figures[f.key] = figureValue(recorded, f.key);
  r.figures = figures;
  r.com = r.record.is_none() || r.record["com"].is_none() ? py::object(py::none())
                                                          : comObject(r.record["com"]);
  py::list aggressors, skipped, transfers;
  if (!r.record.is_none()) {
    for (const py::handle a : r.record["aggressors"]) {
      py::dict d;
      d["file"] = a["file"], d["kind"] = a["kind"], d["ports"] = a["ports"];
      d["icn_mV"] = figureValue(py::dict(py::arg("icn") = a["icn"]), "icn");
      aggressors.append(d);
    }
    skipped = r.record["skipped"];
  }
  for (const CrosstalkNoise::Transfer& t : o.rs.crosstalk.transfers) {
    py::dict d;
    d["file"] = utf8(t.name), d["kind"] = t.kind == 'N' ? "NEXT" : "FEXT";
    d["frequency_Hz"] = array(t.frequency), d["transfer"] = array(t.transfer);
    transfers.append(d);
  }
  r.aggressors = aggressors, r.skipped = skipped, r.transfers = transfers;
  const ShortCurves& c = o.rs.pulse.curves;
  r.shortTime = array(c.time), r.pulse = array(c.pulse), r.dibit = array(c.dibit),
  r.fitPulse = array(c.fitPulse);
  const GridCurves& g = o.rs.ildAfterDfe.curves;
  r.frequency = array(g.frequency), r.thru = array(g.thru), r.fit = array(g.fit);
  std::vector<complex> ild(g.thru.size());
  for (std::size_t k = 0; k < ild.size(); ++k) ild[k] = g.thru[k] - g.fit[k];
  r.ild = array(ild);
  r.periodTime = array(g.periodTime), r.periodPulse = array(g.periodPulse);
  r.periodFitPulse = array(g.periodFitPulse), r.periodIldPulse = array(g.periodIldPulse);
  return r;
}

Result run(const py::args& args, const py::kwargs& kwargs) {
  std::vector<std::string> arguments;
  const py::object fspath = py::module_::import("os").attr("fspath");
  for (const py::handle a : args) arguments.push_back(fspath(a).cast<std::string>());
  std::map<std::string, const Network*> networks;
  py::list keep;  // networks made here from scikit-rf ones, alive until the run ends
  py::dict settings;
  bool check = false;
  for (const auto [key, value] : kwargs) {
    if (key.cast<std::string>() == "check")
      check = py::bool_(py::reinterpret_borrow<py::object>(value));
    else
      settings[key] = value;
  }
  for (const auto [key, value] : settings) {
    const std::string name = key.cast<std::string>();
    if (name != "thru" && name != "next" && name != "fext")
      checkSetting(name, py::hasattr(value, "__fspath__") ? py::str("path") : value);
  }
  for (const char* keyword : {"thru", "next", "fext"}) {
    const char* name = keyword[0] == 't' ? "Thru" : keyword[0] == 'n' ? "NEXT" : "FEXT";
    if (!settings.contains(keyword)) continue;
    addChannels(name, settings[keyword], arguments, networks, keep);
    PyDict_DelItemString(settings.ptr(), keyword);
  }
  for (const auto [key, value] : settings) {
    const std::string name = key.cast<std::string>();
    arguments.push_back(assignment(name, name.rfind("com_", 0) == 0 && isNumberRows(value)
                                             ? py::str(rowsText(value))
                                             : value));
  }
  std::map<std::string, std::shared_ptr<const ReadChannel>> channels;
  for (const auto& [name, net] : networks) channels[name] = net->channel;
  const auto outcome = std::make_unique<Outcome>();
  {
    py::gil_scoped_release unlocked;
    runOnce(*outcome, arguments, channels);
  }
  Result result = makeResult(*outcome);
  if (check && (result.status != 0 || py::len(result.warnings) > 0)) {
    std::string text = "the run ended with status " + std::to_string(result.status);
    for (const py::handle w : result.warnings) text += "; warning: " + w.cast<std::string>();
    if (result.status != 0 && py::len(result.warnings) == 0) {  // the log's last line says why
      std::string log = outcome->log;
      while (!log.empty() && log.back() == '\n') log.pop_back();
      text += ": " + log.substr(log.rfind('\n') == std::string::npos ? 0 : log.rfind('\n') + 1);
    }
    py::object error = py::reinterpret_borrow<py::object>(runError)(text);
    error.attr("result") = py::cast(std::move(result));
    PyErr_SetObject(runError, error.ptr());
    throw py::error_already_set();
  }
  return result;
}

}  // namespace

void defineRun(py::module_& m) {
  // numpy's interface is set up here, once: set up by the first array a run's result
  // makes, it would wait for the GIL while another thread making its first array holds
  // the GIL and waits for the set-up (runs that start in threads at once would hang).
  py::array_t<double>(0);
  runError = PyErr_NewExceptionWithDoc(
      "brevo.RunError",
      "A run given check=True that failed (status other than 0) or gave a warning; "
      "its result is in the attribute result.",
      PyExc_RuntimeError, nullptr);
  m.attr("RunError") = py::reinterpret_borrow<py::object>(runError);
  py::class_<Result> result(
      m, "Result",
      "What one run gave: its exit status, report and log text, run record, figures (in the "
      "attributes named with their units, None where the run ended before the figure), "
      "warnings, aggressors and waveforms as numpy arrays (empty where the run did not reach "
      "them).");
  result
      .def_readonly("status", &Result::status,
                    "The exit status the program would give (0: report complete).")
      .def_readonly("report", &Result::report,
                    "The report, as the program prints it on standard output.")
      .def_readonly("log", &Result::log, "The log, as the program prints it on standard error.")
      .def_readonly("record", &Result::record,
                    "The run record (summary=) as a dict; NaN and infinity as the strings 'nan', "
                    "'inf', '-inf'.")
      .def_readonly("warnings", &Result::warnings,
                    "The text of each warning at the end of the log.")
      .def_readonly("figures", &Result::figures,
                    "Every figure by its name in the run record (its unit in the record), as the "
                    "attributes give them.")
      .def_readonly(
          "aggressors", &Result::aggressors,
          "Each aggressor used, in report order: dict of file, kind (NEXT/FEXT), ports, icn_mV.")
      .def_readonly("skipped", &Result::skipped,
                    "Each aggressor skipped: dict of file, kind, ports, reason.")
      .def_readonly("com", &Result::com,
                    "COM (com=PRESET), None without it: the record's com object as a dict, each "
                    "figure as NAME_unit "
                    "(COM_dB, As_mV, sigma_ISI_mV, ...), lists of numbers as numpy arrays. "
                    "available, reason, verdict "
                    "('pass'/'fail'), COM_dB and pass_threshold_dB; cases: per package case its "
                    "figures, the chosen "
                    "equaliser (tx_taps with tx_cursor, gDC_dB, gDC2_dB, dfe_taps), pulse "
                    "(samples_per_ui, first_ui, "
                    "unequalised_mV, equalised_mV, cursor_sample, dfe_span), responses (f_GHz, "
                    "tx_ffe_dB, ctle_dB, "
                    "rx_ffe_dB), bathtub (amplitude_mV, probability: the chance the interference "
                    "and noise at the "
                    "sampling point close the eye by more than each amplitude, DER0) and "
                    "eye_contour (phase_ui, "
                    "upper_mV, lower_mV at DER0).")
      .def_readonly("transfers", &Result::transfers,
                    "Each aggressor used: dict of file, kind, frequency_Hz and its transfer "
                    "(complex) on its file's points.")
      .def_readonly("short_time_s", &Result::shortTime, "Time of the short waveforms (.wv1), s.")
      .def_readonly("pulse", &Result::pulse,
                    "The 1-UI pulse response for a 1 V transmitter (.wv1), signs as the side file "
                    "writes them.")
      .def_readonly("dibit", &Result::dibit, "The dibit response (.wv1).")
      .def_readonly("fit_pulse", &Result::fitPulse, "The pulse response of the loss fit (.wv1).")
      .def_readonly("frequency_Hz", &Result::frequency, "The uniform frequency grid (.fd), Hz.")
      .def_readonly("thru", &Result::thru,
                    "The thru's differential transfer on the grid (.fd), complex.")
      .def_readonly("fit", &Result::fit, "The loss fit on the grid (.fd), complex.")
      .def_readonly("ild", &Result::ild, "thru - fit on the grid (.fd), complex.")
      .def_readonly("period_time_s", &Result::periodTime,
                    "Time over one period (.wv2, with a DFE span only), s.")
      .def_readonly("period_pulse", &Result::periodPulse, "The pulse over one period (.wv2).")
      .def_readonly("period_fit_pulse", &Result::periodFitPulse,
                    "The fitted pulse over one period (.wv2).")
      .def_readonly("period_ild_pulse", &Result::periodIldPulse,
                    "The ILD pulse over one period (.wv2).")
      .def_property_readonly(
          "icn_mV",
          [](const Result& r) {
            py::dict d;
            for (const py::handle a : r.aggressors) {
              d[a["file"]] = a["icn_mV"];
              const std::string file = py::str(a["file"]).cast<std::string>();
              d[utf8(file.substr(file.rfind('/') == std::string::npos ? 0 : file.rfind('/') + 1))] =
                  a["icn_mV"];
            }
            return d;
          },
          "Each aggressor's ICN in mV rms, by file as given and by its base name (see aggressors "
          "for repeated files).")
      .def("__repr__", [](const Result& r) {
        return "<brevo.Result status=" + std::to_string(r.status) +
               " signal_to_noise=" + py::repr(r.figures["signal_to_noise"]).cast<std::string>() +
               ">";
      });
  // Every figure of the report (driver/figures.toml): its attribute, with its unit at the
  // end of the name, holds the record's value.
  for (const FigureRow& f : kFigureRows)
    result.def_property_readonly(
        f.attribute, [key = f.key](const Result& r) { return r.figures[key]; }, f.doc);

  static const std::string runDoc =
      std::string(
          "run(*arguments, thru=None, next=None, fext=None, check=False, **settings) -> Result\n\n"
          "One run of the analysis, the same as the program's: arguments are control files and "
          "assignments "
          "('lane.cf', 'N_DFE=12'), in order; thru, next and fext are channels (a file name, a "
          "channel line "
          "'lane.s4p 1 3 2 4', a Network, or (Network, '1 3 2 4')), next and fext a list of them, "
          "assigned after "
          "the arguments; settings become NAME=value assignments after those (brevo.run('link.cf', "
          "thru=net, "
          "N_DFE=12, PAM=4)); com='kr4' adds COM (result.com), and a com_ setting takes a text, a "
          "number or a list "
          "of numbers (rows: a list of lists), as com_b_max_2_N_b=[0.3, 0.2] or "
          "com_g_DC='-12:1:0'. "
          "A Network is taken as read, never read again. Every argument is a control file or "
          "an assignment (no options). Nothing is written unless a setting asks (save_file=, "
          "summary=, results=, "
          "log=). The run releases the GIL: runs in threads go on at once.\n\n"
          "Paths (arguments, channels, text settings) may be str or os.PathLike; a channel may "
          "also be a "
          "scikit-rf Network. A setting that is no keyword raises TypeError (naming the nearest "
          "keyword), a "
          "value its keyword cannot take ValueError, both before anything runs. check=True raises "
          "brevo.RunError when the run ends with a status other than 0 or gives a warning.") +
      keywordHelp();
  m.def("run", &run, runDoc.c_str());
}

}  // namespace brevo_python
