// kivo-evaluate: the confusion table it prints for a labelled set that kivo-generate writes, its
// threshold overrides, how it labels takes, and its refusals.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "RunRova.h"

namespace {

namespace fs = std::filesystem;

using kivorova::testing::runProgram;
using ProgramRun = kivorova::testing::RovaRun;

ProgramRun evaluate(const std::vector<std::string>& args) {
    return runProgram(KIVO_EVALUATE_EXECUTABLE, args);
}

// One row of the outcome table: label, takes, then the takes per outcome and the share right.
struct Row {
    int takes = 0;
    std::map<std::string, int> outcomes;
    std::string right;
};

// The outcome table of kivo-evaluate's output, by label.
std::map<std::string, Row> outcomeTable(const std::string& out) {
    std::istringstream lines(out);
    std::string line;
    std::vector<std::string> columns;
    std::map<std::string, Row> rows;
    while (std::getline(lines, line)) {
        std::istringstream cells(line);
        std::vector<std::string> words;
        for (std::string w; cells >> w;) {
            words.push_back(w);
        }
        if (words.empty()) {
            if (!columns.empty()) {
                break;  // the table ends at the first blank line after its header
            }
            continue;
        }
        if (words[0] == "label" && columns.empty()) {
            columns = words;
            continue;
        }
        if (columns.empty() || words.size() != columns.size()) {
            continue;
        }
        Row& row = rows[words[0]];
        row.takes = std::stoi(words[1]);
        for (std::size_t i = 2; i + 1 < words.size(); ++i) {
            row.outcomes[columns[i]] = std::stoi(words[i]);
        }
        row.right = words.back();
    }
    return rows;
}

class KivoEvaluate : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_dir = new fs::path(fs::temp_directory_path() /
                             ("kivo-evaluate-test-" + std::to_string(::getpid())));
        fs::remove_all(*s_dir);
        const auto made = runProgram(KIVO_GENERATE_EXECUTABLE,
                                     {"--takes", "3", "--seed", "5", "-o", s_dir->string()});
        ASSERT_EQ(made.exitCode, 0) << made.err;
    }
    static void TearDownTestSuite() {
        fs::remove_all(*s_dir);
        delete s_dir;
    }
    static fs::path* s_dir;
};

fs::path* KivoEvaluate::s_dir = nullptr;

TEST_F(KivoEvaluate, EveryGeneratedTakeIsRecognisedAsLabelled) {
    const auto run = evaluate({s_dir->string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto table = outcomeTable(run.out);
    // Three takes of each session, by the gesture it must give.
    const std::map<std::string, int> takes{
        {"swipe", 15}, {"circle", 6}, {"screen-tap", 12}, {"key-tap", 6}, {"none", 27}};
    ASSERT_EQ(table.size(), takes.size()) << run.out;
    for (const auto& [label, n] : takes) {
        const Row& row = table.at(label);
        EXPECT_EQ(row.takes, n) << label;
        EXPECT_EQ(row.outcomes.at(label), n) << label << "\n" << run.out;
        EXPECT_EQ(row.right, "100%") << label;
    }
    EXPECT_NE(run.out.find("66 of 66 takes right (100%)"), std::string::npos) << run.out;
}

TEST_F(KivoEvaluate, OverriddenThresholdsChangeTheOutcome) {
    // No palm reaches 5 m/s: every swipe take is then recognised as nothing. Each -s takes one
    // setting: the folder after it is an input.
    const auto run = evaluate({"-s", "recognizer.swipe.min_speed=5000", s_dir->string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto table = outcomeTable(run.out);
    EXPECT_EQ(table.at("swipe").outcomes.at("swipe"), 0);
    EXPECT_EQ(table.at("swipe").outcomes.at("none"), 15);
    EXPECT_EQ(table.at("circle").outcomes.at("circle"), 6) << "circles do not depend on it";

    const auto keys = evaluate({"--keys", "-s", "recognizer.swipe.min_speed=5000"});
    ASSERT_EQ(keys.exitCode, 0) << keys.err;
    EXPECT_NE(keys.out.find("recognizer.swipe.min_speed 5000\n"), std::string::npos) << keys.out;
    EXPECT_NE(keys.out.find("recognizer.circle.min_turns 0.75\n"), std::string::npos) << keys.out;
    EXPECT_NE(keys.out.find("recognizer.enabled true\n"), std::string::npos) << keys.out;
}

TEST_F(KivoEvaluate, LabelsComeFromTheFolderOrTheStartOfTheFileName) {
    const fs::path flat = *s_dir / "flat";
    fs::create_directories(flat);
    fs::copy_file(*s_dir / "swipe" / "slow-swipe-01.kivo", flat / "swipe-mine.kivo");
    fs::copy_file(*s_dir / "none" / "pinch-grab-01.kivo", flat / "none_pinch.kivo");
    fs::copy_file(*s_dir / "circle" / "circle-02.kivo", flat / "circles.kivo");  // no label
    const auto run = evaluate({flat.string(), "-t"});
    fs::remove_all(flat);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto table = outcomeTable(run.out.substr(run.out.find("outcome of each take")));
    ASSERT_EQ(table.size(), 2u) << run.out;
    EXPECT_EQ(table.at("swipe").outcomes.at("swipe"), 1);
    EXPECT_EQ(table.at("none").outcomes.at("none"), 1);
    EXPECT_NE(run.out.find("swipe-mine.kivo: swipe -> swipe swipe 1\n"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("1 recording(s) without a label skipped"), std::string::npos);
}

// A "tap" take is right with either kind of tap; --directions ends a take's line with the way
// each of its swipes went.
TEST_F(KivoEvaluate, TapTakesEitherTapAndSwipesTellTheirWay) {
    const fs::path flat = *s_dir / "either";
    fs::create_directories(flat);
    fs::copy_file(*s_dir / "screen-tap" / "screen-tap-01.kivo", flat / "tap-screen.kivo");
    fs::copy_file(*s_dir / "key-tap" / "key-tap-01.kivo", flat / "tap-key.kivo");
    fs::copy_file(*s_dir / "swipe" / "slow-swipe-00.kivo", flat / "swipe-right.kivo");
    const auto run = evaluate({flat.string(), "-t", "--directions"});
    fs::remove_all(flat);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto table = outcomeTable(run.out.substr(run.out.find("outcome of each take")));
    ASSERT_EQ(table.count("tap"), 1u) << run.out;
    EXPECT_EQ(table.at("tap").takes, 2);
    EXPECT_EQ(table.at("tap").right, "100%");
    EXPECT_NE(run.out.find("swipe-right.kivo: swipe -> swipe swipe 1 / right\n"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("3 of 3 takes right"), std::string::npos) << run.out;
}

// --why tells what refused a motion that made no gesture: the rule, the figures and the setting.
// The generated reach that closes into a grab folds the finger below reach_tap.min_extension.
TEST_F(KivoEvaluate, WhyNamesTheSettingThatRefusedAMotion) {
    const std::string grab = (*s_dir / "none" / "reach-grab-01.kivo").string();
    const auto run = evaluate({grab, "-t", "--why"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("reach-grab-01.kivo: none -> none\n"), std::string::npos) << run.out;
    const auto folded = run.out.find(" s why: reach: the finger folded to 0.");
    ASSERT_NE(folded, std::string::npos) << run.out;
    EXPECT_NE(run.out.find("of its length (reach_tap.min_extension 0.70)\n", folded),
              std::string::npos)
        << run.out;

    // The figure follows an overridden setting; without --events no gesture's start is listed.
    const std::string tap = (*s_dir / "screen-tap" / "arc-screen-tap-01.kivo").string();
    const auto tuned =
        evaluate({grab, tap, "-t", "--why", "-s", "recognizer.reach_tap.min_extension=0.9"});
    ASSERT_EQ(tuned.exitCode, 0) << tuned.err;
    EXPECT_NE(tuned.out.find("(reach_tap.min_extension 0.90)\n"), std::string::npos) << tuned.out;
    EXPECT_EQ(tuned.out.find("screen-tap start"), std::string::npos) << tuned.out;

    // A stroke long enough for a swipe but too slow for the setting says how fast it went.
    const std::string swipe = (*s_dir / "swipe" / "swipe-00.kivo").string();
    const auto slow = evaluate({swipe, "-t", "--why", "-s", "recognizer.swipe.min_speed=2000"});
    ASSERT_EQ(slow.exitCode, 0) << slow.err;
    EXPECT_NE(slow.out.find("swipe-00.kivo: swipe -> none\n"), std::string::npos) << slow.out;
    const auto stroke = slow.out.find(" s why: swipe: the palm's ");
    ASSERT_NE(stroke, std::string::npos) << slow.out;
    EXPECT_NE(slow.out.find("mm/s (swipe.min_speed 2000)\n", stroke), std::string::npos)
        << slow.out;

    // Without --why, no reason is printed.
    const auto plain = evaluate({grab, "-t", "--events"});
    ASSERT_EQ(plain.exitCode, 0) << plain.err;
    EXPECT_EQ(plain.out.find(" why: "), std::string::npos) << plain.out;
}

TEST_F(KivoEvaluate, RefusesWhatItCannotUse) {
    const auto unknown = evaluate({s_dir->string(), "-s", "recognizer.swipe.speed=1"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_EQ(unknown.err,
              "kivo-evaluate: --set recognizer.swipe.speed=1: no such key (--keys lists them)\n");
    const auto word = evaluate({s_dir->string(), "-s", "recognizer.swipe.min_speed=fast"});
    EXPECT_EQ(word.exitCode, 2);
    EXPECT_EQ(word.err,
              "kivo-evaluate: --set recognizer.swipe.min_speed=fast: recognizer.swipe.min_speed "
              "takes a finite number\n");
    const auto noValue = evaluate({s_dir->string(), "-s", "recognizer.enabled"});
    EXPECT_EQ(noValue.exitCode, 2);
    EXPECT_EQ(noValue.err, "kivo-evaluate: --set recognizer.enabled: expected KEY=VALUE\n");
    const auto readOnly = evaluate({s_dir->string(), "-s", "history.frames=5"});
    EXPECT_EQ(readOnly.exitCode, 2);
    EXPECT_EQ(readOnly.err,
              "kivo-evaluate: --set history.frames=5: history.frames is not a recogniser "
              "setting\n");

    const fs::path empty = *s_dir / "empty";
    fs::create_directories(empty);
    // No set of no takes, nor one past what a disk would hold.
    for (const char* takes : {"0", "1000000000"}) {
        const auto made = runProgram(KIVO_GENERATE_EXECUTABLE,
                                     {"--takes", takes, "-o", (empty / "takes").string()});
        EXPECT_NE(made.exitCode, 0) << takes;
        EXPECT_NE(made.err.find("--takes: Value " + std::string(takes) + " not in range 1 to 1000"),
                  std::string::npos)
            << made.err;
        EXPECT_FALSE(fs::exists(empty / "takes")) << takes;
    }
    const auto nothing = evaluate({empty.string()});
    EXPECT_EQ(nothing.exitCode, 1);
    EXPECT_EQ(nothing.err, "kivo-evaluate: no labelled recording found (0 without a label)\n");
    const auto missing = evaluate({(*s_dir / "missing").string()});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err,
              "kivo-evaluate: " + (*s_dir / "missing").string() + ": no such file or folder\n");
}

TEST(KivoTools, AReportThatCannotBeWrittenFailsTheRun) {
    // /dev/full accepts the open and refuses every write, as a full disk does.
    for (const std::string program :
         {KIVO_EVALUATE_EXECUTABLE " --keys", KIVO_GENERATE_EXECUTABLE " --list"}) {
        const std::string command = program + " > /dev/full 2> /dev/null";
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status)) << program;
        EXPECT_EQ(WEXITSTATUS(status), 1) << program;
    }
}

}  // namespace
