// docs/nodes.md against the plug-in itself: every attribute of every type the plug-in registers is
// documented with the name, short name, type, default and role `attributes -type` prints, nothing
// documented is missing from the types, and every example scene runs.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "RunRova.h"

namespace {

using kivorova::testing::RovaRun;
using kivorova::testing::runRovaStatements;

const std::string kLoad = "plugin -load kivo_rova\n";
const std::string kIdentity = "1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1";

struct Facts {
    std::string shortName, type, role, defaultValue;
    bool operator==(const Facts&) const = default;
};
using Attributes = std::map<std::string, Facts>;

std::string trim(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    const auto last = text.find_last_not_of(' ');
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, separator)) parts.push_back(trim(part));
    return parts;
}

std::string unquote(std::string text) {
    std::erase(text, '`');
    return text;
}

std::string pageText() {
    std::ifstream in(kivorova::testing::sourceRoot() / "docs" / "nodes.md");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The brace groups of a name: {0..4} or {X,Y,Z}, each a list of alternatives.
std::vector<std::vector<std::string>> groups(const std::string& name) {
    std::vector<std::vector<std::string>> out;
    for (auto open = name.find('{'); open != std::string::npos; open = name.find('{', open + 1)) {
        const std::string inside = name.substr(open + 1, name.find('}', open) - open - 1);
        std::vector<std::string> alternatives;
        if (const auto dots = inside.find(".."); dots != std::string::npos) {
            for (int k = std::stoi(inside.substr(0, dots)); k <= std::stoi(inside.substr(dots + 2));
                 ++k)
                alternatives.push_back(std::to_string(k));
        } else {
            alternatives = split(inside, ',');
        }
        out.push_back(alternatives);
    }
    return out;
}

// The name with the brace groups replaced by the chosen alternatives.
std::string expand(const std::string& name, const std::vector<std::vector<std::string>>& choices,
                   const std::vector<std::size_t>& picks) {
    std::string out;
    std::size_t group = 0;
    for (std::size_t k = 0; k < name.size(); ++k) {
        if (name[k] != '{') {
            out += name[k];
            continue;
        }
        out += choices[group][picks[group]];
        ++group;
        k = name.find('}', k);
    }
    return out;
}

// The page's attribute tables, per type, with the patterns expanded: a long name's brace group n
// goes with the short name's group n.
std::map<std::string, Attributes> documented(const std::string& page) {
    std::map<std::string, Attributes> types;
    std::string type;
    std::istringstream lines(page);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("## ", 0) == 0) {
            type = line.find("(command)") == std::string::npos ? unquote(line.substr(3)) : "";
            continue;
        }
        if (type.empty() || line.rfind("| `", 0) != 0)
            continue;
        const auto cells = split(line.substr(1, line.size() - 2), '|');
        EXPECT_EQ(cells.size(), 7u) << line;
        if (cells.size() != 7)
            continue;
        const std::string longName = unquote(cells[0]), shortName = unquote(cells[1]);
        const auto longGroups = groups(longName), shortGroups = groups(shortName);
        EXPECT_EQ(longGroups.size(), shortGroups.size()) << line;
        std::vector<std::size_t> picks(longGroups.size(), 0);
        for (;;) {
            const std::string name = expand(longName, longGroups, picks);
            const Facts facts{expand(shortName, shortGroups, picks), cells[2], cells[5],
                              cells[3] == "identity" ? kIdentity : cells[3]};
            EXPECT_TRUE(types[type].emplace(name, facts).second) << type << "." << name;
            std::size_t g = 0;
            while (g < picks.size() && ++picks[g] == longGroups[g].size()) picks[g++] = 0;
            if (g == picks.size())
                break;
        }
    }
    return types;
}

// What `attributes -type` prints for a type.
Attributes registered(const std::string& type) {
    const RovaRun run = runRovaStatements(kLoad + "attributes -type " + type);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    Attributes out;
    std::istringstream lines(run.out);
    std::string line;
    std::getline(lines, line);  // the header
    while (std::getline(lines, line)) {
        const auto cells = split(line, '|');
        if (cells.size() == 6)
            out[cells[0]] = Facts{cells[1], cells[2], cells[3], cells[5]};
    }
    return out;
}

// The node types the plug-in registers: those the host lists that help says come from it.
std::set<std::string> pluginTypes() {
    const RovaRun listing = runRovaStatements(kLoad + "attributes -type ?");
    const auto open = listing.err.find("(types: ");
    EXPECT_NE(open, std::string::npos) << listing.err;
    std::set<std::string> types;
    if (open == std::string::npos)
        return types;
    const auto close = listing.err.find(')', open);
    for (const std::string& type : split(listing.err.substr(open + 8, close - open - 8), ',')) {
        const RovaRun help = runRovaStatements(kLoad + "help " + type);
        if (help.out.find("registered by plug-in kivo_rova") != std::string::npos)
            types.insert(type);
    }
    return types;
}

TEST(NodesPage, DocumentsEveryAttributeOfEveryPluginTypeAsRegistered) {
    const auto page = documented(pageText());
    const auto types = pluginTypes();
    EXPECT_EQ(types.size(), 8u);
    for (const auto& type : types) {
        SCOPED_TRACE(type);
        ASSERT_TRUE(page.count(type)) << "docs/nodes.md has no section for " << type;
        const Attributes actual = registered(type);
        const Attributes& written = page.at(type);
        for (const auto& [name, facts] : actual) {
            const auto it = written.find(name);
            if (it == written.end()) {
                ADD_FAILURE() << "undocumented: " << type << "." << name;
                continue;
            }
            EXPECT_EQ(it->second.shortName, facts.shortName) << name;
            EXPECT_EQ(it->second.type, facts.type) << name;
            EXPECT_EQ(it->second.role, facts.role) << name;
            EXPECT_EQ(it->second.defaultValue, facts.defaultValue) << name;
        }
        for (const auto& entry : written)
            EXPECT_TRUE(actual.count(entry.first)) << "documented but missing: " << entry.first;
    }
    for (const auto& entry : page)
        EXPECT_TRUE(types.count(entry.first)) << "documented but not registered: " << entry.first;
}

TEST(NodesPage, EveryExampleSceneRuns) {
    const std::string page = pageText();
    int examples = 0;
    for (auto open = page.find("```rova\n"); open != std::string::npos;
         open = page.find("```rova\n", open + 1)) {
        const auto start = open + 8;
        const std::string scene = page.substr(start, page.find("```", start) - start);
        SCOPED_TRACE(scene);
        const RovaRun run = runRovaStatements(kLoad + scene);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        ++examples;
    }
    EXPECT_EQ(examples, 9);
}

}  // namespace
