// Path and default-stream helpers of the run.
#pragma once

#include <cstdio>
#include <string>

// A file name from a base name and a suffix: the name cut at its first "." after
// the first character, then the suffix appended. The base directory is unused.
std::string rePath(const char* base, const char* name, const char* suffix);

// The base directory of the run: always ".".
std::string pwd(int argc, char** argv);

// The default result and log streams: standard output and standard error.
FILE* initialOut(int argc, char** argv);
FILE* initialLog(int argc, char** argv);
