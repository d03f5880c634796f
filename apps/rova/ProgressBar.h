#pragma once
// "LABEL [##########----------] 12/24", redrawn in place on standard error while long commands
// run; drawn only when standard error is a terminal, so scripts and logs stay clean.
#include <unistd.h>

#include <cstdio>
#include <string>

namespace rova::lang {

class ProgressBar {
  public:
    ProgressBar(std::string label, long long total)
        : m_label(std::move(label)), m_total(total), m_shown(::isatty(STDERR_FILENO) != 0) {}
    ~ProgressBar() { finish(); }
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
        std::fprintf(stderr, "\r%s [%s] %lld/%lld", m_label.c_str(), bar.c_str(), done, m_total);
        std::fflush(stderr);
    }

    // Ends the bar's line, so that what the command prints next starts on a line of its own.
    void finish() {
        if (m_shown && m_total > 0 && m_lastFilled >= 0)
            std::fputc('\n', stderr);
        m_shown = false;
    }

  private:
    std::string m_label;
    long long m_total;
    bool m_shown;
    int m_lastFilled = -1;
};

}  // namespace rova::lang
