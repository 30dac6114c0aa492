// A file replaced whole or not at all: its new text goes to a temporary file beside it,
// renamed over it only once every byte arrived, so a full disk or a failing write leaves
// the file as it was and nothing beside it.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "outputFile.h"

// Writes the file `name` through write(path), which writes the file at path by name and
// returns its FileStatus (success, or the errno value of its failure). A new or regular file is
// written as NAME.XXXXXX beside it (beside the file a link points to), with the mode the file has
// (a new file's for a new one), and renamed over it when write succeeded; on any failure
// the temporary file is removed. Anything else (a device, a pipe) is written in place:
// there is nothing to replace, and a rename would put a plain file in the device's stead.
// Gives back success, or the errno value of the failure (making the temporary file,
// writing it or renaming it) with the system's text for it.
FileStatus replaceFile(const std::string& name,
                       const std::function<FileStatus(const char* path)>& write);

// replaceFile with the whole text of the new file.
FileStatus replaceFileText(const std::string& name, std::string_view text);
