#pragma once
// The exit status of a command-line tool once what it printed is out: a run whose standard
// output could not be written (a full disk, a closed pipe) fails, with the reason, instead of
// ending as if its report had been read.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

namespace KivoTools {

inline int exitAfterOutput(const char* program, int status) {
    errno = 0;
    std::cout.flush();
    const bool written =
        static_cast<bool>(std::cout) && std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
    if (written) {
        return status;
    }
    const int reason = errno;
    std::cerr << program << ": cannot write to standard output"
              << (reason != 0 ? std::string(": ") + std::strerror(reason) : std::string()) << "\n";
    return status != 0 ? status : 1;
}

}  // namespace KivoTools
