// Channel lists, through-channel selection and the names of the side files.
#pragma once

#include <string>

// The base name of the side files from save_file: the name without its last
// extension, or cut at its first blank-like character after the first; empty
// (no side files) for a name of at most 2 characters.
std::string saveBaseName(const char* saveFile);
