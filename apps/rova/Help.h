#pragma once
// Text of the command reference shared by `rova --help` and the help command.
#include <string>

#include "Command.h"

namespace rova::lang {

// Every command's usage forms and summary, wrapped to fit a terminal.
std::string commandReference();
// One command: usage forms, summary, flags.
std::string commandHelp(const CommandDefinition& definition);
// The language in a few lines.
std::string languageSummary();
// Wraps text at word boundaries to the reference's width, each line starting with indent.
std::string wrap(const std::string& text, const std::string& indent = "");

}  // namespace rova::lang
