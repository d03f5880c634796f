// A capture survives the signal that ends the program writing it: rova and kivo-record are
// stopped by SIGTERM or SIGINT in the middle of a capture, and the file then replays.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "RunRova.h"

namespace {

using kivorova::testing::ChildProcess;
using kivorova::testing::RovaRun;
using kivorova::testing::runRovaStatements;

namespace fs = std::filesystem;

class CaptureSignals : public ::testing::Test {
  protected:
    fs::path folder;

    void SetUp() override {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        folder = fs::temp_directory_path() /
                 ("kivo-signal-" + std::to_string(::getpid()) + "-" + test->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    // The names in the folder, sorted.
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& entry : fs::directory_iterator(folder)) {
            out.push_back(entry.path().filename().string());
        }
        std::sort(out.begin(), out.end());
        return out;
    }
    static std::string read(const fs::path& path) {
        std::ifstream file(path);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }
    static RovaRun replay(const fs::path& capture) {
        return runRovaStatements("device -replay \"" + capture.string() +
                                 "\"\nplay -frames 5\ndevice -status\n");
    }
};

TEST_F(CaptureSignals, RovaCompletesItsCaptureWhenASignalEndsIt) {
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(::strsignal(signal));
        const fs::path capture = folder / ("capture-" + std::to_string(signal) + ".kivo");
        const fs::path script = folder / "capture.rova";
        // Two frames and a focus change captured, then the script waits on its standard input.
        std::ofstream(script)
            << "device -record \"" << capture.string() << "\"\n"
            << "device -inject \"frame 1 t=0; hand 1 palm=0,200,0 "
               "normal=0,-1,0 dir=0,0,-1\"\n"
            << "device -inject \"event focus-lost t=100\"\n"
            << "device -inject \"frame 2 t=16666; hand 1 palm=0,201,0 "
               "normal=0,-1,0 dir=0,0,-1\"\n"
            << R"py(python("import os; os.write(1, b'capturing\\n'); os.read(0, 1)"))py"
            << "\n";
        ChildProcess rova(kivorova::testing::rovaProgram(), {script.string()},
                          folder / "errors.txt");
        ASSERT_EQ(rova.readUntil("capturing\n"), "capturing\n") << read(folder / "errors.txt");
        EXPECT_EQ(rova.stop(signal), signal) << "it still ends by the signal";
        fs::remove(script);
        fs::remove(folder / "errors.txt");
        EXPECT_EQ(names(), std::vector<std::string>{capture.filename().string()})
            << "the capture is in place and nothing is left beside it";

        const std::string text = read(capture);
        EXPECT_NE(text.find("\nevent focus-lost t=100\n"), std::string::npos) << text;
        ASSERT_NE(text.rfind("end "), std::string::npos) << text;
        EXPECT_EQ(text.substr(text.rfind("end ")), "end frames=2 events=2\n") << text;
        const RovaRun again = replay(capture);
        EXPECT_EQ(again.exitCode, 0) << again.err;
        EXPECT_EQ(again.out, "source replay " + capture.string() +
                                 " (lockstep, finished) 2/2, connected, focus off, frame 2, 2 "
                                 "frames delivered\n");
        fs::remove(capture);
    }
}

// A child forked from the program (Python's multiprocessing does that, and ends its workers with
// SIGTERM) shares the capture's file but must leave it to the program.
TEST_F(CaptureSignals, AForkedChildEndedByASignalLeavesTheCaptureAlone) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer does not deliver signals in a forked child";
#endif
    const fs::path capture = folder / "capture.kivo";
    const RovaRun run = runRovaStatements(
        "device -record \"" + capture.string() + "\"\n" +
        R"rova(device -inject "frame 1 t=0; hand 1 palm=0,200,0 normal=0,-1,0 dir=0,0,-1"
python("import os, signal\npid = os.fork()\nif pid == 0:\n    os.kill(os.getpid(), signal.SIGTERM)\n    os._exit(3)\n_, status = os.waitpid(pid, 0)\nprint('child ended by signal', os.WTERMSIG(status))")
device -inject "frame 2 t=16666; hand 1 palm=0,201,0 normal=0,-1,0 dir=0,0,-1"
device -stop
)rova" + "device -replay \"" +
        capture.string() + "\"\nplay -frames 5\ndevice -status\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "child ended by signal 15\nsource replay " + capture.string() +
                           " (lockstep, finished) 2/2, connected, focus on, frame 4, 4 frames "
                           "delivered\n");
}

TEST_F(CaptureSignals, KivoRecordCompletesItsCaptureWhenASignalEndsIt) {
    const fs::path input = folder / "input.kivo";
    const fs::path capture = folder / "capture.kivo";
    ASSERT_EQ(::mkfifo(input.c_str(), 0600), 0) << std::strerror(errno);
    ChildProcess record(KIVO_RECORD_PROGRAM, {input.string(), "-o", capture.string()},
                        folder / "errors.txt");
    // kivo-record starts its capture and then opens its input: once this open returns, it is
    // capturing, and waiting for the recording to replay.
    const int fd = ::open(input.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    record.send(SIGTERM);
    ::close(fd);
    EXPECT_EQ(record.wait(), SIGTERM);
    EXPECT_EQ(read(capture),
              "kivo-recording version=1 rate=60 length=mm time=us gestures=recorded\n"
              "end frames=0 events=0\n");
    const RovaRun again = replay(capture);
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_NE(again.out.find(" (lockstep, finished) 0/0, "), std::string::npos) << again.out;
}

}  // namespace
