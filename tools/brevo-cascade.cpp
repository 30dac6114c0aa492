// brevo-cascade: joins channel elements (package, card, connector, backplane), each a
// Touchstone file, into one channel file that Brevo reads as its through channel.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Cascade.h"
#include "ReplaceFile.h"
#include "GlobalNames.h"
#include "outputFile.h"

namespace {

// Exit statuses.
constexpr int kOk = 0;
constexpr int kBadInput = 1;  // a file, its ports or its frequency range
constexpr int kUsage = 2;
constexpr int kCannotWrite = 3;

const char kUsageText[] =
    "usage: brevo-cascade OUT FILE1 FILE2 [FILE3 ...]\n"
    "Joins channel elements in order, each one's output pair to the next one's input\n"
    "pair (exact network connection, 50 ohm), and writes the joined channel to OUT as a\n"
    "Touchstone file in RI format.\n"
    "  FILE  a channel line: a file name, optionally followed in the same (quoted)\n"
    "        argument by the ports \"inP inM outP outM\" (default 1 3 2 4); minus ports\n"
    "        of 0 make the element single-ended, a 2-port from inP to outP. Ports of a\n"
    "        file not named are taken as terminated in 50 ohm.\n"
    "  OUT   a 4-port with the input pair on ports 1,3 and the output pair on 2,4, or\n"
    "        a 2-port 1 -> 2 when every element is single-ended. It is on the first\n"
    "        element's frequency grid; every other element must cover that grid and is\n"
    "        interpolated onto it.\n"
    "Exit status: 0 OUT written; 1 a file that cannot be read or holds no data, bad\n"
    "ports, elements of different kinds or a frequency range not covered; 2 usage;\n"
    "3 OUT cannot be written. On any non-zero status OUT is left as it was.\n";

// Each pair as real and imaginary part with 17 significant digits, so that reading the
// file back returns the computed doubles.
const char kValueFormat[] = "%.16e %.16e  ";

// OUT is replaced whole or not at all.
int writeResult(const std::string& outName, const Sparams& set) {
  const FileStatus written = replaceFile(outName, [&](const char* path) {
    return fileStatus(
        set.print(path, "joined by brevo-cascade", RI, kValueFormat, nullptr) != 0 ? errno : 0);
  });
  if (written.ok()) return kOk;
  sayNotWritten(stderr, "brevo-cascade", outName.c_str(), written);
  return kCannotWrite;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
    std::fputs(kUsageText, stdout);
    return kOk;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("brevo-cascade %s\n", BREVO_VERSION);
    return kOk;
  }
  if (argc < 4) {
    if (argc == 3) std::fprintf(stderr, "brevo-cascade: at least two elements are needed\n");
    std::fputs(kUsageText, stderr);
    return kUsage;
  }
  const std::string outName = argv[1];

  std::vector<ElementLine> lines;
  for (int a = 2; a < argc; ++a) {
    const auto line = parseElementLine(argv[a]);
    if (!line) {
      std::fprintf(stderr, "brevo-cascade: channel line \"%s\": %s\n", argv[a],
                   line.message.c_str());
      return kBadInput;
    }
    lines.push_back(line.value);
  }

  std::vector<CascadeElement> chain(lines.size());
  for (std::size_t e = 0; e < lines.size(); ++e) {
    auto element = readElement(lines[e]);
    if (!element) {
      std::fprintf(stderr, "brevo-cascade: %s\n", element.message.c_str());
      return kBadInput;
    }
    chain[e] = std::move(element.value);
  }

  const CascadeResult joined = cascade(chain);
  if (!joined) {
    std::fprintf(stderr, "brevo-cascade: %s\n", joined.message.c_str());
    return kBadInput;
  }

  const Sparams out = joinedSet(joined.value, lines, outName.c_str());
  if (int status = writeResult(outName, out)) return status;

  std::fprintf(stderr, "brevo-cascade: wrote %s: %d ports, %d frequencies, %.9g Hz to %.9g Hz\n",
               outName.c_str(), out.Size(), out.Fcount(), out.Freq(0), out.fmax());
  return kOk;
}
