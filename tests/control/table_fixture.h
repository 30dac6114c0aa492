// A registered table over one set of typed variables, shared by the control tests.
#pragma once

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "equal.h"

// Storage of every variable, with values no assignment in the tests produces by
// accident (-7, "old"), so "unchanged" is visible.
struct Vars {
  int PAM = -7;                               // i
  int input_ports = -7;                       // x
  double signal = -7;                         // e
  char Thru[kStringStorage] = "old";          // s
  double ratio = -7;                          // d
  float gain = -7;                            // f
  int count = -7;                             // p
  char label[8] = "keep";                     // S: accepts nothing
  // Sources of "%" references.
  char rate_text[kStringStorage] = "25G";     // s
  int ref_int = 13;                           // i: 13 is 0x13 = 19 if rescanned as hex
  double ref_double = 1234.5678;              // d
  double ref_e = -2.75;                       // e
  float ref_float = 0.1f;                     // f: widened exactly, 0.100000001490116...
  int ref_hex[1] = {5};                       // X: a reference reads no number from it
};

class Table {
 public:
  Table() {
    const struct {
      void* address;
      const char* definition;
      char type;
    } keys[] = {
        {&v.PAM, "PAM", 'i'},           {&v.input_ports, "input_ports", 'x'},
        {&v.signal, "signal", 'e'},     {v.Thru, "Thru", 's'},
        {&v.ratio, "ratio", 'd'},       {&v.gain, "gain", 'f'},
        {&v.count, "count", 'p'},       {v.label, "label", 'S'},
        {v.rate_text, "rate_text", 's'}, {&v.ref_int, "ref_int", 'i'},
        {&v.ref_double, "ref_double", 'd'}, {&v.ref_e, "ref_e", 'e'},
        {&v.ref_float, "ref_float", 'f'}, {v.ref_hex, "ref_hex", 'X'},
    };
    for (const auto& k : keys) add_variable(head.get(), k.address, k.definition, k.type);
  }
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  variable_def* get() { return head.get(); }

  // The first node of that name, found by walking the list as any reader would.
  const variable_def* node(const std::string& name) const {
    for (const variable_def* n = head.get(); n != nullptr && n->next != nullptr; n = n->next.get())
      if (n->name == name) return n;
    return nullptr;
  }

  // The stored value as text: integers "%d", doubles "%.15g", floats "%.7g".
  std::string valueOf(const std::string& name) const {
    const variable_def* n = node(name);
    if (n == nullptr) return "<absent>";
    if (n->type == 's' && n->address == nullptr) return n->ownedText;
    char buffer[64] = "";
    switch (n->type) {
      case 's': return static_cast<const char*>(n->address);
      case 'i': case 'x': case 'p': {
        int i;
        std::memcpy(&i, n->address, sizeof i);
        std::snprintf(buffer, sizeof buffer, "%d", i);
        break;
      }
      case 'e': case 'd': {
        double d;
        std::memcpy(&d, n->address, sizeof d);
        std::snprintf(buffer, sizeof buffer, "%.15g", d);
        break;
      }
      case 'f': {
        float f;
        std::memcpy(&f, n->address, sizeof f);
        std::snprintf(buffer, sizeof buffer, "%.7g", f);
        break;
      }
      case 'S': return static_cast<const char*>(n->address);
      default: break;
    }
    return buffer;
  }

  Vars v;

 private:
  std::unique_ptr<variable_def> head = create_variable_def();
};

// Everything written to a stream, read back from a temporary file.
inline std::string readAll(FILE* f) {
  std::string text;
  std::rewind(f);
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, got);
  return text;
}
