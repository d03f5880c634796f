#pragma once
// Everything a plug-in may use of the host.
#include "rova/RArgList.h"
#include "rova/RArrayDataHandle.h"
#include "rova/RCharBuffer.h"
#include "rova/RDataBlock.h"
#include "rova/RDataHandle.h"
#include "rova/REulerRotation.h"
#include "rova/RFnAttribute.h"
#include "rova/RFnPlugin.h"
#include "rova/RGlobal.h"
#include "rova/RMatrix.h"
#include "rova/RObject.h"
#include "rova/RPlug.h"
#include "rova/RPoint.h"
#include "rova/RPxCommand.h"
#include "rova/RPxNode.h"
#include "rova/RPxThreadedDeviceNode.h"
#include "rova/RQuaternion.h"
#include "rova/RStatus.h"
#include "rova/RString.h"
#include "rova/RTime.h"
#include "rova/RTransformationMatrix.h"
#include "rova/RTypeId.h"
#include "rova/RVector.h"

// The host calls these plug-in entry points.
#define ROVA_PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))
