// The control-file keywords: their registration, the starter control file that gives
// their defaults, and the help text. Keyword lines of the starter file put their
// comment in column 31; its continuation comments begin with 30 blanks or with three
// tabs and six blanks.
#include "entry.h"
#include "presets.h"

namespace {

struct Keyword {
  void* address;
  const char* definition;  // the name, or "name=" to assign the empty value at once
  char type;               // x hexadecimal int, i int, e engineering double, s text
};

}  // namespace

void registerKeywords(RunGiven& given) {
  Settings& s = given.settings;
  s.oversample = 4;  // no line in the starter file sets it
  s.strict = 0;
  const Keyword keywords[] = {
      {&s.input_ports, "input_ports", 'x'},
      {&s.output_ports, "output_ports", 'x'},
      {&s.limit_range, "limit_range", 'i'},
      {&s.PAM, "PAM", 'i'},
      {&s.data_rate, "data_rate=", 'e'},  // one rate, two names; 0 until the defaults
      {&s.data_rate, "baud_rate=", 'e'},
      {s.Thru, "Sparameters", 's'},
      {s.Thru, "Thru", 's'},
      {s.NEXT, "NEXT", 's'},
      {s.FEXT, "FEXT", 's'},
      {s.save_file, "save_file", 's'},
      {s.results, "results", 's'},
      {s.log, "log", 's'},
      {&s.signal, "signal", 'e'},
      {&s.tx_rise, "tx_rise", 'e'},
      {&s.tx_bandwidth, "tx_bandwidth", 'e'},
      {&s.tx_near_rise, "tx_near_rise", 'e'},
      {&s.tx_near_bandwidth, "tx_near_bandwidth", 'e'},
      {&s.tx_far_rise, "tx_far_rise", 'e'},
      {&s.tx_far_bandwidth, "tx_far_bandwidth", 'e'},
      {&s.rx_rise, "rx_rise", 'e'},
      {&s.rx_bandwidth, "rx_bandwidth", 'e'},
      {&s.NEXT_amp, "NEXT_amp", 'e'},
      {&s.target_BER, "target_BER", 'e'},
      {&s.g0Tx, "g0Tx", 'e'},
      {&s.Tx_resistance_error, "Tx_resistance_error", 'e'},
      {&s.g0Rx, "g0Rx", 'e'},
      {&s.Rx_resistance_error, "Rx_resistance_error", 'e'},
      {&s.pTx, "pTx", 'e'},
      {&s.pRx, "pRx", 'e'},
      {&s.implementation_noise_factor, "implementation_noise_factor", 'e'},
      {&s.implementation_gain_factor, "implementation_gain_factor", 'e'},
      {&s.N_DFE, "DFE_length", 'e'},
      {&s.N_DFE, "N_DFE", 'e'},
      {&s.E_DFE, "E_DFE", 'e'},
      {&s.oversample, "oversample", 'i'},
      {&s.slicer_allowance, "slicer_allowance", 'e'},
      {&s.a4_limit, "a4_limit", 'e'},
      {s.summary, "summary", 's'},                      // no line in the starter file either
      {&s.strict, "strict", 'i'},                       // nor here
      {s.touchstone_reader, "touchstone_reader", 's'},  // nor here
  };
  if (!given.table) given.table = create_variable_def();
  for (const Keyword& k : keywords)
    add_variable(given.table.get(), k.address, k.definition, k.type);
  // COM: the preset (com=NAME or com=FILE applies it at once) and every com_ keyword, as
  // texts the preset reader checks; none is in the starter file.
  add_variable(given.table.get(), given.comPreset, "com", 's');
  const auto& com = brevo::com::presetKeywords();
  if (given.comTexts.size() != com.size()) given.comTexts.assign(com.size(), {});
  for (std::size_t k = 0; k < com.size(); ++k)
    add_variable(given.table.get(), given.comTexts[k].data(), com[k].name, 's');
}

const char kStarterControlFile[] =
    "\n"
    "# Default control file for program \"Brevo\"\n"
    "# \n"
    "# Text following a '#' is treated as comment\n"
    "# For all float variables, suffixes:  a, p, n, u, m, k, meg, g may be used.\n"
    "# \n"
    "# Order matters, later definitions over ride earlier definitions.\n"
    "#\n"
    "# System declarations\n"
    "#######################################################\n"
    "# File information \n"
    "result=                       # Filename for the results \n"
    "                              # default for linux is stdout\n"
    "                              # Windows default is <this less suffix>.txt\n"
    "log=                          # Filename for the log file \n"
    "                              # default for linux is stderr\n"
    "                              # Windows default is <this less suffix>.log\n"
    "save_file=                    # optional base file name for saving some \n"
    "                              # interesting but not necessary things\n"
    "\t\t\t      # like waveforms etc\n"
    "# Sparameters \n"
    "Thru=                         # Thru Sparameters\n"
    "NEXT=                         # Near end crosstalk Sparameters\n"
    "FEXT=                         # Far end crosstalk Sparameters\n"
    "\n"
    "#######################################################\n"
    "# System declarations\n"
    "baud_rate=25.78125G           # Data rate\n"
    "PAM=2                         # PAM=2 means NRZ\n"
    "target_BER=1e-12              # System target BER\n"
    "input_ports=13                # Default input ports \n"
    "                              # (2 Hex numbers for up to s15p)\n"
    "output_ports=24               # Default output ports \n"
    "                              # (2 Hex numbers for up to s15p)\n"
    "# Ports may also be speparately specified for specific sets of S-parameters,\n"
    "# either Thru or crosstalk. \n"
    "#      To specify ports for a set of S-parameters append the port numbers \n"
    "#      of the 4 ports in decimal format, blank space separated, \n"
    "#      in the order, inP inM outP outM, to the end of the line\n"
    "#      To specify a single ended channel, set M ports to 0\n"
    "#\n"
    "# implementaiton penalties\n"
    "implementation_noise_factor=10m \n"
    "implementation_gain_factor=0.850\n"
    "# Parameter to control S21 Curve fitting \n"
    "limit_range=2                 # Limits range of fitting: \n"
    "                              # 0 no limit \n"
    "\t\t\t      # 1=soft limit\n"
    "\t\t\t      # 2=hard limit\n"
    "#\n"
    "#\n"
    "#######################################################\n"
    "# Transmitter characteristics \n"
    "# Transmit characteristics for the thru and xtalk channels are specified \n"
    "# independently\n"
    "signal=400m                   # Thru channel transmit amplitude\n"
    "tx_rise=0.0                   # 20-80% rise-fall time in seconds or UI\n"
    "tx_bandwidth=0.55             # bandwidth in either absolute BW or BW/data_rate\n"
    "                              # specify one, set the other to zero.\n"
    "\t\t\t      # If both are non-zero tx_rise will be used\n"
    "\t\t\t      # If both are zero Tx bandwidth is infinite\n"
    "# Transmitter return loss declarations\n"
    "g0Tx=161m                     # Tx DC reflection coefficient \n"
    "Tx_resistance_error=0         # If non-zero overrides g0Tx.  \n"
    "                              # If |Tx_resistance_error| < 1, \n"
    "\t\t\t      # it is fractional error;\n"
    "                              # otherwise, error in ohms out of 50 Ohm\n"
    "pTx=1.25                      # Frequency where Tx return loss=3dB \n"
    "                              # either absolute or fraction of data_rate\n"
    "#\n"
    "# NEXT Transmitter characteristics\n"
    "NEXT_amp=600m                 # Xtalk channel transmit amplitude\n"
    "tx_near_rise=0.0              # Tx rise-fall time for NEXT source,\n"
    "                              # in seconds or UI\n"
    "tx_near_bandwidth=1.00        # Tx bandwith for NEXT source\n"
    "                              # set the same way as Thru Tx\n"
    "#\n"
    "# FEXT transmitter characteristics\n"
    "tx_far_rise=0.0               # Tx rise-fall time for FEXT source,\n"
    "                              # in seconds or UI\n"
    "tx_far_bandwidth=0.55         # Tx bandwith for FEXT source\n"
    "                              # set the same way as Thru Tx\n"
    "#\n"
    "#\n"
    "#######################################################\n"
    "#Receiver characteristics:\n"
    "# Receiver declarations\n"
    "rx_bandwidth=0.75             # Receiver bandwidth, either absolute BW or \n"
    "                              # BWrelative to data_rate \n"
    "rx_rise=0.0                   # Equivalent Rx risetime, either absolute or in UI\n"
    "                              # specify one, set the other to zero.\n"
    "\t\t\t      # If both are non-zero rx_rise will be used\n"
    "\t\t\t      # If both are zero rx bandwidth is infinite\n"
    "# Receiver return loss declarations\n"
    "g0Rx=161m                     # Rx DC reflection coefficient \n"
    "Rx_resistance_error=0         # If non-zero overrides g0Rx.  \n"
    "                              # If |Rx_resistance_error| < 1, \n"
    "\t\t\t      # it is fractional error;\n"
    "                              # otherwise, error in ohms out of 50 Ohm\n"
    "pRx=1.25                      # Frequency where Rx return loss=3dB \n"
    "                              # either absolute or fraction of data_rate\n"
    "#\n"
    "slicer_allowance=10m          # Minimum signal required by the input latch,\n"
    "                              # Volts peak\n"
    "N_DFE=8.0                     # Time in UI for which DFE corrects ILD\n"
    "E_DFE=0.0                     # Amount of noise leakage during DFE\n"
    "#\n";

const char kHelpText[] =
    " estimates channel available S/N ratio using methods described in: \n"
    "     https://standards.ieee.org/ieee/802.3/10422/ \n"
    "     https://doi.org/10.1002/j.1538-7305.1985.tb00030.x\n"
    "\n"
    "usage:  Brevo [-c] [-?] <control file> \n"
    "the -c option sends a starter control file to standard output \n"
    "the -? option prints this statement \n"
    "\n"
    "This program is a work in progress with many odd diagnostic outputs to \n"
    "stderr,  it is recommended that stderr be redirected to avoid confusion  \n";

const char kUsageLine[] = "usage:  Brevo  [-c][-?]. . . <control file> . . .\n";
