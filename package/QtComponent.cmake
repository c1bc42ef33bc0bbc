# The Qt component of the package: find_package(PlcLink COMPONENTS Qt) gives PlcLink::qt,
# libplcqt (the controls on Qt's loop, the QObject wrappers, the Qt views of the screens) with
# its headers, and the plcpanel program. Installed only where the Qt parts were built.
if(NOT TARGET plcqt)
  return()
endif()
set_target_properties(plcqt PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR} EXPORT_NAME qt)
install(TARGETS plcqt EXPORT PlcLinkQtTargets LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT PlcLinkQtTargets NAMESPACE PlcLink:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/PlcLink)
if(TARGET plcpanel)
  set_target_properties(plcpanel PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
  install(TARGETS plcpanel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# The Qt headers, the generated wrappers, the screens' models and the few platform headers
# they include beyond the base's.
file(GLOB qt_headers RELATIVE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/qt/*.h ${CMAKE_SOURCE_DIR}/screens/*.h)
foreach(header ${qt_headers} platform/IntervalTimer.h platform/PollEventLoop.h platform/TimerQueue.h)
  plc_install_header(${CMAKE_SOURCE_DIR}/${header} ${header})
endforeach()
foreach(pair ${PLC_CONTROLS})
  plc_control_names(${pair} plugin class)
  plc_install_header(${CMAKE_BINARY_DIR}/qt/generated/qt/${class}Object.h qt/${class}Object.h)
endforeach()
