#pragma once
#include <vector>

#include "rova/RStatus.h"
#include "rova/RString.h"

// The arguments a command was called with, unparsed, in order.
class ROVA_API RArgList {
  public:
    RArgList() = default;
    explicit RArgList(std::vector<RString> words) : m_words(std::move(words)) {}
    unsigned int length() const noexcept { return static_cast<unsigned int>(m_words.size()); }
    RString asString(unsigned int index, RStatus* status = nullptr) const;
    int asInt(unsigned int index, RStatus* status = nullptr) const;
    double asDouble(unsigned int index, RStatus* status = nullptr) const;
    bool asBool(unsigned int index, RStatus* status = nullptr) const;
    void append(const RString& word) { m_words.push_back(word); }

  private:
    std::vector<RString> m_words;
};
