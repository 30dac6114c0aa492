// Joining channel elements (package, card, connector, backplane) into one channel:
// each element's output pair is connected to the next element's input pair, and the
// scattering matrices are combined with the exact network connection (star product).
// One reference impedance for every port, 50 ohm, as in every file we read and write.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Result.h"
#include "GlobalNames.h"

// The ports of one element, 1-based port numbers of its file. A minus port of 0 makes
// the element single-ended: a 2-port from inP to outP. Ports of the file that are not
// named here are taken as terminated in the reference impedance.
struct ElementPorts {
  int inP = 1;
  int inM = 3;
  int outP = 2;
  int outM = 4;
  bool singleEnded() const { return inM == 0; }
  int pairSize() const { return inM == 0 ? 1 : 2; }  // ports on each side
};

// One channel line: a file name, optionally followed by port numbers.
struct ElementLine {
  std::string file;
  ElementPorts ports;
};

// Reads a channel line the way control files write them, split at white space:
//   name                   ports 1 3 2 4
//   name XY                two hexadecimal digits: inP = X, inM = Y, outputs 2 4
//   name inP inM           outputs 2 4
//   name inP inM outP outM
// Port words are integers in C notation (decimal, 0x hexadecimal, leading-0 octal).
// Unlike the analysis, which keeps a default for a word it cannot read, a joining tool
// refuses it: a wrong port silently replaced would give a wrong channel.
// Fails (status 1) with a message saying what is wrong (no file name in it).
brevo::Result<ElementLine> parseElementLine(std::string_view line);

// Checks the ports against a set of `ports` ports: every named port inside 1..ports,
// no port named twice, both minus ports 0 or neither. Fails (status 1) with why.
brevo::Result<void> checkElementPorts(const ElementPorts& p, int ports);

// The element's scattering matrix in the order (inP, inM, outP, outM), or (inP, outP)
// when single-ended: entry (r, c) is the wave leaving port r for a wave entering port c.
// Taken from the set's matrix view. Ports must have passed checkElementPorts.
cmatrix elementMatrix(const Sparams& s, const ElementPorts& p, int k);     // stored point k
cmatrix elementMatrix(const Sparams& s, const ElementPorts& p, double f);  // interpolated

// Star (Redheffer) product: A's last half of ports connected to B's first half. Both are
// 2m x 2m in the order (inputs, outputs); the result is A's inputs and B's outputs.
// Computed with products and one left division, no explicit inverse. Empty when the
// shapes do not match.
cmatrix starProduct(const cmatrix& A, const cmatrix& B);

// An element ready to join: its set and the ports in use.
struct CascadeElement {
  Sparams set;
  ElementPorts ports;
};

// The joined channel: the first element's grid and one matrix per point, in the order
// (inputs, outputs).
struct Joined {
  std::vector<double> freq;
  std::vector<cmatrix> S;
};
// The join, or status 1 and why it cannot be made (frequency range, ports, kinds, a
// singular junction), naming the element's file; nothing joined then.
using CascadeResult = brevo::Result<Joined>;

// Reads the file of one channel line, with the line's ports, as a run reads a channel
// file (Version 1.x by the long-standing reader, 2.x by the standard reader). Fails
// (status 1) saying why it cannot be joined (the file cannot be read, breaks a rule of
// Version 2.x, is too large, holds keyword lines after a 1.x option line, holds no data,
// or ends inside its data), naming the file.
brevo::Result<CascadeElement> readElement(const ElementLine& line);

// Relative tolerance at the ends of an element's frequency range: a grid frequency this
// close outside [F0, Fmax] is taken at the end point.
inline constexpr double kCoverTolerance = 1e-9;

CascadeResult cascade(const std::vector<CascadeElement>& chain);

// The set the writer takes: a 4-port in port order 1 3 2 4 (1, 3 the input pair, 2, 4
// the output pair), or a 2-port 1 -> 2. Empty set when the matrices are neither 2x2
// nor 4x4.
Sparams cascadeToSparams(const std::vector<double>& freq, const std::vector<cmatrix>& S,
                         const char* name);

// The joined set as cascadeToSparams gives it, with one comment line per element
// ("element 1: FILE  ports 1 3 2 4"), lines[e] naming element e.
Sparams joinedSet(const Joined& joined, const std::vector<ElementLine>& lines, const char* name);
