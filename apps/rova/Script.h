#pragma once
// Syntax of the rova command language: statements separated by ';' or line ends, '//' comments,
// a command name followed by words, flags, double-quoted strings and text blocks (<<TAG, then
// lines up to one holding only TAG), or the call form name(arg, ...).
#include <string>
#include <string_view>
#include <vector>

namespace rova::lang {

struct Word {
    enum class Kind {
        kBare,    // a word or number as typed: sceneTime, t.rx, 1.5, -2
        kString,  // a double-quoted string (escapes resolved) or a text block
        kFlag,    // -name (a minus sign followed by a letter, and not -inf/-nan)
    };
    Kind kind = Kind::kBare;
    std::string text;  // for a flag, the name without the minus sign
    int line = 0;      // where text starts: a text block's first line, else the word's line

    bool isFlag() const noexcept { return kind == Kind::kFlag; }
    // The word as it would be typed again: flags get their '-', strings their quotes.
    std::string spelled() const;
};

struct Statement {
    int line = 0;
    std::string name;
    bool callForm = false;
    std::vector<Word> words;

    // The statement in canonical form, for messages and the undo queue.
    std::string text() const;
};

struct SyntaxError {
    int line = 0;
    std::string command;  // empty when the statement's name was not reached
    std::string message;
};

struct Script {
    std::vector<Statement> statements;
    std::vector<SyntaxError> errors;  // every malformed statement, in order
    bool unfinished = false;          // the text ends inside a text block (more lines may follow)
    bool ok() const noexcept { return errors.empty(); }
};

// Parses the whole text. A malformed statement is recorded in errors and skipped up to the
// next separator, so that one pass reports every syntax error.
Script parseScript(std::string_view text, int firstLine = 1);

// Names of nodes, commands and procedures: letters, digits and '_', not starting with a digit.
bool isIdentifier(std::string_view text) noexcept;

// Quotes text as a string word with C escapes, so that parsing it gives back the same text.
std::string quoteString(std::string_view text);

}  // namespace rova::lang
