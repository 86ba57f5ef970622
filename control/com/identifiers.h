// The identifiers of the control class, its dispatch interface and its type
// library, and the names under which the class is registered. Clients
// include this header to create the control by its class identifier; it
// carries no code, so they do not link against the control.

#pragma once

#include "platform/com/types.h"

namespace mbus::control {

// Class "MBusOrlX4 Class".
inline constexpr com::CLSID CLSID_MBusOrlX4 = {
    0x4D98611E, 0x7D78, 0x4825, {0x94, 0x53, 0x75, 0xC8, 0x04, 0x69, 0xBE, 0xE5}};
// The dual dispatch interface IMBusOrlX4.
inline constexpr com::IID IID_IMBusOrlX4 = {
    0xE4E0266F, 0x2936, 0x4855, {0xA1, 0x0F, 0x02, 0x00, 0x1C, 0x79, 0x1C, 0xA5}};
// Type library MBusOrlX4CTRLLib, version 1.0.
inline constexpr com::GUID LIBID_MBusOrlX4CTRLLib = {
    0xF97E6050, 0x9C67, 0x442B, {0x9B, 0x57, 0x04, 0x3F, 0x86, 0x25, 0x54, 0x6D}};

inline constexpr const char* kProgID = "MBusOrlX4.MBusOrlX4.1";
inline constexpr const char* kVersionIndependentProgID = "MBusOrlX4.MBusOrlX4";
inline constexpr const char* kClassDescription = "MBusOrlX4 Class";
// File name of the control library in the build's lib directory.
inline constexpr const char* kLibraryFileName = "libMBusOrlX4Ctrl.so";

}  // namespace mbus::control
