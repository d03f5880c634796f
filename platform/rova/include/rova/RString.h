#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "rova/RovaExport.h"

// The host's text value. Holds UTF-8; indices count bytes.
class ROVA_API RString {
  public:
    RString() = default;
    RString(const char* text) : m_text(text ? text : "") {}
    RString(std::string text) : m_text(std::move(text)) {}
    RString(std::string_view text) : m_text(text) {}

    const char* asChar() const noexcept { return m_text.c_str(); }
    const std::string& str() const noexcept { return m_text; }
    unsigned int length() const noexcept { return static_cast<unsigned int>(m_text.size()); }
    unsigned int numChars() const noexcept { return length(); }
    bool isEmpty() const noexcept { return m_text.empty(); }

    // Position of the first occurrence of c, or -1.
    int index(char c) const noexcept;
    // Position of the first occurrence of c counted in characters, or -1.
    int indexW(char c) const noexcept { return index(c); }
    int rindex(char c) const noexcept;
    RString substring(int start, int end) const;  // inclusive end, as the host's scripts expect
    RString toLowerCase() const;
    RString toUpperCase() const;
    std::vector<RString> split(char separator) const;

    bool isInt() const noexcept;
    bool isDouble() const noexcept;
    int asInt() const noexcept;        // 0 when not a number
    double asDouble() const noexcept;  // 0 when not a number

    RString& operator+=(const RString& other) {
        m_text += other.m_text;
        return *this;
    }
    RString& operator+=(const char* other) {
        m_text += other ? other : "";
        return *this;
    }
    RString& operator+=(double value);
    RString& operator+=(int value);
    friend RString operator+(RString a, const RString& b) { return a += b; }
    friend RString operator+(RString a, const char* b) { return a += b; }
    bool operator==(const RString& other) const noexcept { return m_text == other.m_text; }
    bool operator==(const char* other) const noexcept { return m_text == (other ? other : ""); }
    bool operator<(const RString& other) const noexcept { return m_text < other.m_text; }

  private:
    std::string m_text;
};

using RStringArray = std::vector<RString>;
