// play -frames N
#include <kivo/DeviceService.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "../Command.h"
#include "../Interpreter.h"

namespace rova::lang {
namespace {

// "play [##########----------] 12/24" redrawn in place; only drawn on a terminal.
class ProgressBar {
  public:
    explicit ProgressBar(long long total) : m_total(total), m_shown(::isatty(STDERR_FILENO) != 0) {}
    ~ProgressBar() {
        if (m_shown && m_total > 0)
            std::fputc('\n', stderr);
    }
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void show(long long done) {
        if (!m_shown || m_total <= 0)
            return;
        constexpr int kWidth = 30;
        const int filled = static_cast<int>(done * kWidth / m_total);
        if (filled == m_lastFilled && done != m_total)
            return;
        m_lastFilled = filled;
        const std::string bar = std::string(static_cast<std::size_t>(filled), '#') +
                                std::string(static_cast<std::size_t>(kWidth - filled), '-');
        std::fprintf(stderr, "\rplay [%s] %lld/%lld", bar.c_str(), done, m_total);
        std::fflush(stderr);
    }

  private:
    long long m_total;
    bool m_shown;
    int m_lastFilled = -1;
};

host::Status run(CommandContext& context) {
    const long long frames = *parseInteger(context.in().value("frames"));
    auto& host = context.host();
    ProgressBar progress(frames);
    progress.show(0);
    for (long long tick = 1; tick <= frames; ++tick) {
        // The device first, so that what it delivers is seen by this very tick: queued idle
        // statements run, threaded device nodes that pushed get refreshed.
        Kivo::DeviceService::advance();
        Kivo::DeviceService::flushEvents();  // listeners have seen what it delivered
        host.tick();
        progress.show(tick);
    }
    return {};
}

const CommandRegistration registration{{
    .name = "play",
    .synopsis = "-frames N",
    .summary = "Run N host ticks; each first advances a lockstep device replay by one recorded "
               "frame, then runs a refresh. Shows a progress bar when standard error is a "
               "terminal.",
    .flags = {{.name = "frames",
               .values = 1,
               .kind = ValueKind::kInteger,
               .valueName = "N",
               .help = "number of ticks"}},
    .validate =
        [](const Invocation& in) {
            if (!in.has("frames"))
                return host::Status::failure("-frames N is required");
            if (*parseInteger(in.value("frames")) < 0)
                return host::Status::failure("-frames must be 0 or more, got " +
                                             in.value("frames"));
            return host::Status{};
        },
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
