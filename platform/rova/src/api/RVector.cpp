// RVector, RPoint and RObject constants.
#include "rova/RVector.h"
#include "rova/RObject.h"
#include "rova/RPoint.h"

const RObject RObject::kNullObj{};
const RVector RVector::zero{0.0, 0.0, 0.0};
const RVector RVector::xAxis{1.0, 0.0, 0.0};
const RVector RVector::yAxis{0.0, 1.0, 0.0};
const RVector RVector::zAxis{0.0, 0.0, 1.0};
const RVector RVector::xNegAxis{-1.0, 0.0, 0.0};
const RVector RVector::yNegAxis{0.0, -1.0, 0.0};
const RVector RVector::zNegAxis{0.0, 0.0, -1.0};
const RPoint RPoint::origin{0.0, 0.0, 0.0, 1.0};
