// Degrees to radians, as the formulation rounds it: the angle times the double nearest pi/180.
#pragma once

namespace tarvo_core {

inline double radians(double degrees) { return degrees * 0.017453292519943295; }

}  // namespace tarvo_core
