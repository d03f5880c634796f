#pragma once
#include "rova/RString.h"

namespace rova::detail {
struct StatusAccess;
}

// Result of every host API call. Success is code 0.
class ROVA_API RStatus {
  public:
    enum RStatusCode {
        kSuccess = 0,
        kFailure = 1,
        kInsufficientMemory = 2,
        kInvalidParameter = 3,
        kLicenseFailure = 4,
        kUnknownParameter = 5,  // compute: "this node does not compute that plug"
        kNotImplemented = 6,
        kNotFound = 7,
        kEndOfFile = 8,
    };

    RStatus() noexcept = default;
    RStatus(RStatusCode code) noexcept : m_code(code) {}
    // A status with a description of its own that errorString() returns.
    RStatus(RStatusCode code, const RString& description)
        : m_code(code), m_description(description) {}

    RStatusCode statusCode() const noexcept { return m_code; }
    bool error() const noexcept { return m_code != kSuccess; }
    explicit operator bool() const noexcept { return m_code == kSuccess; }
    bool operator!() const noexcept { return m_code != kSuccess; }
    bool operator==(const RStatus& other) const noexcept { return m_code == other.m_code; }
    bool operator==(RStatusCode code) const noexcept { return m_code == code; }
    bool operator!=(RStatusCode code) const noexcept { return m_code != code; }
    // Cheap on a status that is already clear: every outputValue of a compute clears one.
    void clear() noexcept {
        m_code = kSuccess;
        if (!m_description.isEmpty())
            dropDescription();
    }

    // The status's own description: the one it was built with, else the text of its code.
    RString errorString() const;
    // Writes "TEXT: DESCRIPTION" and a line end to standard error; with an empty text, the
    // description alone.
    void perror(const char* text) const;
    void perror(const RString& text) const { perror(text.asChar()); }

  private:
    friend struct rova::detail::StatusAccess;
    void dropDescription() noexcept;  // out of line: the callers of clear stay small

    RStatusCode m_code = kSuccess;
    RString m_description;
};
