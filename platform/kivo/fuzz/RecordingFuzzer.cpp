// Feeds arbitrary bytes to the recording reader and the line parser. Whatever they accept must
// write back out and read again to the same value.
#include <kivo/Recording.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    Kivo::Recording rec;
    std::string error;
    if (Kivo::parseRecording(text, "fuzz", rec, error)) {
        std::string out = Kivo::formatHeaderLine(rec.header) + "\n";
        for (const auto& e : rec.entries) {
            out += Kivo::formatRecordLine(e) + "\n";
        }
        out += "end frames=" + std::to_string(rec.frameCount()) +
               " events=" + std::to_string(rec.eventCount()) + "\n";
        Kivo::Recording again;
        if (!Kivo::parseRecording(out, "fuzz-again", again, error) || !(again == rec)) {
            std::abort();
        }
    } else if (error.rfind("fuzz:", 0) != 0) {
        std::abort();  // every refusal names the file and line
    }
    Kivo::RecordEntry entry;
    const auto newline = text.find('\n');
    if (Kivo::parseRecordLine(text.substr(0, newline), entry, error)) {
        Kivo::RecordEntry back;
        if (!Kivo::parseRecordLine(Kivo::formatRecordLine(entry), back, error) ||
            !(back == entry)) {
            std::abort();
        }
    }
    return 0;
}
