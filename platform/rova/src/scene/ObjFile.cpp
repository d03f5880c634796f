// OBJ files: polygons read through the OBJ library, after a pass of our own that names the file and
// line of anything malformed and reads the vertices exactly; written directly (the library only
// reads), whole or not at all. Only a regular file of text is read, and no more of it than
// kMaxObjBytes, so a device, a pipe or a binary file is refused with the reason instead of
// hanging, growing or importing nothing.
#include <fcntl.h>
#include <sys/stat.h>
#include <tiny_obj_loader.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>

#include "rovahost/NumberText.h"
#include "rovahost/ReplaceFile.h"
#include "rovahost/Scene.h"

namespace rova::host::scene {

namespace {

// The vertex of one face corner ("7", "7/2", "7//3", "-1/2/3"), 0-based, given how many
// vertices came before it; an error text when it is not one.
std::optional<int> cornerVertex(const std::string& word, std::int64_t vertices,
                                std::string& error) {
    const std::string index = word.substr(0, word.find('/'));
    const auto parsed = parseInteger(index, -2147483647LL, 2147483647LL);
    if (!parsed || parsed.value == 0) {
        error = "'" + word + "' is not a vertex index (1 for the first vertex, -1 for the last)";
        return std::nullopt;
    }
    const std::int64_t at = parsed.value > 0 ? parsed.value - 1 : vertices + parsed.value;
    if (at < 0 || at >= vertices) {
        error = "vertex " + index + " does not exist (" + std::to_string(vertices) +
                " vertices so far)";
        return std::nullopt;
    }
    return static_cast<int>(at);
}

// Formats that are often given by mistake, by their first bytes.
std::optional<std::string> binaryFormat(std::string_view text) {
    struct Magic {
        std::string_view bytes;
        const char* what;
    };
    static constexpr Magic kMagics[] = {
        {"glTF", "a binary glTF (.glb) file"},
        {"\x89PNG\r\n\x1a\n", "a PNG image"},
        {"\x7f"
         "ELF",
         "an executable (ELF) file"},
        {"\xff\xd8\xff", "a JPEG image"},
        {"PK\x03\x04", "a zip archive"},
        {"\x1f\x8b", "a gzip-compressed file"},
        {"%PDF-", "a PDF document"},
    };
    for (const Magic& magic : kMagics)
        if (text.substr(0, magic.bytes.size()) == magic.bytes)
            return magic.what;
    return std::nullopt;
}

// Bytes in a continuation position of UTF-8 (10xxxxxx).
bool continuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// The length of the well-formed UTF-8 sequence at line[i] (no overlong forms, surrogates or code
// points past U+10FFFF), or 0.
std::size_t utf8Length(std::string_view line, std::size_t i) {
    const auto at = [&](std::size_t k) {
        return i + k < line.size() ? static_cast<unsigned char>(line[i + k]) : 0;
    };
    const unsigned char c = at(0);
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF)
        return continuation(at(1)) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        const unsigned char lo = c == 0xE0 ? 0xA0 : 0x80;
        const unsigned char hi = c == 0xED ? 0x9F : 0xBF;
        return at(1) >= lo && at(1) <= hi && continuation(at(2)) ? 3 : 0;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        const unsigned char lo = c == 0xF0 ? 0x90 : 0x80;
        const unsigned char hi = c == 0xF4 ? 0x8F : 0xBF;
        return at(1) >= lo && at(1) <= hi && continuation(at(2)) && continuation(at(3)) ? 4 : 0;
    }
    return 0;
}

// What makes a line not text: a NUL byte, a control character other than a tab, or bytes that are
// not UTF-8.
std::optional<std::string> notText(std::string_view line) {
    for (std::size_t i = 0; i < line.size();) {
        const auto c = static_cast<unsigned char>(line[i]);
        if (c == 0)
            return "a NUL byte (binary data, not text)";
        if ((c < 0x20 && c != '\t') || c == 0x7F) {
            char code[8];
            std::snprintf(code, sizeof code, "0x%02X", c);
            return std::string("control character ") + code + " (binary data, not text)";
        }
        const std::size_t length = utf8Length(line, i);
        if (length == 0)
            return "bytes that are not UTF-8 text";
        i += length;
    }
    return std::nullopt;
}

// Splits the text into lines at "\n", "\r\n" or a lone "\r", as the OBJ library does, so that both
// count the same lines.
class Lines {
  public:
    explicit Lines(std::string_view text) : m_text(text) {}
    bool next(std::string_view& line) {
        if (m_at >= m_text.size())
            return false;
        const std::size_t end = m_text.find_first_of("\r\n", m_at);
        if (end == std::string_view::npos) {
            line = m_text.substr(m_at);
            m_at = m_text.size();
            return true;
        }
        line = m_text.substr(m_at, end - m_at);
        m_at = end +
               (m_text[end] == '\r' && end + 1 < m_text.size() && m_text[end + 1] == '\n' ? 2 : 1);
        return true;
    }

  private:
    std::string_view m_text;
    std::size_t m_at = 0;
};

// Checks every line the geometry depends on, and reads the vertices exactly (the library's own
// number reading can be off by the last digit, and what `export` writes must read back the same).
Status checkObj(const std::string& name, std::string_view text,
                std::vector<std::array<double, 3>>& points) {
    std::int64_t vertices = 0;
    Lines lines(text);
    std::string_view raw;
    for (long number = 1; lines.next(raw); ++number) {
        const auto fail = [&](const std::string& what) {
            return Status::failure(name + ":" + std::to_string(number) + ": " + what);
        };
        if (const auto problem = notText(raw))
            return fail(*problem + "; not an OBJ file");
        std::istringstream words{std::string(raw)};
        std::string key;
        if (!(words >> key) || key[0] == '#')
            continue;
        std::vector<std::string> rest;
        for (std::string word; words >> word;) rest.push_back(word);
        if (key == "v") {
            if (rest.size() < 3 || rest.size() > 7)
                return fail("a vertex needs 3 coordinates ('v X Y Z'), not " +
                            std::to_string(rest.size()));
            std::array<double, 3> point{};
            for (std::size_t k = 0; k < 3; ++k) {
                const auto coordinate = parseFiniteNumber(rest[k]);
                if (!coordinate)
                    return fail("vertex coordinate: " +
                                describeNumberError(coordinate.error, rest[k]));
                point[k] = coordinate.value;
            }
            points.push_back(point);
            ++vertices;
        } else if (key == "f") {
            if (rest.size() < 3)
                return fail("a face needs at least 3 vertices, not " + std::to_string(rest.size()));
            for (const auto& word : rest) {
                std::string error;
                if (!cornerVertex(word, vertices, error))
                    return fail(error);
            }
        }
    }
    return {};
}

// Closes the descriptor when the read ends, however it ends.
struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0)
            ::close(fd);
    }
};

std::string sizeLimitText() {
    return std::to_string(kMaxObjBytes >> 30) + " GiB";
}

// The whole file as bytes, when it is a regular file within the size limit.
Result<std::string> readRegularFile(const std::filesystem::path& file) {
    Result<std::string> out;
    const std::string name = file.string();
    // Non-blocking, so that opening a pipe with no writer returns at once and is refused below.
    Descriptor in{::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
    if (in.fd < 0) {
        out.status = Status::failure(
            name + ": cannot be read: " +
            (errno == ENOENT ? std::string("no such file") : std::string(std::strerror(errno))));
        return out;
    }
    struct stat info {};
    if (::fstat(in.fd, &info) != 0) {
        out.status = Status::failure(name + ": cannot be read: " + std::strerror(errno));
        return out;
    }
    const char* kind = S_ISDIR(info.st_mode)                            ? "a directory"
                       : S_ISFIFO(info.st_mode)                         ? "a named pipe"
                       : S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode) ? "a device"
                       : S_ISSOCK(info.st_mode)                         ? "a socket"
                       : !S_ISREG(info.st_mode)                         ? "not a regular file"
                                                                        : nullptr;
    if (kind) {
        out.status = Status::failure(name + ": is " + std::string(kind) +
                                     ", not an OBJ file (only regular files are read)");
        return out;
    }
    const auto tooLarge = [&] {
        out.status = Status::failure(name + ": is larger than " + sizeLimitText() +
                                     ", the most an OBJ file may have");
    };
    if (static_cast<std::uintmax_t>(info.st_size) > kMaxObjBytes) {
        tooLarge();
        return out;
    }
    // Read up to one byte past the limit: a file that grows while it is read is refused too.
    out.value.resize(static_cast<std::size_t>(info.st_size));
    std::size_t have = 0;
    for (;;) {
        if (have == out.value.size()) {
            if (have > kMaxObjBytes) {
                tooLarge();
                return out;
            }
            out.value.resize(std::min<std::size_t>(have + 65536, kMaxObjBytes + 1));
        }
        const ::ssize_t got = ::read(in.fd, out.value.data() + have, out.value.size() - have);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            out.status = Status::failure(name + ": cannot be read: " + std::strerror(errno));
            return out;
        }
        if (got == 0)
            break;
        have += static_cast<std::size_t>(got);
    }
    out.value.resize(have);
    return out;
}

}  // namespace

Result<MeshGeometry> parseObj(std::string_view text, const std::string& name) {
    Result<MeshGeometry> out;
    // A byte-order mark is no part of the first line.
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    if (const auto format = binaryFormat(text)) {
        out.status = Status::failure(name + ": is " + *format + ", not an OBJ file");
        return out;
    }
    if (out.status = checkObj(name, text, out.value.points); !out.ok())
        return out;
    if (out.value.points.empty()) {
        out.status = Status::failure(name + ": not an OBJ file: it has no vertices ('v X Y Z')");
        return out;
    }
    tinyobj::attrib_t attrib;
    std::vector<tinyobj::shape_t> shapes;
    std::vector<tinyobj::material_t> materials;
    std::string warning, error;
    std::istringstream in{std::string(text)};
    // No material reader: materials are not imported, and a material library is never opened.
    if (!tinyobj::LoadObj(&attrib, &shapes, &materials, &warning, &error, &in, nullptr,
                          /*triangulate=*/false, /*default_vcols_fallback=*/false)) {
        out.status = Status::failure(name + ": " + error);
        return out;
    }
    if (attrib.vertices.size() != 3 * out.value.points.size()) {
        out.status = Status::failure(
            name + ": the OBJ reader found " + std::to_string(attrib.vertices.size() / 3) +
            " vertices where there are " + std::to_string(out.value.points.size()));
        return out;
    }
    for (const auto& shape : shapes) {
        std::size_t at = 0;
        for (const auto count : shape.mesh.num_face_vertices) {
            std::vector<int> face;
            for (std::size_t k = 0; k < count; ++k)
                face.push_back(shape.mesh.indices[at + k].vertex_index);
            at += count;
            out.value.faces.push_back(std::move(face));
        }
    }
    return out;
}

Result<MeshGeometry> readObj(const std::filesystem::path& file) {
    Result<MeshGeometry> out;
    auto text = readRegularFile(file);
    if (!text.ok()) {
        out.status = text.status;
        return out;
    }
    return parseObj(text.value, file.string());
}

std::string formatObj(const MeshGeometry& geometry, const std::string& objectName) {
    std::string out = "# written by rova\no " + objectName + "\n";
    for (const auto& p : geometry.points)
        out +=
            "v " + formatDouble(p[0]) + ' ' + formatDouble(p[1]) + ' ' + formatDouble(p[2]) + '\n';
    for (const auto& face : geometry.faces) {
        out += 'f';
        for (const int v : face) out += ' ' + std::to_string(v + 1);
        out += '\n';
    }
    return out;
}

Status writeObj(const std::filesystem::path& file, const MeshGeometry& geometry,
                const std::string& objectName) {
    // A file that import would refuse is not written (the one there stays).
    for (std::size_t k = 0; k < geometry.points.size(); ++k) {
        const auto& p = geometry.points[k];
        if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || !std::isfinite(p[2]))
            return Status::failure("cannot write '" + file.string() + "': vertex " +
                                   std::to_string(k) + " of '" + objectName + "' is not finite (" +
                                   formatDouble(p[0]) + ' ' + formatDouble(p[1]) + ' ' +
                                   formatDouble(p[2]) + ")");
    }
    return replaceFile(file, formatObj(geometry, objectName));
}

}  // namespace rova::host::scene
