// Assignments applied to a registered table: statuses and stored values.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "equal.h"
#include "table_fixture.h"

namespace {

// Environment used by the "$" cases; set once for the whole program.
const bool kEnvironment = [] {
  setenv("BREVO_TEST_FILE", "my channel.s4p 1 3 2 4", 1);
  setenv("BREVO_TEST_SIGNAL", "400m", 1);
  setenv("BREVO_TEST_REF", "%rate_text", 1);
  unsetenv("BREVO_TEST_UNSET");
  return true;
}();

struct AssignCase {
  const char* name;
  const char* text;
  int status;
  const char* variable;
  const char* expected;   // the variable's value afterwards, as Table::valueOf writes it
};

const AssignCase kAssignments[] = {
    // Decimal, hexadecimal and engineering conversions.
    {"pam_integer", "PAM=4", 0, "PAM", "4"},
    {"pam_fraction_truncated_by_scan", "PAM=4.7", 0, "PAM", "4"},
    {"pam_word_refused", "PAM=four", 3, "PAM", "-7"},
    {"pam_hex_prefix_reads_zero", "PAM=0x10", 0, "PAM", "0"},
    {"pam_beyond_32_bits_held_at_max", "PAM=99999999999", 0, "PAM", "2147483647"},
    {"pam_negative", "PAM=-3", 0, "PAM", "-3"},
    {"ports_13_is_hex_19", "input_ports=13", 0, "input_ports", "19"},
    {"ports_0x24_is_36", "input_ports=0x24", 0, "input_ports", "36"},
    {"ports_all_ones_word", "input_ports=ffffffff", 0, "input_ports", "-1"},
    {"ports_not_hex", "input_ports=zz", 3, "input_ports", "-7"},
    {"signal_blanks_around_equals_and_suffix", "signal = 400 m", 0, "signal", "0.4"},
    {"signal_trailing_comment", "signal=400m # volts peak", 0, "signal", "0.4"},
    {"signal_tabs", "\tsignal\t=\t400m\t", 0, "signal", "0.4"},
    {"signal_no_number_is_zero", "signal=abc", 0, "signal", "0"},
    {"signal_suffix_alone_is_zero", "signal=k", 0, "signal", "0"},
    {"ratio_double", "ratio=1.5e3", 0, "ratio", "1500"},
    {"ratio_has_no_suffixes", "ratio=1k", 0, "ratio", "1"},
    {"ratio_word_refused", "ratio=x", 3, "ratio", "-7"},
    {"gain_float", "gain=0.1", 0, "gain", "0.1"},
    {"gain_word_refused", "gain=y", 3, "gain", "-7"},
    {"count_truncates_up", "count=3.9", 0, "count", "3"},
    {"count_truncates_toward_zero", "count=-3.9", 0, "count", "-3"},
    {"count_above_range", "count=1e10", 0, "count", "2147483647"},
    {"count_below_range", "count=-1e10", 0, "count", "-2147483648"},
    {"count_nan_is_zero", "count=nan", 0, "count", "0"},
    {"count_word_refused", "count=many", 3, "count", "-7"},
    {"upper_case_S_accepts_nothing", "label=changed", 0, "label", "keep"},
    // Blanks, quotes and comments.
    {"unquoted_blanks_joined", "Thru=a b", 0, "Thru", "ab"},
    {"single_quotes_keep_blank", "Thru='a b'", 0, "Thru", "a b"},
    {"double_quotes_keep_blank", "Thru=\"a b\"", 0, "Thru", "a b"},
    {"quoted_hash_kept", "Thru=\"a#b\"", 0, "Thru", "a#b"},
    {"other_quote_kept_inside", "Thru=\"it's\"", 0, "Thru", "it's"},
    {"closing_quote_ends_value", "Thru=\"a b\" c d", 0, "Thru", "a b"},
    {"text_before_quote_joined", "Thru=x y'a b'", 0, "Thru", "xya b"},
    {"unterminated_quote_runs_to_end", "Thru=\"a b", 0, "Thru", "a b"},
    {"unterminated_quote_keeps_newline", "Thru='a b\nc", 0, "Thru", "a b\nc"},
    {"newline_ends_value", "Thru=abc\ndef", 0, "Thru", "abc"},
    {"hash_ends_value", "Thru=abc#def", 0, "Thru", "abc"},
    {"blanks_before_value_skipped", "Thru=    x", 0, "Thru", "x"},
    {"crlf_integer", "PAM=3\r\n", 0, "PAM", "3"},
    {"crlf_text", "Thru=abc\r\n", 0, "Thru", "abc"},
    {"crlf_engineering", "signal=400m\r\n", 0, "signal", "0.4"},
    {"leading_blanks_in_name", "   PAM  = 5", 0, "PAM", "5"},
    // Nothing assigned.
    {"no_equals", "PAM 4", 1, "PAM", "-7"},
    {"blank_line", "\n", 1, "PAM", "-7"},
    {"empty_text", "", 1, "PAM", "-7"},
    {"comment_line", "# a comment only\n", 1, "PAM", "-7"},
    {"empty_name", "=4", 1, "PAM", "-7"},
    {"blank_name", "   = 4", 1, "PAM", "-7"},
    {"names_are_case_sensitive", "pam=5", 1, "PAM", "-7"},
    {"commented_out_keyword", "# PAM=3", 1, "PAM", "-7"},
    // Empty values per type.
    {"empty_engineering_is_zero", "signal=", 0, "signal", "0"},
    {"empty_comment_engineering_is_zero", "signal= # none", 0, "signal", "0"},
    {"empty_text_empties_string", "Thru=", 0, "Thru", ""},
    {"empty_quotes_empty_string", "Thru=''", 0, "Thru", ""},
    {"empty_integer_refused", "PAM=", 3, "PAM", "-7"},
    {"empty_hex_refused", "input_ports=", 3, "input_ports", "-7"},
    {"empty_double_refused", "ratio=", 3, "ratio", "-7"},
    {"empty_float_refused", "gain=", 3, "gain", "-7"},
    {"empty_clamped_refused", "count=", 3, "count", "-7"},
    // "$" environment references.
    {"env_text_exactly_as_set", "Thru=$BREVO_TEST_FILE", 0, "Thru", "my channel.s4p 1 3 2 4"},
    {"env_engineering", "signal=$BREVO_TEST_SIGNAL", 0, "signal", "0.4"},
    {"env_holding_variable_reference", "signal=$BREVO_TEST_REF", 0, "signal", "25000000000"},
    {"env_quoted", "Thru='$BREVO_TEST_FILE'", 0, "Thru", "my channel.s4p 1 3 2 4"},
    {"env_unset", "PAM=$BREVO_TEST_UNSET", 2, "PAM", "-7"},
    {"env_unset_text", "Thru=$BREVO_TEST_UNSET", 2, "Thru", "old"},
    {"env_lone_dollar", "Thru=$", 2, "Thru", "old"},
    // "%" variable references: a text is converted, a number is carried over.
    {"ref_text_with_suffix", "signal=%rate_text", 0, "signal", "25000000000"},
    {"ref_text_with_comment", "signal=%rate_text # baud", 0, "signal", "25000000000"},
    {"ref_text_to_integer", "PAM=%rate_text", 0, "PAM", "25"},
    {"ref_text_to_text", "Thru=%rate_text", 0, "Thru", "25G"},
    {"ref_double_copied", "signal=%ref_double", 0, "signal", "1234.5678"},
    {"ref_engineering_copied", "ratio=%ref_e", 0, "ratio", "-2.75"},
    {"ref_integer_to_double", "signal=%ref_int", 0, "signal", "13"},
    {"ref_integer_to_hex_not_rescanned", "input_ports=%ref_int", 0, "input_ports", "13"},
    {"ref_double_truncated", "PAM=%ref_double", 0, "PAM", "1234"},
    {"ref_negative_truncated_toward_zero", "PAM=%ref_e", 0, "PAM", "-2"},
    {"ref_double_rounded_to_float", "gain=%ref_double", 0, "gain", "1234.568"},
    {"ref_float_read_as_float", "ratio=%ref_float", 0, "ratio", "0.100000001490116"},
    {"ref_integer_to_text", "Thru=%ref_int", 0, "Thru", "13"},
    {"ref_double_to_text", "Thru=%ref_double", 0, "Thru", "  1.235e+03"},
    {"ref_engineering_to_text", "Thru=%ref_e", 0, "Thru", " -2.750e+00"},
    {"ref_hex_array_reads_nothing", "PAM=%ref_hex", 0, "PAM", "-7"},
    {"ref_unknown_name", "PAM=%no_such_name", 1, "PAM", "-7"},
    {"ref_lone_percent", "PAM=%", 1, "PAM", "-7"},
    {"ref_to_itself", "signal=%signal", 0, "signal", "-7"},
};

class Assign : public ::testing::TestWithParam<AssignCase> {};

TEST_P(Assign, StatusAndStoredValue) {
  const AssignCase& c = GetParam();
  Table t;
  EXPECT_EQ(equal(t.get(), c.text), c.status) << c.text;
  EXPECT_EQ(t.valueOf(c.variable), c.expected) << c.text;
  // The string_view overload must agree with the C-string one.
  Table u;
  EXPECT_EQ(equal(u.get(), std::string_view(c.text)), c.status) << c.text;
  EXPECT_EQ(u.valueOf(c.variable), c.expected) << c.text;
}

INSTANTIATE_TEST_SUITE_P(Cases, Assign, ::testing::ValuesIn(kAssignments),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Assign, RefusedValueKeepsEarlierOne) {
  Table t;
  ASSERT_EQ(equal(t.get(), "PAM=4"), 0);
  EXPECT_EQ(equal(t.get(), "PAM=four"), 3);
  EXPECT_EQ(t.valueOf("PAM"), "4");
  ASSERT_EQ(equal(t.get(), "Thru=first"), 0);
  EXPECT_EQ(equal(t.get(), "Thru=$BREVO_TEST_UNSET"), 2);
  EXPECT_EQ(t.valueOf("Thru"), "first");
}

TEST(Assign, ShorterTextTerminatesInBuffer) {
  Table t;
  ASSERT_EQ(equal(t.get(), "Thru=a long channel name"), 0);
  ASSERT_EQ(equal(t.get(), "Thru=ab"), 0);
  EXPECT_EQ(t.valueOf("Thru"), "ab");
}

TEST(UnknownName, KeptAsOwnedStringThatGrows) {
  Table t;
  EXPECT_EQ(equal(t.get(), "my_note = hello world"), 1);
  const variable_def* note = t.node("my_note");
  ASSERT_NE(note, nullptr);
  EXPECT_EQ(note->type, 's');
  EXPECT_EQ(t.valueOf("my_note"), "helloworld");
  // A later, much longer text replaces it: owned storage has no fixed size. The
  // name is now known, so this is an ordinary assignment.
  const std::string longer(5000, 'z');
  EXPECT_EQ(equal(t.get(), "my_note=" + longer), 0);
  EXPECT_EQ(t.valueOf("my_note"), longer);
  EXPECT_EQ(t.node("my_note"), note) << "the second assignment must find the first node";
  EXPECT_EQ(equal(t.get(), "my_note=short"), 0);
  EXPECT_EQ(t.valueOf("my_note"), "short");
}

TEST(UnknownName, ReferableAndConvertedByTarget) {
  Table t;
  EXPECT_EQ(equal(t.get(), "rate=25.78125G"), 1);
  EXPECT_EQ(equal(t.get(), "signal=%rate"), 0);
  EXPECT_EQ(t.valueOf("signal"), "25781250000");
  EXPECT_EQ(equal(t.get(), "Thru=%rate"), 0);
  EXPECT_EQ(t.valueOf("Thru"), "25.78125G");
  // A number referenced into a new name is written as for any string variable.
  EXPECT_EQ(equal(t.get(), "copy=%ref_int"), 1);
  EXPECT_EQ(t.valueOf("copy"), "13");
  EXPECT_EQ(equal(t.get(), "copy2=%ref_double"), 1);
  EXPECT_EQ(t.valueOf("copy2"), "  1.235e+03");
}

TEST(UnknownName, NotCreatedWhenReferenceFails) {
  Table t;
  EXPECT_EQ(equal(t.get(), "fresh=$BREVO_TEST_UNSET"), 2);
  EXPECT_EQ(t.node("fresh"), nullptr);
  EXPECT_EQ(equal(t.get(), "fresh=%no_such_name"), 1);
  EXPECT_EQ(t.node("fresh"), nullptr);
}

TEST(Table, RegistrationOrderAndSentinel) {
  auto head = create_variable_def();
  ASSERT_NE(head, nullptr);
  EXPECT_EQ(head->next, nullptr);
  int a = 0, b = 0, c = 0;
  EXPECT_EQ(add_variable(head.get(), &a, "alpha", 'i'), 0);
  EXPECT_EQ(add_variable(head.get(), &b, " beta = ", 'i'), 0);
  EXPECT_EQ(add_variable(head.get(), &c, "gamma", 'x'), 0);
  const char* names[] = {"alpha", "beta", "gamma"};
  const void* addresses[] = {&a, &b, &c};
  const variable_def* n = head.get();
  for (int k = 0; k < 3; ++k, n = n->next.get()) {
    ASSERT_NE(n->next, nullptr) << "node " << k;
    EXPECT_EQ(n->name, names[k]);
    EXPECT_EQ(n->address, addresses[k]);
  }
  EXPECT_EQ(n->next, nullptr) << "one sentinel ends the list";
  EXPECT_TRUE(n->name.empty());
  EXPECT_EQ(n->address, nullptr);
  EXPECT_EQ(n->type, 0);
}

TEST(Table, CallerOwnedHeadAndEarlierNodeWins) {
  variable_def head;   // an empty caller-owned node starts a table too
  int first = 1, second = 2;
  add_variable(&head, &first, "dup", 'i');
  add_variable(&head, &second, "dup", 'i');
  EXPECT_EQ(equal(&head, "dup=7"), 0);
  EXPECT_EQ(first, 7);
  EXPECT_EQ(second, 2);
  // A search starts at the node it is given: from the second node the later one is found.
  EXPECT_EQ(equal(head.next.get(), "dup=8"), 0);
  EXPECT_EQ(first, 7);
  EXPECT_EQ(second, 8);
}

TEST(Table, NullArgumentsRefused) {
  int x = 5;
  EXPECT_EQ(equal(nullptr, "PAM=4"), 1);
  EXPECT_EQ(equal(nullptr, std::string_view("PAM=4")), 1);
  EXPECT_EQ(add_variable(nullptr, &x, "x", 'i'), 1);
  Table t;
  EXPECT_EQ(equal(t.get(), static_cast<const char*>(nullptr)), 1);
}

TEST(Table, ManyUnknownNamesReleasedWithoutDeepRecursion) {
  auto head = create_variable_def();
  variable_def* tail = head.get();
  // Built directly at the tail: through equal each new name costs a full search.
  for (int k = 0; k < 300000; ++k) {
    tail->name = "n";
    tail->next = create_variable_def();
    tail = tail->next.get();
  }
  head.reset();   // must not overflow the stack
  SUCCEED();
}

struct DefinitionCase {
  const char* name;
  const char* definition;
  char type;
  const char* expected;   // value of the new variable afterwards
};

const DefinitionCase kDefinitions[] = {
    {"bare_name_leaves_value", "fresh", 'e', "-7"},
    {"empty_value_sets_engineering_zero", "fresh=", 'e', "0"},
    {"initial_engineering", "fresh = 25.78125G", 'e', "25781250000"},
    {"initial_integer", " fresh = 4 ", 'i', "4"},
    {"initial_text", "fresh='a b'", 's', "a b"},
    {"empty_integer_unchanged", "fresh=", 'i', "-7"},
    {"env_in_definition", "fresh=$BREVO_TEST_SIGNAL", 'e', "0.4"},
    // Applied to the new node alone: the existing rate_text cannot be referred to.
    {"reference_sees_only_new_node", "fresh=%rate_text", 'e', "-7"},
    // An existing PAM earlier in the table must not take the value.
    {"same_name_as_earlier_variable", "PAM=9", 'i', "9"},
};

class Definition : public ::testing::TestWithParam<DefinitionCase> {};

TEST_P(Definition, AppliedToNewVariableAlone) {
  const DefinitionCase& c = GetParam();
  Table t;
  alignas(double) char storage[kStringStorage] = {};
  const double minusSeven = -7;
  const int minusSevenInt = -7;
  if (c.type == 'e') std::memcpy(storage, &minusSeven, sizeof minusSeven);
  if (c.type == 'i') std::memcpy(storage, &minusSevenInt, sizeof minusSevenInt);
  EXPECT_EQ(add_variable(t.get(), storage, c.definition, c.type), 0);
  std::string got;
  if (c.type == 's') {
    got = storage;
  } else if (c.type == 'i') {
    int i;
    std::memcpy(&i, storage, sizeof i);
    got = std::to_string(i);
  } else {
    double d;
    std::memcpy(&d, storage, sizeof d);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.15g", d);
    got = buffer;
  }
  EXPECT_EQ(got, c.expected) << c.definition;
  // Nothing else in the table changed, and no unknown node appeared.
  EXPECT_EQ(t.valueOf("PAM"), "-7");
  EXPECT_EQ(t.valueOf("rate_text"), "25G");
  int nodes = 0;
  for (const variable_def* n = t.get(); n->next != nullptr; n = n->next.get()) ++nodes;
  EXPECT_EQ(nodes, 15);
}

INSTANTIATE_TEST_SUITE_P(Cases, Definition, ::testing::ValuesIn(kDefinitions),
                         [](const auto& info) { return std::string(info.param.name); });

struct ArrayCase {
  char code;
  const char* texts[4];
  int statuses[4];
  double elements[4];   // the array afterwards; a refused text fills no element
};

const ArrayCase kArrays[] = {
    {'I', {"10", "20", "zz", "30"}, {0, 0, 3, 0}, {10, 20, 30, 0}},
    {'X', {"10", "20", "zz", "30"}, {0, 0, 3, 0}, {16, 32, 48, 0}},
    {'P', {"10.9", "-20.9", "zz", "30"}, {0, 0, 3, 0}, {10, -20, 30, 0}},
    {'F', {"0.5", "20", "zz", "30"}, {0, 0, 3, 0}, {0.5, 20, 30, 0}},
    {'D', {"1e3", "20", "zz", "30"}, {0, 0, 3, 0}, {1000, 20, 30, 0}},
    // The engineering conversion never fails, so "zz" fills an element with 0.
    {'E', {"1k", "20m", "zz", "30"}, {0, 0, 0, 0}, {1000, 0.02, 0, 30}},
};

class ArrayCodes : public ::testing::TestWithParam<ArrayCase> {};

TEST_P(ArrayCodes, AddressAdvancesAfterEachConversion) {
  const ArrayCase& c = GetParam();
  const bool wide = c.code == 'D' || c.code == 'E';
  alignas(double) unsigned char raw[8 * 8] = {};
  auto head = create_variable_def();
  add_variable(head.get(), raw, "arr", c.code);
  for (int k = 0; k < 4; ++k)
    EXPECT_EQ(equal(head.get(), std::string("arr=") + c.texts[k]), c.statuses[k]) << c.texts[k];
  for (int k = 0; k < 8; ++k) {
    double got;
    if (wide) {
      std::memcpy(&got, raw + 8 * k, sizeof got);
    } else if (c.code == 'F') {
      float f;
      std::memcpy(&f, raw + 4 * k, sizeof f);
      got = f;
    } else {
      int i;
      std::memcpy(&i, raw + 4 * k, sizeof i);
      got = i;
    }
    EXPECT_DOUBLE_EQ(got, k < 4 ? c.elements[k] : 0.0) << c.code << " element " << k;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ArrayCodes, ::testing::ValuesIn(kArrays),
                         [](const auto& info) { return std::string(1, info.param.code); });

TEST(ArrayCodes, ReferencedNumberDoesNotAdvance) {
  int arr[3] = {0, 0, 0};
  int source = 13;
  auto head = create_variable_def();
  add_variable(head.get(), arr, "arr", 'I');
  add_variable(head.get(), &source, "source", 'i');
  EXPECT_EQ(equal(head.get(), "arr=%source"), 0);
  EXPECT_EQ(equal(head.get(), "arr=%source"), 0);
  EXPECT_EQ(arr[0], 13);
  EXPECT_EQ(arr[1], 0);
  EXPECT_EQ(equal(head.get(), "arr=5"), 0);
  EXPECT_EQ(equal(head.get(), "arr=6"), 0);
  EXPECT_EQ(arr[0], 5);
  EXPECT_EQ(arr[1], 6);
}

}  // namespace
