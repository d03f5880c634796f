#pragma once

// Everything a client of the Kivo device library uses.
#include <kivo/Config.h>
#include <kivo/Controller.h>
#include <kivo/Frame.h>
#include <kivo/Gesture.h>
#include <kivo/GestureList.h>
#include <kivo/Hand.h>
#include <kivo/HandList.h>
#include <kivo/Listener.h>
#include <kivo/Pointable.h>
#include <kivo/PointableList.h>
#include <kivo/Vector.h>
