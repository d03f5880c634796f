#pragma once
// Text of the command reference shared by `rova --help` and the help command.
#include <optional>
#include <string>
#include <vector>

#include "Command.h"

namespace rova::lang {

// Every command's usage forms and summary, wrapped to fit a terminal.
std::string commandReference();
// One command: usage forms, summary, flags.
std::string commandHelp(const CommandDefinition& definition);
// The language in a few lines.
std::string languageSummary();
// A node type's attributes as a table, one line each after a header: attribute | short | type |
// role | flags | default, and with values (one per attribute, a node's) a last column value.
std::string attributeTable(const host::Host::NodeTypeInfo& type,
                           const std::optional<std::vector<std::string>>& values = std::nullopt);
// How an attribute's type reads in that table: double, enum pushPull=0 push=1 pull=2, mesh[]...
std::string attributeTypeText(const host::Host::AttributeInfo& attribute);
// Wraps text at word boundaries to the reference's width, each line starting with indent.
std::string wrap(const std::string& text, const std::string& indent = "");

}  // namespace rova::lang
