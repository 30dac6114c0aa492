// COM presets: the com_ keywords a control file (a preset) gives, read into Params with
// every value checked, and the places named presets are found.
//
// Keyword names follow the parameter sheets' keys with "com_" in front:
//   - a key's letters and case are kept: f_b -> com_f_b, A_v -> com_A_v,
//     package_tl_gamma0_a1_a2 -> com_package_tl_gamma0_a1_a2;
//   - an index in parentheses follows an "_", a minus sign written "m", a range "2..N_b"
//     written "2_N_b": c(0) -> com_c_0, c(-1) -> com_c_m1, b_max(2..N_b) -> com_b_max_2_N_b;
//   - a qualifier in parentheses follows an "_": z_p (TX) -> com_z_p_TX;
//   - a key of plain words is written in lower case joined by "_", a leading "COM"
//     dropped: Local Search -> com_local_search, COM Pass threshold -> com_pass_threshold,
//     Include PCB -> com_include_pcb, z_p select -> com_z_p_select.
// Values are in the sheets' units (GBd, GHz, ns, nF, nH, mm, V, UI, dB) and are
// converted here into the units Params holds (Bd, Hz, s, F, H; mm and V^2/GHz stay).
// The sheet's port order is no keyword: the run's ports give it.
#pragma once

#include <string>
#include <vector>

#include "com.h"

namespace brevo::com {

// One com_ keyword: its name, the sheet key it stands for ("" for our own), its unit as
// written, and what it takes.
struct PresetKeyword {
  const char* name;
  const char* sheetKey;
  const char* unit;
  const char* takes;
};
// Every com_ keyword, in the order a run registers them.
const std::vector<PresetKeyword>& presetKeywords();

// One keyword's value as the run holds it: its text, and where it was last set
// ("kr4.cf line 12", "argument 3"); where is empty when nothing set it since the preset
// was applied.
struct PresetValue {
  std::string name;
  std::string text;
  std::string where;
};

// What a preset's values make: the Params (filled as far as the values allow) and every
// problem found, each a line without its newline: where the value was set, the keyword and
// its text, and what is wrong ("kr4.cf line 14: com_A_v=-0.4: must be above 0"); a required
// keyword nothing set is named with the preset ("com_f_b is not set by kr4.cf").
struct PresetReading {
  Params params;
  std::vector<std::string> problems;
};

// The values read (names not among them are unset); status 1 when there is a problem, the
// message then the first of them.
brevo::Result<PresetReading> readPresetValues(const std::vector<PresetValue>& values,
                                              const std::string& preset);

// Where named presets are looked for, in order: the folder BREVO_COM_PRESETS names,
// share/brevo/com beside the running program's folder (bin/ or a build folder), the
// installed folder, and the source tree's com/presets.
std::vector<std::string> presetFolders();
// The names of the presets in those folders (the .cf files' stems), sorted, each once.
std::vector<std::string> presetNames();

// The file a com= value names: a value holding "/" or "." is a file of the user's, any
// other the preset of that name; status 1 and why when there is none.
brevo::Result<std::string> findPreset(const std::string& value);

}  // namespace brevo::com
