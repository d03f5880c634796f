// RStatus.
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

// ---------------------------------------------------------------- RStatus
void RStatus::dropDescription() noexcept {
    m_description = RString();
}

RString RStatus::errorString() const {
    if (!m_description.isEmpty())
        return m_description;
    switch (m_code) {
        case kSuccess:
            return "success";
        case kFailure:
            return "failure";
        case kInsufficientMemory:
            return "insufficient memory";
        case kInvalidParameter:
            return "invalid parameter";
        case kLicenseFailure:
            return "license failure";
        case kUnknownParameter:
            return "unknown parameter";
        case kNotImplemented:
            return "not implemented";
        case kNotFound:
            return "not found";
        case kEndOfFile:
            return "end of file";
    }
    return "unknown status";
}

void RStatus::perror(const char* text) const {
    std::string line;
    if (text && *text) {
        line = text;
        line += ": ";
    }
    line += errorString().str();
    line += '\n';
    std::cerr << line << std::flush;
}
