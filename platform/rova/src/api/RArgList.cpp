// RArgList.
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
#include "rovahost/NumberText.h"

// ---------------------------------------------------------------- RArgList
namespace {
bool argMissing(unsigned int index, unsigned int length, RStatus* status) {
    if (index < length)
        return false;
    if (status)
        *status = RStatus(RStatus::kInvalidParameter,
                          "argument " + std::to_string(index) + " is missing");
    return true;
}
}  // namespace

RString RArgList::asString(unsigned int index, RStatus* status) const {
    if (argMissing(index, length(), status))
        return RString();
    if (status)
        status->clear();
    return m_words[index];
}

int RArgList::asInt(unsigned int index, RStatus* status) const {
    if (argMissing(index, length(), status))
        return 0;
    const auto parsed = rova::host::parseInteger(m_words[index].str(), INT32_MIN, INT32_MAX);
    if (!parsed) {
        if (status)
            *status = RStatus(
                RStatus::kInvalidParameter,
                "argument '" + m_words[index].str() + "' " +
                    (parsed.error == rova::host::NumberError::kOutOfRange ? "is out of range"
                                                                          : "is not an integer"));
        return 0;
    }
    if (status)
        status->clear();
    return static_cast<int>(parsed.value);
}

double RArgList::asDouble(unsigned int index, RStatus* status) const {
    if (argMissing(index, length(), status))
        return 0.0;
    const auto parsed = rova::host::parseFiniteNumber(m_words[index].str());
    if (!parsed) {
        if (status)
            *status = RStatus(
                RStatus::kInvalidParameter,
                "argument '" + m_words[index].str() + "' " +
                    (parsed.error == rova::host::NumberError::kOutOfRange ? "is out of range"
                     : parsed.error == rova::host::NumberError::kNotFinite
                         ? "is not a finite number"
                         : "is not a number"));
        return 0.0;
    }
    if (status)
        status->clear();
    return parsed.value;
}

bool RArgList::asBool(unsigned int index, RStatus* status) const {
    if (argMissing(index, length(), status))
        return false;
    const std::string word = m_words[index].toLowerCase().str();
    if (status)
        status->clear();
    if (word == "true" || word == "on" || word == "1" || word == "yes")
        return true;
    if (word == "false" || word == "off" || word == "0" || word == "no")
        return false;
    if (status)
        *status = RStatus(RStatus::kInvalidParameter,
                          "argument '" + m_words[index].str() + "' is not a boolean");
    return false;
}
