// Channel lines, the save base name and the aggressor kind taken from a name.

#include "channelLists.h"
#include "stages.h"
#include "workspace.h"

namespace {

// The defaults 5 6 7 8 differ from every port a case writes, so a leaking default shows.
TEST(FixChannelLine, WordCountsSettlePortsAndName) {
  const struct {
    const char* line;
    int status;
    std::vector<int> ports;
  } cases[] = {// "31": two hex digits
               {"thru.s4p", 0, {5, 6, 7, 8}},
               {"thru.s4p 31", 0, {3, 1, 7, 8}},
               {"thru.s4p 1f", 0, {1, 15, 7, 8}},
               {"thru.s4p qq", 0, {5, 6, 7, 8}},
               {"thru.s4p 3 1", 0, {3, 1, 7, 8}},
               {"thru.s4p 3 q", 0, {3, 6, 7, 8}},
               {"thru.s4p 0x1 0 2 0", 0, {1, 0, 2, 0}},
               {"thru.s4p 010 0 2 0", 0, {8, 0, 2, 0}},
               {"thru.s4p q 0 2 0", 0, {5, 0, 2, 0}},
               {"thru.s4p \t 2  1\t4 3\r\n", 0, {2, 1, 4, 3}},
               {"", 0, {5, 6, 7, 8}},
               {"thru.s4p 1 2 3", 1, {}},
               {"thru.s4p 1 2 3 4 5", 1, {}},
               {"thru.s4p 1 2 3 4 5 6", 1, {}}};
  for (const auto& c : cases) {
    channelLine entry{c.line};
    EXPECT_EQ(fixChannelLine(entry, 5, 6, 7, 8), c.status) << c.line;
    EXPECT_TRUE(c.status ||
                (entry.name == (c.line[0] ? "thru.s4p" : "") &&
                 std::vector({entry.inP, entry.inM, entry.outP, entry.outM}) == c.ports))
        << c.line;
  }
}

TEST(SaveBaseName, CutsLastExtensionOrFirstBlank) {
  const char* cases[][2] = {
      {"run1.txt", "run1"},   {"out.v2/run", "out"},   {"ab", ""},       {"", ""},
      {"abc", "abc"},         {"a.b.c", "a.b"},        {"run 1", "run"}, {"x\tlong", "x"},
      {".hidden", ".hidden"}, {"dir/run\n", "dir/run"}};
  for (const auto& c : cases) EXPECT_EQ(saveBaseName(c[0]), c[1]) << c[0];
}

// Aggressors on the Thru list: a kind word in the name decides, upper case before lower
// and words before single letters; with none, the far end.
TEST(AggressorKind, FromTheName) {
  for (const auto& [name, kind] :
       std::vector<std::pair<const char*, char>>{{"lane3_fext.s4p", 'F'},
                                                 {"lane3_next.s4p", 'N'},
                                                 {"chan.s4p", 'N'},
                                                 {"a.s4p", 'F'},
                                                 {"dir_NEXT/x_fext.s4p", 'N'},
                                                 {"FEXT_next.s4p", 'F'},
                                                 {"Fn.s4p", 'F'},
                                                 {"xF.s4p", 'F'}})
    EXPECT_EQ(aggressorKind(name), kind) << name;
}

}  // namespace
