#pragma once
// Everything a C++ host of the link controls needs: the control interface and its dispatch by
// name, Variant and its arrays, result codes and enumerations, run-time errors, the component
// host and property bags, the event loop the controls wait on, and loading a control's
// plug-in by name.
//
// ABI: the controls hand std::string, std::vector and std::function across the plug-in
// boundary and throw plc::RuntimeError through it. A host and every plug-in it loads must be
// built as C++20 with GCC's libstdc++ (or clang using libstdc++) and the new string ABI
// (_GLIBCXX_USE_CXX11_ABI=1, the default), against the same major version of libplcbase
// (PLCLINK_VERSION_MAJOR below). Plug-ins export only PlcCreateControl and PlcDestroyControl.
#include "platform/Control.h"
#include "base/Dispatch.h"
#include "base/Enums.h"
#include "platform/PluginControl.h"
#include "base/ResultCodes.h"
#include "base/RuntimeError.h"
#include "base/Variant.h"
#include "platform/ComponentHost.h"
#include "platform/EventLoop.h"
#include "platform/IniPropertyBag.h"
#include "platform/PropertyBag.h"
#include "platform/SerialPortMap.h"
#include "plclink/Version.h"
