// brevo.Network, brevo.read, brevo.write and brevo.cascade.
#include <sys/stat.h>

#include <pybind11/complex.h>
#include <pybind11/stl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "Cascade.h"
#include "ReplaceFile.h"
#include "GlobalNames.h"
#include "brevo.h"
#include "stages.h"

namespace brevo_python {

namespace {

using complex = std::complex<double>;

// Thrown inside the bindings only; pybind11 turns it into brevo.TouchstoneError.
struct TouchstoneFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A run's log line for a network it did not read from a file, as the reader says it.
std::string readLine(const std::string& name, const Sparams& set) {
  char text[64];
  std::snprintf(text, sizeof text, " size %d for %d frequencies\n", set.Size(), set.Fcount());
  return "#read " + name + text;
}

std::shared_ptr<ReadChannel> madeChannel(Sparams set, const std::string& name, const char* how) {
  auto c = std::make_shared<ReadChannel>();
  TouchstoneReading& r = c->value;
  r.logText = readLine(name, set);
  r.how = how;
  r.info.ports = set.Size();
  r.info.points = set.Fcount();
  r.info.references.assign(static_cast<std::size_t>(set.Size()), 50.0);
  r.set = std::move(set);
  return c;
}

void checkName(const std::string& name) {
  if (name.empty() || name.find_first_of(" \t\r\n\"") != std::string::npos)
    throw py::value_error(
        "a network's name is one word without quotes, as a channel line's file name is, not \"" +
        name + "\"");
}

py::list texts(const std::vector<std::string>& v) {
  py::list out;
  for (const std::string& s : v) out.append(utf8(s));
  return out;
}

Network fromArrays(py::array_t<double, py::array::c_style | py::array::forcecast> f,
                   py::array_t<complex, py::array::c_style | py::array::forcecast> s,
                   std::string name, std::vector<std::string> comments) {
  checkName(name);
  if (f.ndim() != 1 || s.ndim() != 3 || s.shape(0) != f.shape(0) || s.shape(1) != s.shape(2) ||
      f.shape(0) < 1 || s.shape(1) < 1)
    throw py::value_error(
        "f is a 1-D array of K frequencies (Hz) and s a K x N x N array, K and N at least 1");
  const auto points = static_cast<std::size_t>(f.shape(0));
  const auto n = static_cast<std::size_t>(s.shape(1));
  std::vector<double> hertz(f.data(), f.data() + points);
  std::vector<complex> entries(s.data(), s.data() + points * n * n);
  Sparams set =
      Sparams::fromMatrices(name, static_cast<int>(n), std::move(hertz), std::move(entries));
  if (set.Size() == 0) throw py::value_error("the network is too large");
  for (const std::string& c : comments) set.setComment(c.c_str());
  return makeNetwork(madeChannel(set, name, "given as a network in memory"), name);
}

Network read(const std::string& path) {
  auto channel = std::make_shared<ReadChannel>();
  {
    py::gil_scoped_release unlocked;
    *channel = readChannel(path);
  }
  // A file that cannot be opened is an OSError (FileNotFoundError, PermissionError,
  // IsADirectoryError).
  const TouchstoneReading& got = channel->value;
  if (channel->status == TouchstoneReadStatus::cannotOpen ||
      channel->status == TouchstoneReadStatus::folder) {
    errno = got.systemError;
    PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
    throw py::error_already_set();
  }
  if (channel->status == TouchstoneReadStatus::refused) throw TouchstoneFailure(channel->message);
  if (got.set.Size() < 1 || got.set.Fcount() < 1) {
    std::string why = path + " holds no network data (no option line, or fewer than two records)";
    for (std::size_t at = 0; at < got.logText.size();) {  // the reader's own reason, if it gave one
      const std::size_t end = std::min(got.logText.find('\n', at), got.logText.size());
      const std::string line = got.logText.substr(at, end - at);
      if (!line.empty() && !line.starts_with("#read ")) why = line;
      at = end + 1;
    }
    throw TouchstoneFailure(why);
  }
  return makeNetwork(std::move(channel), path);
}

// The converter's options as "name=value" texts, checked by the converter's own rules.
TouchstoneWriteOptions writeOptions(const py::object& version, const std::string& format,
                                    const std::string& unit, double R, const std::string& matrix) {
  TouchstoneWriteOptions o;
  char ohms[40];
  std::snprintf(ohms, sizeof ohms, "%.17g", R);
  for (const std::string& arg :
       {"version=" + py::str(version).cast<std::string>(), "format=" + format, "unit=" + unit,
        std::string("R=") + ohms, "matrix=" + matrix})
    if (const std::string why = setWriteOption(arg, o); !why.empty()) throw py::value_error(why);
  if (o.version == 1 && o.matrixFormat != "Full")
    throw py::value_error("matrix=upper and matrix=lower need version=2");
  return o;
}

void write(const std::string& path, const Network& net, const py::object& version,
           const std::string& format, const std::string& unit, double R,
           const std::string& matrix) {
  const TouchstoneWriteOptions o = writeOptions(version, format, unit, R, matrix);
  std::string why;
  FileStatus written;
  {
    py::gil_scoped_release unlocked;
    Sparams set = net.channel->value.set;
    const int n = set.Size();
    if (o.reference != 50) {  // every network here is at 50 ohm: renormalised to R
      const std::vector<double> from(static_cast<std::size_t>(n), 50.0),
          to(static_cast<std::size_t>(n), o.reference);
      std::vector<double> hertz;
      std::vector<complex> entries, m(static_cast<std::size_t>(n) * n);
      for (int k = 0; k < set.Fcount() && why.empty(); ++k) {
        hertz.push_back(set.Freq(k));
        for (int i = 1; i <= n; ++i)
          for (int j = 1; j <= n; ++j)
            m[static_cast<std::size_t>((i - 1) * n + j - 1)] = set.matrixEntry(k, i, j);
        if (!renormalise(m, n, from, to))
          why = "the network cannot be renormalised to R at " + std::to_string(set.Freq(k)) + " Hz";
        entries.insert(entries.end(), m.begin(), m.end());
      }
      if (why.empty()) {
        Sparams renormalised =
            Sparams::fromMatrices(set.fileName(), n, std::move(hertz), std::move(entries));
        for (const auto& c : set.Comments()) renormalised.setComment(c->c_str());
        set = renormalised;
      }
    }
    if (why.empty() && o.matrixFormat != "Full") {
      if (const std::string r = nonReciprocal(set); !r.empty())
        why = "matrix=" + matrix + " needs a reciprocal network; " + r;
    }
    if (why.empty()) written = replaceFileText(path, formatTouchstone(set, o));
  }
  if (!why.empty()) throw py::value_error(why);
  if (!written.ok()) {
    errno = written.status;
    PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
    throw py::error_already_set();
  }
}

Network cascadeNetworks(const py::sequence& elements, const std::string& name) {
  checkName(name);
  if (py::len(elements) < 2) throw py::value_error("at least two elements are needed");
  std::map<std::string, const Network*> networks;
  std::vector<ElementLine> lines;
  for (const py::handle item : elements) {
    const std::string text = channelLine(item, networks);
    const auto line = parseElementLine(text);
    if (!line) throw py::value_error("channel line \"" + text + "\": " + line.message);
    lines.push_back(line.value);
  }
  std::vector<CascadeElement> chain(lines.size());
  std::vector<bool> given(lines.size());
  for (std::size_t e = 0; e < lines.size(); ++e) {
    const auto net = networks.find(lines[e].file);
    if (net == networks.end()) continue;
    chain[e] = {net->second->channel->value.set, lines[e].ports};
    given[e] = true;
  }
  std::string why;
  Sparams joined;
  {
    py::gil_scoped_release unlocked;
    for (std::size_t e = 0; e < lines.size() && why.empty(); ++e) {
      if (given[e]) continue;
      auto element = readElement(lines[e]);
      if (element)
        chain[e] = std::move(element.value);
      else
        why = element.message;
    }
    if (why.empty()) {
      const CascadeResult result = cascade(chain);
      if (!result)
        why = result.message;
      else
        joined = joinedSet(result.value, lines, name.c_str());
    }
  }
  if (!why.empty()) throw TouchstoneFailure(why);
  return makeNetwork(madeChannel(joined, name, "joined by brevo.cascade"), name);
}

py::object toSkrf(const Network& n) {
  py::module_ skrf;
  try {
    skrf = py::module_::import("skrf");
  } catch (py::error_already_set& e) {
    if (!e.matches(PyExc_ImportError)) throw;
    throw py::import_error("to_skrf needs scikit-rf (Debian: python3-scikit-rf)");
  }
  std::string comments;
  for (const auto& c : n.channel->value.set.Comments())
    comments += (comments.empty() ? "" : "\n") + *c;
  const std::size_t slash = n.name.find_last_of('/');
  std::string stem = n.name.substr(slash == std::string::npos ? 0 : slash + 1);
  stem = stem.substr(0, stem.find_last_of('.'));
  const py::object frequency = skrf.attr("Frequency").attr("from_f")(n.f, py::arg("unit") = "hz");
  return skrf.attr("Network")(py::arg("frequency") = frequency, py::arg("s") = n.s,
                              py::arg("z0") = 50.0, py::arg("name") = stem,
                              py::arg("comments") = comments);
}

}  // namespace

Network makeNetwork(std::shared_ptr<const ReadChannel> channel, std::string name) {
  Network n{std::move(channel), std::move(name), {}, {}};
  const Sparams& set = n.channel->value.set;
  const auto points = static_cast<py::ssize_t>(set.Fcount()),
             ports = static_cast<py::ssize_t>(set.Size());
  n.f = py::array_t<double>(points);
  n.s = py::array_t<complex>({points, ports, ports});
  double* f = n.f.mutable_data();
  complex* s = n.s.mutable_data();
  {
    py::gil_scoped_release unlocked;
    for (int k = 0; k < points; ++k) {
      f[k] = set.Freq(k);
      for (int i = 1; i <= ports; ++i)
        for (int j = 1; j <= ports; ++j) *s++ = set.matrixEntry(k, i, j);
    }
  }
  // The arrays are the network's numbers as a run takes them: not to be changed in place.
  n.f.attr("setflags")(py::arg("write") = false);
  n.s.attr("setflags")(py::arg("write") = false);
  return n;
}

std::string channelLine(py::handle item, std::map<std::string, const Network*>& networks) {
  py::handle what = item;
  std::string ports;
  if (py::isinstance<py::tuple>(item)) {
    const py::tuple t = py::reinterpret_borrow<py::tuple>(item);
    if (t.size() != 2) throw py::value_error("a channel with ports is (file or network, ports)");
    what = t[0];
    if (py::isinstance<py::str>(t[1]))
      ports = t[1].cast<std::string>();
    else if (py::isinstance<py::sequence>(t[1]) && !py::isinstance<Network>(t[1]))
      for (const py::handle p : t[1].cast<py::sequence>())
        ports += (ports.empty() ? "" : " ") + std::to_string(p.cast<int>());
    else
      throw py::type_error(
          "a channel with ports is (file or network, '1 3 2 4' or four numbers); several channels "
          "go in a list");
  }
  std::string line;
  if (py::isinstance<py::str>(what)) {
    line = what.cast<std::string>();
  } else {
    if (!py::isinstance<Network>(what))
      throw py::type_error("a channel is a file name, a channel line or a brevo.Network");
    const Network& net = what.cast<const Network&>();
    checkName(net.name);
    const auto [at, added] = networks.emplace(net.name, &net);
    if (!added && at->second->channel != net.channel)
      throw py::value_error("two different networks named " + net.name +
                            " in one call; give one another name");
    line = net.name;
  }
  return ports.empty() ? line : line + " " + ports;
}

void defineNetwork(py::module_& m) {
  py::register_exception<TouchstoneFailure>(m, "TouchstoneError", PyExc_ValueError);
  m.attr("TouchstoneError").attr("__doc__") =
      "A Touchstone file that breaks a rule of its format, or that cannot be joined; the message "
      "names the "
      "file and, where one applies, its line (\"lane.ts:12: rule\").";

  py::class_<Network>(
      m, "Network",
      "An N-port network on K frequencies, S-parameters at 50 ohm: a Touchstone file as Brevo "
      "reads "
      "it (brevo.read), a joined channel (brevo.cascade) or arrays of your own.\n\n"
      "f: frequencies in Hz (K); s: complex S (K x N x N), s[k, i, j] the wave leaving port i+1 "
      "for "
      "one entering port j+1. Both are read-only: a run takes the network's numbers as they are.")
      .def(py::init(&fromArrays), py::arg("f"), py::arg("s"), py::arg("name") = "network",
           py::arg("comments") = std::vector<std::string>(),
           "Network(f, s, name='network', comments=[]): a network from frequencies (Hz) and "
           "S-parameters "
           "(K x N x N, 50 ohm). name is the word a run's log and report give it.")
      .def_readonly("f", &Network::f, "Frequencies in Hz, float64, one per point.")
      .def_readonly("s", &Network::s,
                    "S-parameters, complex128, points x ports x ports; s[k, i, j] is S(i+1)(j+1).")
      .def_readonly("name", &Network::name, "The path it was read from, or the name it was given.")
      .def_property_readonly(
          "ports", [](const Network& n) { return n.channel->value.set.Size(); }, "Number of ports.")
      .def_property_readonly(
          "points", [](const Network& n) { return n.channel->value.set.Fcount(); },
          "Number of frequencies.")
      .def_property_readonly(
          "comments",
          [](const Network& n) {
            std::vector<std::string> c;
            for (const auto& line : n.channel->value.set.Comments())
              c.push_back(line->substr(0, line->find_last_not_of("\r\n") + 1));
            return texts(c);
          },
          "The file's comment lines, in order.")
      .def_property_readonly(
          "version", [](const Network& n) { return n.channel->value.info.version; },
          "The Touchstone version: '1.x' for a file read by the long-standing reader, '2.0' or "
          "'2.1' by the standard reader, '' for a network not read from a file.")
      .def_property_readonly(
          "parameter",
          [](const Network& n) { return std::string(1, n.channel->value.info.parameter); },
          "The parameter the file holds (S, Y, Z, H or G); s is always S.")
      .def_property_readonly(
          "references", [](const Network& n) { return n.channel->value.info.references; },
          "The reference of each port in ohms as the file gives it; s is at 50 ohm.")
      .def_property_readonly(
          "conversions", [](const Network& n) { return texts(n.channel->value.info.conversions); },
          "What the reader did to reach single-ended S at 50 ohm.")
      .def_property_readonly(
          "how", [](const Network& n) { return n.channel->value.how; },
          "How it was read, as a run's record says it.")
      .def_property_readonly(
          "warnings", [](const Network& n) { return texts(n.channel->value.warnings); },
          "The warnings a run gives for this file (a deviation read leniently, data the "
          "long-standing reader misreads).")
      .def_property_readonly(
          "log", [](const Network& n) { return n.channel->value.logText; },
          "The lines a run's log gets for reading it.")
      .def("to_skrf", &toSkrf, "The same network as a skrf.Network (needs scikit-rf).")
      .def("__len__", [](const Network& n) { return n.channel->value.set.Fcount(); })
      .def("__repr__", [](const Network& n) {
        return "<brevo.Network " + n.name + ": " + std::to_string(n.channel->value.set.Size()) +
               " ports, " + std::to_string(n.channel->value.set.Fcount()) + " frequencies>";
      });

  m.def("read", &read, py::arg("path"),
        "read(path) -> Network\n\nReads a Touchstone file as a Brevo run reads it: Version 1.x by "
        "the long-standing "
        "reader (S-parameters at 50 ohm whatever the option line says; warnings says when that "
        "misreads it), "
        "Version 2.0 and 2.1 by the standard reader (any parameter, matrix format and references, "
        "converted to "
        "single-ended S at 50 ohm). Raises OSError when the file cannot be opened and "
        "brevo.TouchstoneError, "
        "with the file and line, when it breaks a rule of its format or holds no data.");
  m.def("write", &write, py::arg("path"), py::arg("network"), py::arg("version") = 1,
        py::arg("format") = "RI", py::arg("unit") = "Hz", py::arg("R") = 50.0,
        py::arg("matrix") = "full",
        "write(path, network, version=1, format='RI', unit='Hz', R=50.0, matrix='full')\n\nWrites "
        "the network "
        "as a Touchstone file, as brevo-touchstone does: version 1 or 2, format RI, MA or DB, unit "
        "Hz, kHz, MHz "
        "or GHz, every port renormalised to R ohms, matrix full, upper or lower (version 2, "
        "reciprocal "
        "networks). Numbers in their shortest form that reads back as the same double. The file is "
        "replaced "
        "whole or not at all. ValueError for a bad option, OSError when it cannot be written.");
  m.def(
      "cascade", &cascadeNetworks, py::arg("elements"), py::arg("name") = "joined",
      "cascade(elements, name='joined') -> Network\n\nJoins channel elements in signal order as "
      "brevo-cascade "
      "does (exact network connection, 50 ohm): each element's output pair to the next one's input "
      "pair. An "
      "element is a channel line ('pkg.s4p' or 'card.s4p 1 2 3 4'), a Network, or (Network, ports) "
      "with "
      "ports '1 3 2 4' or four numbers; ports default to 1 3 2 4, minus ports of 0 make an element "
      "single-ended. The result is a 4-port (input pair 1,3, output pair 2,4) or a 2-port, on the "
      "first "
      "element's frequencies. brevo.TouchstoneError when an element cannot be read or joined.");
}

}  // namespace brevo_python
