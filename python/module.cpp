// The Python module brevo: the Touchstone reader and writer, the element joiner and the
// whole analysis, with numpy arrays.
#include "brevo.h"

PYBIND11_MODULE(brevo, m) {
  m.doc() =
      "Brevo from Python: read and write Touchstone files (read, write, Network), join channel "
      "elements "
      "(cascade) and run the signal-to-noise analysis of one lane (run, Result), the same numbers "
      "as the "
      "Brevo program. Reads, writes, joins and runs release the GIL.";
  m.attr("__version__") = BREVO_VERSION;
  // Each docstring starts with its own signature, in Python's terms.
  py::options options;
  options.disable_function_signatures();
  brevo_python::defineNetwork(m);
  brevo_python::defineRun(m);
}
