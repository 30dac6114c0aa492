// The control table: typed assignments, references, hostile input, over-long texts,
// engineering numbers and output-file names.

#include "equal.h"
#include "variants.h"
#include "workspace.h"

namespace {

// A stored value as text: integers "%d", doubles "%.15g", floats "%.7g", else the text.
std::string show(char type, const void* at) {
  char b[64];
  if (std::strchr("ixp", type))
    return std::snprintf(b, sizeof b, "%d", *static_cast<const int*>(at)), b;
  if (std::strchr("ed", type))
    return std::snprintf(b, sizeof b, "%.15g", *static_cast<const double*>(at)), b;
  if (type == 'f') return std::snprintf(b, sizeof b, "%.7g", *static_cast<const float*>(at)), b;
  return static_cast<const char*>(at);
}

// Every type code once, with values no assignment produces by accident (-7, "old"), and
// sources of "%" references (13 would be 0x13 = 19 if rescanned as hex).
class Table {
 public:
  int PAM = -7, input_ports = -7, count = -7, ref_int = 13, ref_hex[1] = {5};
  double signal = -7, ratio = -7, ref_double = 1234.5678, ref_e = -2.75;
  float gain = -7, ref_float = 0.1f;  // widened exactly: 0.100000001490116...
  char Thru[kStringStorage] = "old", label[8] = "keep", rate_text[kStringStorage] = "25G";

  Table() {
    const struct {
      void* address;
      const char* name;
      char type;
    } keys[] = {{&PAM, "PAM", 'i'},
                {&input_ports, "input_ports", 'x'},
                {&signal, "signal", 'e'},
                {Thru, "Thru", 's'},
                {&ratio, "ratio", 'd'},
                {&gain, "gain", 'f'},
                {&count, "count", 'p'},
                {label, "label", 'S'},
                {rate_text, "rate_text", 's'},
                {&ref_int, "ref_int", 'i'},
                {&ref_double, "ref_double", 'd'},
                {&ref_e, "ref_e", 'e'},
                {&ref_float, "ref_float", 'f'},
                {ref_hex, "ref_hex", 'X'}};
    for (const auto& k : keys) add_variable(head.get(), k.address, k.name, k.type);
  }
  variable_def* get() { return head.get(); }
  const variable_def* node(const std::string& name) const {  // the first of that name
    const variable_def* n = head.get();
    while (n->next != nullptr && n->name != name) n = n->next.get();
    return n->next ? n : nullptr;
  }
  std::string valueOf(const std::string& name) const {
    const variable_def* n = node(name);
    return n == nullptr            ? "<absent>"
           : n->address == nullptr ? n->ownedText
                                   : show(n->type, n->address);
  }

 private:
  std::unique_ptr<variable_def> head = create_variable_def();
};

const bool kEnvironment = [] {
  setenv("BREVO_TEST_FILE", "my channel.s4p 1 3 2 4", 1);
  setenv("BREVO_TEST_SIGNAL", "400m", 1);
  setenv("BREVO_TEST_REF", "%rate_text", 1);
  setenv("BREVO_TEST_LONG", std::string(1500, 'e').c_str(), 1);
  return unsetenv("BREVO_TEST_UNSET") == 0;
}();

// The value afterwards as Table::valueOf writes it; -7 / "old" mean unchanged.
struct Step {
  std::string text;
  int status;
  const char* variable;
  std::string expected;
};

const std::string kMega(1 << 20, '9');

const std::vector<Step> kAssignments = {
    // Every type code: i x e s d f p S; a text no conversion takes is status 3.
    {"PAM=4.7", 0, "PAM", "4"},
    {"PAM=four", 3, "PAM", "-7"},
    {"PAM=0x10", 0, "PAM", "0"},
    {"PAM=99999999999", 0, "PAM", "2147483647"},
    {"input_ports=13", 0, "input_ports", "19"},
    {"input_ports=ffffffff", 0, "input_ports", "-1"},
    {"input_ports=zz", 3, "input_ports", "-7"},
    {"\tsignal\t=\t400 m\t # volts", 0, "signal", "0.4"},
    {"ratio=1.5e3", 0, "ratio", "1500"},
    {"ratio=1k", 0, "ratio", "1"},
    {"ratio=x", 3, "ratio", "-7"},
    {"gain=1e999", 0, "gain", "inf"},
    {"gain=y", 3, "gain", "-7"},
    {"count=-3.9", 0, "count", "-3"},
    {"count=nan", 0, "count", "0"},
    {"count=-1e10", 0, "count", "-2147483648"},
    {"count=many", 3, "count", "-7"},
    {"label=changed", 0, "label", "keep"},
    {"signal=", 0, "signal", "0"},
    {"PAM=", 3, "PAM", "-7"},
    // Blanks, quotes, comments, line ends, names.
    {"Thru=a b", 0, "Thru", "ab"},
    {"Thru=\"a#b\" c d", 0, "Thru", "a#b"},
    {"Thru=\"it's\"", 0, "Thru", "it's"},
    {"Thru=x y'a b'", 0, "Thru", "xya b"},
    {"Thru='a b\nc", 0, "Thru", "a b\nc"},
    {"Thru=abc#def", 0, "Thru", "abc"},
    {"Thru=file.s4p\r\n", 0, "Thru", "file.s4p"},
    {"Thru=", 0, "Thru", ""},
    {"PAM 4", 1, "PAM", "-7"},
    {"", 1, "PAM", "-7"},
    {"pam=5", 1, "PAM", "-7"},
    {"=5", 1, "PAM", "-7"},
    // "$" environment references.
    {"Thru=$BREVO_TEST_FILE", 0, "Thru", "my channel.s4p 1 3 2 4"},
    {"signal=$BREVO_TEST_UNSET", 2, "signal", "-7"},
    {"signal=$BREVO_TEST_SIGNAL", 0, "signal", "0.4"},
    {"signal=$BREVO_TEST_REF", 0, "signal", "25000000000"},
    // "%" references: a text is converted, a number carried over or written "%d" / "%11.3e".
    {"signal=%rate_text # baud", 0, "signal", "25000000000"},
    {"PAM=%rate_text", 0, "PAM", "25"},
    {"Thru=%rate_text", 0, "Thru", "25G"},
    {"signal=%ref_double", 0, "signal", "1234.5678"},
    {"input_ports=%ref_int", 0, "input_ports", "13"},
    {"PAM=%ref_e", 0, "PAM", "-2"},
    {"gain=%ref_double", 0, "gain", "1234.568"},
    {"ratio=%ref_float", 0, "ratio", "0.100000001490116"},
    {"Thru=%ref_int", 0, "Thru", "13"},
    {"Thru=%ref_double", 0, "Thru", "  1.235e+03"},
    {"PAM=%ref_hex", 0, "PAM", "-7"},
    {"PAM=%no_such_name", 1, "PAM", "-7"},
    // Huge texts, embedded NULs, views whose text ends without a terminator.
    {"PAM=" + kMega, 0, "PAM", "2147483647"},
    {"signal=" + kMega, 0, "signal", "inf"},
    {"Thru=\"" + std::string(1 << 20, ' '), 3, "Thru", "old"},
    {kMega + "=1", 1, "PAM", "-7"},
    {std::string("PAM=7\0"
                 "8",
                 7),
     0, "PAM", "7"},
    {std::string("PAM\0=9", 6), 1, "PAM", "-7"},
};

TEST(Assign, StatusAndStoredValueThroughBothOverloads) {
  for (const Step& c : kAssignments) {
    SCOPED_TRACE(c.text.substr(0, 60));
    Table t, u;
    EXPECT_EQ(equal(t.get(), c.text.c_str()), c.status);
    EXPECT_EQ(t.valueOf(c.variable), c.expected);
    const std::string padded = c.text + '9';  // a digit after the view it must never read
    EXPECT_EQ(equal(u.get(), std::string_view(padded).substr(0, c.text.size())), c.status);
    EXPECT_EQ(u.valueOf(c.variable), c.expected);
  }
}

// Unknown names become owned string variables that any later text replaces; the first node
// of a name takes its assignments; null tables and texts are refused.
TEST(Assign, StepsOnOneTable) {
  const Step steps[] = {{"my_note = hello world", 1, "my_note", "helloworld"},
                        {"my_note=" + std::string(5000, 'z'), 0, "my_note", std::string(5000, 'z')},
                        {"my_note=short", 0, "my_note", "short"},
                        {"rate=25.78125G", 1, "rate", "25.78125G"},
                        {"signal=%rate", 0, "signal", "25781250000"},
                        {"copy=%ref_double", 1, "copy", "  1.235e+03"},
                        {"fresh=$BREVO_TEST_UNSET", 2, "fresh", "<absent>"},
                        {"fresh=%no_such_name", 1, "fresh", "<absent>"}};
  Table t;
  for (const Step& c : steps) {
    EXPECT_EQ(equal(t.get(), c.text), c.status) << c.text.substr(0, 60);
    EXPECT_EQ(t.valueOf(c.variable), c.expected) << c.text.substr(0, 60);
  }
  EXPECT_EQ(t.node("my_note")->next->name, "rate") << "a known name must not be added again";
  int first = 1, second = 2;
  add_variable(t.get(), &first, "dup", 'i');
  add_variable(t.get(), &second, " dup = 4",
               'i');  // a definition with a value applies to the new node
  EXPECT_EQ(equal(t.get(), "dup=7"), 0);
  EXPECT_EQ(first * 10 + second, 74);
  EXPECT_EQ(equal(nullptr, "PAM=4") + equal(nullptr, std::string_view("PAM=4")) +
                add_variable(nullptr, &first, "x", 'i') +
                equal(t.get(), static_cast<const char*>(nullptr)),
            4);
  auto longHead = create_variable_def();  // released without a recursion that overflows the stack
  variable_def* tail = longHead.get();
  for (int k = 0; k < 300000; ++k, tail = tail->next.get()) tail->next = create_variable_def();
}

// Array codes: the address moves on after each converted text, not after a reference or a
// refused text (the engineering conversion refuses none).
TEST(Assign, ArrayAddressAdvancesAfterEachConversionOnly) {
  for (const auto& [code, size, elements] :
       {std::tuple{'I', 4, "10 20 30 13 0 0"}, {'E', 8, "1000 0.02 0 30 13 0"}}) {
    alignas(double) unsigned char raw[8 * 8] = {};
    int source = 13;
    auto head = create_variable_def();
    add_variable(head.get(), raw, "arr", code);
    add_variable(head.get(), &source, "source", 'i');
    for (const char* text :
         {code == 'I' ? "10" : "1k", "%source", code == 'I' ? "20" : "20m", "zz", "30", "%source"})
      equal(head.get(), std::string("arr=") + text);
    std::string got;
    for (int k = 0; k < 6; ++k)
      got += (k ? " " : "") + show(code == 'I' ? 'i' : 'e', raw + size * k);
    EXPECT_EQ(got, elements) << code;
  }
}

// 999 characters fit (once the unquoted blanks are dropped); more are refused whole, with
// one log line when there is a log, and nothing written past the storage.
TEST(Assign, OverLongTextRefusedWholeWithOneLogLine) {
  const auto tooLong = [](int n) {
    return "value of file is " + std::to_string(n) +
           " characters, longer than the 999 it may hold; not assigned\n";
  };
  const struct {
    std::string text;
    int status;
    std::size_t length;
    std::string log;
  } cases[] = {{"file=" + std::string(500, 'a') + " \t " + std::string(499, 'b') + " ", 0, 999, ""},
               {"file=" + std::string(1000, 'a'), 3, 3, tooLong(1000)},
               {"  file = \"" + std::string(1200, 'q') + "\"", 3, 3, tooLong(1200)},
               {"file=x #" + std::string(5000, 'c'), 0, 1, ""},
               {"file=$BREVO_TEST_LONG", 3, 3, tooLong(1500)},
               {"file=%long_note", 3, 3, tooLong(2000)}};
  for (const auto& c : cases)
    for (bool withLog : {false, true}) {
      SCOPED_TRACE(c.text.substr(0, 20) + (withLog ? " with log" : ""));
      struct {
        char text[kStringStorage] = "old";
        char guard[16] = "GUARD-GUARD-GUA";
      } g;
      auto head = create_variable_def();
      add_variable(head.get(), g.text, "file", 's');
      ASSERT_EQ(equal(head.get(), "long_note=" + std::string(2000, 'n')), 1);
      brevo_test::MemoryStream log;
      EXPECT_EQ(withLog ? equal(head.get(), c.text, log.get()) : equal(head.get(), c.text),
                c.status);
      EXPECT_EQ(log.text(), withLog ? c.log : "");
      EXPECT_EQ(std::strlen(g.text), c.length);
      EXPECT_STREQ(c.status != 0 ? g.text : "old", "old");
      EXPECT_STREQ(g.guard, "GUARD-GUARD-GUA");
    }
}

TEST(EngStrtod, SuffixTable) {
  const struct {
    const char* text;
    double expected;
  } cases[] = {{"400m", 0.4},     {"25.78125G", 25781250000.0},
               {"10p", 1e-11},    {"1mEg", 1e6},
               {"1megohm", 1e6},  {"1M", 0.001},
               {"1me", 0.001},    {"3t", 3e12},
               {"3T", 3e12},      {"2f", 2e-15},
               {"1a", 1e-18},     {"5n", 5e-9},
               {"5u", 5e-6},      {"7K", 7e3},
               {"2g", 2e9},       {"10mV", 0.01},
               {"1e3k", 1e6},     {"-2k", -2000.0},
               {"+2.5u", 2.5e-6}, {"  5k", 5000.0},
               {".5k", 500.0},    {"k", 0.0},
               {"", 0.0},         {"meg", 0.0},
               {"1e", 1.0},       {"2.5x", 2.5},
               {"1 k", 1.0},      {"-", 0.0}};
  for (const auto& c : cases)
    EXPECT_DOUBLE_EQ(eng_strtod(c.text), c.expected) << '"' << c.text << '"';
  // meg is milli then giga: 9 * 0.001 * 1e9 rounds to 9000000.000000002, not 9e6.
  EXPECT_EQ(std::vector({eng_strtod("9meg"), eng_strtod(nullptr),
                         eng_strtod(std::string(100000, '1').c_str()),
                         eng_strtod((std::string(5000, '0') + "4k").c_str())}),
            std::vector({9000000.000000002, 0.0, HUGE_VAL, 4000.0}));
}

TEST(RePath, CutAtFirstDotAfterFirstCharacter) {
  const struct {
    const char* name;
    const char* suffix;
    const char* expected;
  } cases[] = {{"out/run1", ".wv1", "out/run1.wv1"},
               {"a.b.c", ".fd", "a.fd"},
               {".hidden.x", ".fd", ".hidden.fd"},
               {"dir.d/run", ".wv2", "dir.wv2"},
               {"", ".wv1", ".wv1"},
               {".", ".wv1", "..wv1"},
               {"run1", "", "run1"},
               {"out/my run.v2", nullptr, "out/my run.v2"},
               {nullptr, nullptr, ""},
               {nullptr, ".fd", ".fd"}};
  for (const auto& c : cases)
    EXPECT_EQ(rePath("/some/base", c.name, c.suffix), c.expected) << (c.name ? c.name : "(null)");
}

}  // namespace
