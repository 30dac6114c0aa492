// The words of an option line, for both readers and the writer (not installed): the
// frequency units, the network parameters, the pair formats and the reference resistance.
#pragma once

#include <array>
#include <string_view>

#include "TouchstoneCore.h"
#include "detail/Characters.h"

namespace brevo {

namespace touchstone_detail {

struct FrequencyUnit {
  std::string_view name;  // as the standard writes it
  double hertz;
  int digits;  // the power of ten of hertz
};
inline constexpr std::array<FrequencyUnit, 4> kFrequencyUnits{
    {{"Hz", 1.0, 0}, {"kHz", 1e3, 3}, {"MHz", 1e6, 6}, {"GHz", 1e9, 9}}};

struct PairFormat {
  std::string_view name;
  format fmt;
};
inline constexpr std::array<PairFormat, 3> kPairFormats{{{"RI", RI}, {"MA", MA}, {"DB", DB}}};

// The parameters a file may hold, one letter each.
inline constexpr std::string_view kParameters = "SYZHG";
// The option-line item that the reference resistances follow.
inline constexpr std::string_view kResistance = "R";

// The unit or the format of that name, whatever the case of its letters; null for none.
inline const FrequencyUnit* unitNamed(std::string_view name) {
  for (const FrequencyUnit& u : kFrequencyUnits)
    if (sameText(name, u.name)) return &u;
  return nullptr;
}
inline const PairFormat* formatNamed(std::string_view name) {
  for (const PairFormat& f : kPairFormats)
    if (sameText(name, f.name)) return &f;
  return nullptr;
}
inline bool isParameter(char c) { return kParameters.find(upper(c)) != std::string_view::npos; }

}  // namespace touchstone_detail

}  // namespace brevo
