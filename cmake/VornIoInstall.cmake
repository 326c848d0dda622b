include(CMakePackageConfigHelpers)

set(VORN_IO_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/vorn_io")

install(TARGETS vorn_io vorn_motor
  EXPORT vorn_ioTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(DIRECTORY include/vorn_io DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY motor/include/vorn_motor DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(EXPORT vorn_ioTargets
  NAMESPACE vorn_io::
  DESTINATION ${VORN_IO_CMAKE_DIR})

configure_package_config_file(
  cmake/vorn_ioConfig.cmake.in
  "${CMAKE_CURRENT_BINARY_DIR}/vorn_ioConfig.cmake"
  INSTALL_DESTINATION ${VORN_IO_CMAKE_DIR})
write_basic_package_version_file(
  "${CMAKE_CURRENT_BINARY_DIR}/vorn_ioConfigVersion.cmake"
  COMPATIBILITY SameMajorVersion)
install(FILES
  "${CMAKE_CURRENT_BINARY_DIR}/vorn_ioConfig.cmake"
  "${CMAKE_CURRENT_BINARY_DIR}/vorn_ioConfigVersion.cmake"
  DESTINATION ${VORN_IO_CMAKE_DIR})

configure_file(cmake/vorn_io.pc.in "${CMAKE_CURRENT_BINARY_DIR}/vorn_io.pc" @ONLY)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/vorn_io.pc"
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
