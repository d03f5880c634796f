// A capture survives the signal that ends the program writing it: rova and kivo-record are
// stopped by SIGTERM or SIGINT in the middle of a capture, and the file then replays.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "RunRova.h"

extern char** environ;

namespace {

using kivorova::testing::RovaRun;
using kivorova::testing::runRovaStatements;

namespace fs = std::filesystem;

// A program running with pipes on its standard input and output, ended by a signal.
class Child {
  public:
    Child(const std::string& program, const std::vector<std::string>& arguments,
          const fs::path& errors) {
        int in[2];
        int out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
            ADD_FAILURE() << "pipe: " << std::strerror(errno);
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        // Whatever the test runner does with these signals, the program starts with defaults.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t signals;
        sigemptyset(&signals);
        posix_spawnattr_setsigmask(&attributes, &signals);
        for (const int s : {SIGINT, SIGTERM, SIGHUP}) {
            sigaddset(&signals, s);
        }
        posix_spawnattr_setsigdefault(&attributes, &signals);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        std::vector<std::string> words{program};
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (auto& word : words) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
        const int error =
            posix_spawn(&m_pid, program.c_str(), &actions, &attributes, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        ::close(in[0]);
        ::close(out[1]);
        m_in = in[1];
        m_out = out[0];
        if (error != 0) {
            ADD_FAILURE() << "spawn " << program << ": " << std::strerror(error);
            m_pid = -1;
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() {
        if (m_pid > 0) {
            stop(SIGKILL);
        }
        closeAll();
    }

    // Reads standard output until it holds `text` or ends; returns all that was read.
    std::string readUntil(const std::string& text) {
        std::string got;
        char buffer[256];
        while (got.find(text) == std::string::npos) {
            const ssize_t n = ::read(m_out, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }

    void send(int signal) { ::kill(m_pid, signal); }

    // Ends standard input (a program blocked reading it goes on), waits for the program to end
    // and returns the signal that ended it, or 0. Some sanitizers hold a signal back until the
    // call it arrived in returns: a pending signal is taken before anything the program does next.
    int wait() {
        closeAll();
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
        return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }

    int stop(int signal) {
        send(signal);
        return wait();
    }

  private:
    void closeAll() {
        for (int* fd : {&m_in, &m_out}) {
            if (*fd >= 0) {
                ::close(*fd);
                *fd = -1;
            }
        }
    }

    pid_t m_pid = -1;
    int m_in = -1;
    int m_out = -1;
};

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
        Child rova(kivorova::testing::rovaProgram().string(), {script.string()},
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
    Child record(KIVO_RECORD_PROGRAM, {input.string(), "-o", capture.string()},
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
