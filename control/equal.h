// Table-driven name=value assignments into typed variables.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Every 's' variable registered by a caller points at a buffer of this many
// characters: 999 characters of text and the terminator.
inline constexpr int kStringStorage = 1000;

// One node of the variable table: a singly linked list that always ends with an
// empty sentinel node (next null). Nodes own their successor, their name and any
// value storage the table itself allocated (the text of a variable created from
// an unknown name).
//
// A node of type 's' whose address is null keeps its text in ownedText: that is
// how a variable created from an unknown name stores its value, and the text
// may grow without limit. Every other 's' address is a caller's buffer of
// kStringStorage characters. For the upper-case array codes the address moves on
// by one element after each converted text; the caller's array must have room
// for every element it lets the control file assign.
struct variable_def {
  void* address = nullptr;             // where the value lives; null: ownedText
  std::string name;                    // compared case-sensitively
  char type = 0;                       // type code: s i x e d f p, or upper-case arrays
  std::unique_ptr<variable_def> next;  // null only in the sentinel
  std::string ownedText;               // storage of a variable created from an unknown name

  variable_def() = default;
  variable_def(variable_def&&) noexcept = default;
  variable_def& operator=(variable_def&& other) noexcept;
  // Releases the chain behind this node one node at a time, so a table grown by
  // a great many unknown names cannot exhaust the stack when it is destroyed.
  ~variable_def();
};

// A new empty node that can head a table.
std::unique_ptr<variable_def> create_variable_def();

// Registers one variable at the end of the table; the name is the definition's text
// before its first "=", trimmed. A definition with more than the bare name is then
// applied to the new variable alone. Returns 0 (1 only for a null table).
int add_variable(variable_def* table, void* address, const char* definition, char type);

// Applies one assignment. 0 assigned, 1 nothing assigned (no "=", empty name,
// unknown "%" reference, or an unknown name kept as a new string variable),
// 2 unset "$" environment variable, 3 value could not be converted. A null table
// or text returns 1. A NUL inside a string_view ends the text there.
int equal(variable_def* table, const char* text);
int equal(variable_def* table, std::string_view text);

// The same, with a log stream for the one message the table writes itself: a value
// too long for a registered string variable's storage is refused (status 3, the
// stored value unchanged) and the log names the keyword.
int equal(variable_def* table, std::string_view text, FILE* log);

// What an assignment would do, looked at before it is applied: its name, whether that
// names a registered variable (not one the table made from an unknown name), the type
// code, the value text as the conversion sees it, whether that text comes from
// elsewhere ("$" or "%"), and how many of its characters a number conversion takes
// (all of them for text; the rest is ignored by the conversion).
struct AssignmentView {
  std::string name;  // empty when the text is no assignment
  bool known = false;
  char type = 0;
  std::string value;
  bool indirect = false;
  std::size_t used = 0;
};
AssignmentView inspectAssignment(const variable_def* table, std::string_view text);

// Names of the registered variables, in registration order.
std::vector<std::string> registeredNames(const variable_def* table);

// The number at the start of text scaled by its engineering suffix
// (a f p n u m k g t, and meg); 0 when there is no number or the text is null.
double eng_strtod(const char* text);
