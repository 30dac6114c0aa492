// The one way into a Touchstone file: opened once, its bytes taken once, its version seen
// in them, and the bytes handed to the long-standing or the standard reader.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "TouchstoneStandard.h"
#include "FileText.h"

namespace brevo {

namespace {

// White space, punctuation and control characters of the C locale.
bool trimmable(char ch) {
  const auto c = static_cast<unsigned char>(ch);
  if (c < 32 || c == 127 || c == ' ') return true;
  return (c >= '!' && c <= '/') || (c >= ':' && c <= '@') || (c >= '[' && c <= '`') ||
         (c >= '{' && c <= '~');
}

bool exists(const std::string& name) {
  struct stat st;
  return stat(name.c_str(), &st) == 0;
}

std::string ohms(const std::vector<double>& r) {
  std::string s;
  for (double v : r) {
    char text[32];
    std::snprintf(text, sizeof text, "%s%g", s.empty() ? "" : " ", v);
    s += text;
  }
  return s;
}

// The converted file's suggested name: the stem, "_s50" and the extension, a ".z4p"
// style one turned into ".s4p".
std::string convertedName(const std::string& name) {
  const std::size_t slash = name.find_last_of('/');
  std::size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = name.size();
  std::string ext = name.substr(dot);
  if (ext.size() >= 4 && std::string("yYzZhHgG").find(ext[1]) != std::string::npos) ext[1] = 's';
  return name.substr(0, dot) + "_s50" + ext;
}

// What a Version 1.x option line declares, into r.info, and the one warning for a file
// the long-standing reader misreads, from what the file's text declares.
void warnMisread(TouchstoneReading& r, const Version1Declarations& d) {
  if (!d.optionLine) return;
  const std::string& name = r.name;
  r.info.parameter = d.parameter;
  r.info.optionR = d.R.empty() ? 50 : d.R.front();
  if (d.R.size() > 1)
    r.info.references = d.R;
  else
    r.info.references.assign(static_cast<std::size_t>(r.set.Size()), r.info.optionR);
  std::string what;
  auto add = [&](const std::string& s) { what += (what.empty() ? "" : ", ") + s; };
  if (d.parameter != 'S') add(std::string(1, d.parameter) + " data taken as S-parameters");
  if (d.R.size() > 1)
    add("per-port R " + ohms(d.R) + " taken as 50 ohm");
  else if (d.R.size() == 1 && d.R.front() != 50)
    add("R " + ohms(d.R) + " taken as 50 ohm");
  if (d.commentAfterData)
    add("the comment after the numbers of line " + std::to_string(d.commentAfterData) +
        " taken as a value");
  if (r.set.Size() == 2) {
    if (const int k = r.set.firstPointOutOfOrder(true))
      add("the noise block from point " + std::to_string(k + 1) + " taken as network data");
  }
  if (what.empty()) return;
  r.warnings.push_back(name + " will be misread (" + what +
                       "); convert it first: brevo-touchstone " + name + " " + convertedName(name));
}

// The status of read unless an earlier one (the file did not open, a folder) stands.
void settle(TouchstoneRead& read, TouchstoneReadStatus status, std::string message) {
  if (!read.ok()) return;
  read.status = status;
  read.message = std::move(message);
}

// The long-standing reader on the text, with its log lines; misread warnings for a
// regular file.
void readLongStanding(TouchstoneRead& read, std::string_view text, bool regular) {
  TouchstoneReading& r = read.value;
  ReadResult got = parseTouchstone(text, r.name);
  r.keywordLines = got.touchstone2Keywords;
  if (got.status == ReadStatus::noOptionLine)
    settle(read, TouchstoneReadStatus::noOptionLine, "no option line");
  else if (got.status == ReadStatus::incomplete)
    settle(read, TouchstoneReadStatus::incomplete, "the data end before every record was read");
  else if (got.status == ReadStatus::tooLarge)
    settle(read, TouchstoneReadStatus::tooLarge, got.message);
  char line[1200];
  if (got.status == ReadStatus::tooLarge) {
    r.logText += got.message + "\n";
  } else if (got.status != ReadStatus::noOptionLine) {
    std::snprintf(line, sizeof line, "#read %s size %0d for %d frequencies\n", r.name.c_str(),
                  got.set.Size(), got.set.Fcount());
    r.logText += line;
  }
  if (got.touchstone2Keywords)
    r.logText += r.name + " uses Touchstone 2.0 keywords, which this reader does not support\n";
  r.set = std::move(got.set);
  r.info.version = "1.x";
  r.info.ports = r.set.Size();
  r.info.points = r.set.Fcount();
  r.info.references.assign(static_cast<std::size_t>(r.set.Size()), 50.0);
  if (regular) warnMisread(r, declarationsOf(text, r.name));
  r.how = "Touchstone 1.x, read as S-parameters at 50 ohm";
}

void readStandard(TouchstoneRead& read, std::string_view text,
                  const TouchstoneReadOptions& options) {
  TouchstoneReading& r = read.value;
  r.standard = parseTouchstoneStandard(text, r.name, options);
  const TouchstoneFile& f = r.standard;
  for (const auto& d : f.info.deviations) r.warnings.push_back(f.message(d) + "; " + d.taken);
  if (!f.ok) {
    r.logText = f.message() + "\n";
    settle(read, TouchstoneReadStatus::refused, f.message());
    return;
  }
  r.logText = f.summary() + "\n";
  r.how = f.summary().substr(r.name.size() + 2);
  r.set = f.set;
  r.info = f.info;
}

}  // namespace

std::string readerFileName(std::string name) {
  if (name.empty() || exists(name)) return name;
  std::size_t len = name.size();
  while (len > 1 && trimmable(name[len - 1])) --len;
  name.resize(len);
  return name;
}

TouchstoneRead readTouchstoneFile(const std::string& path,
                                  const TouchstoneReadingOptions& options) {
  TouchstoneRead read;
  TouchstoneReading& r = read.value;
  r.name = path;
  r.standard.name = path;
  const bool legacy = options.readers != TouchstoneReaders::standard;
  auto cannotOpen = [&] {
    if (legacy) r.logText += "cannot open for read:  " + r.name + "\n";
  };
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    r.systemError = errno;
    settle(read, TouchstoneReadStatus::cannotOpen, std::strerror(r.systemError));
    // A name carried over with a trailing blank, carriage return or stray punctuation
    // (the long-standing reader's way): cut them off and try again.
    if (legacy && !exists(path)) {
      r.name = readerFileName(path);
      r.standard.name = r.name;
      cannotOpen();
      if (!exists(r.name)) return read;
      fd = open(r.name.c_str(), O_RDONLY | O_CLOEXEC);
    }
    if (fd < 0) {
      if (legacy && exists(r.name)) cannotOpen();
      r.standard.error = {0, std::string("cannot open: ") + std::strerror(r.systemError), {}};
      return read;
    }
  }
  struct stat st;
  const bool known = fstat(fd, &st) == 0;
  const bool regular = known && S_ISREG(st.st_mode);
  if (known && S_ISDIR(st.st_mode)) {
    r.systemError = EISDIR;
    settle(read, TouchstoneReadStatus::folder, std::strerror(EISDIR));
    if (!legacy) {  // it opens, but reads as no text
      close(fd);
      r.standard.error = {0, std::string("cannot open: ") + std::strerror(EISDIR), {}};
      return read;
    }
  }
  try {
    const brevo::io::FileText contents(fd);
    close(fd);
    fd = -1;
    const std::string_view text = contents.text();
    r.version = touchstoneVersionOf(text);
    const bool standard = options.readers == TouchstoneReaders::standard ||
                          (options.readers == TouchstoneReaders::byVersion && r.version == 2);
    if (standard)
      readStandard(read, text, options.standard);
    else
      readLongStanding(read, text, regular);
  } catch (const std::bad_alloc&) {
    // A file larger than the memory left for it; the readers' own limits catch sets that
    // would be too large, this catches the text itself.
    if (fd >= 0) close(fd);
    r.set = Sparams();
    if (legacy) r.logText = r.name + ": too large to hold in memory; not read\n";
    if (!legacy) r.standard.error = {0, "too large to hold in memory", {}};
    settle(read, TouchstoneReadStatus::outOfMemory, "too large to hold in memory");
  }
  return read;
}

TouchstoneFile readTouchstone(const std::string& path, const TouchstoneReadOptions& options) {
  return readTouchstoneFile(path, {TouchstoneReaders::standard, options}).value.standard;
}

}  // namespace brevo
