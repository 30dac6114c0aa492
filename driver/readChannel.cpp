// Reading one channel file, through the library's one way into a Touchstone file: a
// file that declares [Version] 2.0 or 2.1 goes to the standard reader, which says on the
// log how it was read; every other file goes to the long-standing reader exactly as
// before, with one warning when that reader, which takes every file as S-parameters at
// 50 ohm, would misread it. The file is opened once.
#include <sys/stat.h>

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "GlobalNames.h"
#include "stages.h"

ReadChannel readChannel(const std::string& name, TouchstoneReaders readers) {
  return readTouchstoneFile(name, {readers, {}});
}

namespace {

// The stamp of a regular file, or nothing (a pipe, a missing file: read each time).
std::optional<FileStamp> stampOf(const std::string& name) {
  struct stat st;
  if (stat(name.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  FileStamp s;
  s.device = st.st_dev;
  s.inode = st.st_ino;
  s.size = st.st_size;
  s.seconds = st.st_mtim.tv_sec;
  s.nanoseconds = st.st_mtim.tv_nsec;
  return s;
}

// The file as read before in this run when it has not changed since, else read now and
// kept for the next channel line that names it (unless it changed while being read).
std::shared_ptr<const ReadChannel> readOnce(const RunGiven& given, ChannelCache& channels,
                                            const std::string& name) {
  const std::optional<FileStamp> before = stampOf(name);
  const auto known = channels.filesRead.find(name);
  if (before && known != channels.filesRead.end() && known->second.stamp == *before)
    return known->second.read;
  // touchstone_reader=standard reads 1.x files by their option line too (a 75 ohm or a
  // Z-parameter file analysed as what it holds); anything else, the long-standing way.
  const bool standard = std::string_view(given.settings.touchstone_reader) == "standard";
  auto read = std::make_shared<const ReadChannel>(
      readChannel(name, standard ? TouchstoneReaders::standard : TouchstoneReaders::byVersion));
  if (before && stampOf(name) == before)
    channels.filesRead[name] = {*before, read};
  else
    channels.filesRead.erase(name);
  return read;
}

}  // namespace

std::shared_ptr<const ReadChannel> heldChannel(const RunGiven& given, ChannelCache& channels,
                                               const std::string& name) {
  const auto kept = channels.readChannels.find(name);
  return kept != channels.readChannels.end() ? kept->second : readOnce(given, channels, name);
}

brevo::Result<ChannelFile> readChannelFile(const RunGiven& given, RunIO& io, ChannelCache& channels,
                                           const std::string& name) {
  return channelRead(io, *heldChannel(given, channels, name));
}

brevo::Result<ChannelFile> channelRead(RunIO& io, const ReadChannel& read) {
  const TouchstoneReading& got = read.value;
  // The reader's lines and warnings, as if the file had been read here and now.
  std::fwrite(got.logText.data(), 1, got.logText.size(), io.log);
  for (const std::string& w : got.warnings) warn(io, w);
  brevo::Result<ChannelFile> r;
  r.value = {got.set, got.how, read.status != TouchstoneReadStatus::cannotOpen};
  // The standard reader's error: the rule a Version 2.x file broke, or a file there that
  // did not open.
  if (!got.standard.ok && !got.standard.error.rule.empty()) {
    r.status = 1;
    r.message = got.standard.message();
  }
  return r;
}
