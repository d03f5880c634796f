// RPxCommand: the base of plug-in commands, and their results.
#include "rova/RPxCommand.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <sstream>

#include "HostImpl.h"
#include "rova/RGlobal.h"

// ---------------------------------------------------------------- RPxCommand
RPxCommand::RPxCommand() = default;
RPxCommand::~RPxCommand() = default;
RStatus RPxCommand::runCommand(const RArgList&) {
    return RStatus(RStatus::kNotImplemented, "the command does nothing");
}
RStatus RPxCommand::undoCommand() {
    return RStatus(RStatus::kNotImplemented, "the command cannot be undone");
}
RStatus RPxCommand::redoCommand() {
    return RStatus(RStatus::kNotImplemented, "the command cannot be redone");
}
bool RPxCommand::canUndo() const {
    return false;
}
bool RPxCommand::hasSyntax() const {
    return false;
}
RString RPxCommand::helpText() const {
    return RString();
}

namespace {
std::string* currentResult() {
    auto& stack = rova::detail::hostImpl().resultStack;
    return stack.empty() ? nullptr : &stack.back();
}

void appendWord(const std::string& word) {
    if (std::string* result = currentResult()) {
        if (!result->empty())
            *result += ' ';
        *result += word;
    }
}
}  // namespace

void RPxCommand::clearResult() {
    if (std::string* result = currentResult())
        result->clear();
}

void RPxCommand::setResult(bool value) {
    clearResult();
    appendWord(value ? "true" : "false");
}

void RPxCommand::setResult(int value) {
    clearResult();
    appendWord(std::to_string(value));
}

void RPxCommand::setResult(double value) {
    clearResult();
    appendWord(rova::host::formatDouble(value));
}

void RPxCommand::setResult(const RString& value) {
    clearResult();
    appendWord(value.str());
}

void RPxCommand::appendToResult(const RString& value) {
    appendWord(value.str());
}
void RPxCommand::appendToResult(double value) {
    appendWord(rova::host::formatDouble(value));
}
void RPxCommand::displayError(const RString& message) {
    RGlobal::displayError(message);
}
void RPxCommand::displayWarning(const RString& message) {
    RGlobal::displayWarning(message);
}
void RPxCommand::displayInfo(const RString& message) {
    RGlobal::displayInfo(message);
}
