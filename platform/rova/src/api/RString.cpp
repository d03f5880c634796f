// RString.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "rova/RArgList.h"
#include "rova/REulerRotation.h"
#include "rova/RMatrix.h"
#include "rova/RObject.h"
#include "rova/RPoint.h"
#include "rova/RQuaternion.h"
#include "rova/RStatus.h"
#include "rova/RString.h"
#include "rova/RTime.h"
#include "rova/RTransformationMatrix.h"
#include "rova/RVector.h"
#include "rovahost/Host.h"
#include "rovahost/NumberText.h"

// ---------------------------------------------------------------- RString

int RString::index(char c) const noexcept {
    const auto pos = m_text.find(c);
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

int RString::rindex(char c) const noexcept {
    const auto pos = m_text.rfind(c);
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

RString RString::substring(int start, int end) const {
    const int size = static_cast<int>(m_text.size());
    start = std::max(start, 0);
    end = std::min(end, size - 1);
    if (start > end)
        return RString();
    return RString(
        m_text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start + 1)));
}

RString RString::toLowerCase() const {
    std::string text = m_text;
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return RString(std::move(text));
}

RString RString::toUpperCase() const {
    std::string text = m_text;
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return RString(std::move(text));
}

std::vector<RString> RString::split(char separator) const {
    std::vector<RString> parts;
    std::size_t start = 0;
    while (start <= m_text.size()) {
        const auto pos = m_text.find(separator, start);
        const auto stop = pos == std::string::npos ? m_text.size() : pos;
        if (stop > start)
            parts.emplace_back(m_text.substr(start, stop - start));
        if (pos == std::string::npos)
            break;
        start = pos + 1;
    }
    return parts;
}

bool RString::isInt() const noexcept {
    return static_cast<bool>(rova::host::parseInteger(m_text, INT32_MIN, INT32_MAX));
}

bool RString::isDouble() const noexcept {
    return static_cast<bool>(rova::host::parseNumber(m_text));
}

int RString::asInt() const noexcept {
    const auto parsed = rova::host::parseInteger(m_text, INT32_MIN, INT32_MAX);
    return parsed ? static_cast<int>(parsed.value) : 0;
}

double RString::asDouble() const noexcept {
    const auto parsed = rova::host::parseNumber(m_text);
    return parsed ? parsed.value : 0.0;
}

RString& RString::operator+=(double value) {
    m_text += rova::host::formatDouble(value);
    return *this;
}

RString& RString::operator+=(int value) {
    m_text += std::to_string(value);
    return *this;
}
