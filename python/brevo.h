// The Python module brevo: one channel file as a network object, and what the module's
// parts (networks, runs) share.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <complex>
#include <map>
#include <memory>
#include <string>

#include "RunState.h"

namespace py = pybind11;

namespace brevo_python {

// One network: the channel file exactly as a run takes it, and its numbers as numpy
// arrays (s[k, i, j] is S of port i+1 driven at port j+1 at frequency k).
struct Network {
  std::shared_ptr<const ReadChannel> channel;
  std::string name;  // the name a run's channel line gives it
  py::array_t<double> f;
  py::array_t<std::complex<double>> s;
};

// A text of the program's (a file name may hold any bytes) as a Python str, bytes that are
// no UTF-8 replaced.
inline py::str utf8(const std::string& s) {
  return py::reinterpret_steal<py::str>(
      PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "replace"));
}

// A network around a channel read or made in C++ (called with the GIL held).
Network makeNetwork(std::shared_ptr<const ReadChannel> channel, std::string name);

// A channel line from a str, a Network, or (str or Network, ports) with ports a text
// ("1 3 2 4") or numbers. A Network goes into networks under its name; two different
// networks of one name are refused (ValueError).
std::string channelLine(py::handle item, std::map<std::string, const Network*>& networks);

void defineNetwork(py::module_& m);
void defineRun(py::module_& m);

}  // namespace brevo_python
