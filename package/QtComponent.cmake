# The Qt component of the package: find_package(PlcLink COMPONENTS Qt) gives PlcLink::qt,
# libplcqt (the controls on Qt's loop, the QObject wrappers, the Qt views of the screens) with
# its headers, and the plcpanel program. Installed only where the Qt parts were built.
if(NOT TARGET plcqt)
  return()
endif()
set_target_properties(plcqt PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR} EXPORT_NAME qt)
install(TARGETS plcqt EXPORT PlcLinkQtTargets LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${PLC_INCLUDE_DIR} ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT PlcLinkQtTargets NAMESPACE PlcLink:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/PlcLink)
if(TARGET plcpanel)
  set_target_properties(plcpanel PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
  install(TARGETS plcpanel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# The Qt headers, the generated wrappers, the screens' models and the few platform headers
# they include beyond the base's.
file(GLOB qt_headers ${CMAKE_SOURCE_DIR}/qt/*.h)
file(GLOB screens_headers ${CMAKE_SOURCE_DIR}/screens/*.h)
install(FILES ${qt_headers} DESTINATION ${PLC_INCLUDE_DIR}/qt)
install(DIRECTORY ${CMAKE_BINARY_DIR}/qt/generated/qt/ DESTINATION ${PLC_INCLUDE_DIR}/qt FILES_MATCHING PATTERN "*.h")
install(FILES ${screens_headers} DESTINATION ${PLC_INCLUDE_DIR}/screens)
install(FILES ${CMAKE_SOURCE_DIR}/platform/IntervalTimer.h ${CMAKE_SOURCE_DIR}/platform/PollEventLoop.h
  DESTINATION ${PLC_INCLUDE_DIR}/platform)
