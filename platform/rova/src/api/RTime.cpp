// RTime.
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

// ---------------------------------------------------------------- RTime
double RTime::unitsPerSecond(Unit unit) noexcept {
    switch (unit) {
        case kHours:
            return 1.0 / 3600.0;
        case kMinutes:
            return 1.0 / 60.0;
        case kSeconds:
            return 1.0;
        case kMilliseconds:
            return 1000.0;
        case kFilm:
            return 24.0;
        case kPALFrame:
            return 25.0;
        case kNTSCFrame:
            return 30.0;
        case kGames:
            return 15.0;
        case k48FPS:
            return 48.0;
        case k60FPS:
            return 60.0;
        case kInvalid:
            break;
    }
    return 1.0;
}

RTime::RTime(double value, Unit unit) noexcept
    : m_seconds(value / unitsPerSecond(unit)), m_unit(unit == kInvalid ? kSeconds : unit) {}

double RTime::asUnits(Unit unit) const noexcept {
    return m_seconds * unitsPerSecond(unit);
}
