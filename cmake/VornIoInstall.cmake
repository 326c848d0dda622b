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

# The .pc file names its prefix outright (a ${pcfiledir}-relative one would put
# odd -I/-L paths on the command line for a /usr install). That prefix is the
# one given at install time (cmake --install --prefix), not the configured one,
# so the install step fills it in. Each prefix gets its own staging copy, so
# installs of one build tree into several prefixes at once do not mix.
foreach(kind LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${kind}}")
    set(VORN_IO_PC_${kind} "${CMAKE_INSTALL_${kind}}")
  else()
    set(VORN_IO_PC_${kind} "\${prefix}/${CMAKE_INSTALL_${kind}}")
  endif()
endforeach()
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(_vorn_io_pc_destination "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
else()
  set(_vorn_io_pc_destination "\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig")
endif()
set(VORN_IO_PC_PREFIX "@VORN_IO_INSTALL_PREFIX@")
configure_file(cmake/vorn_io.pc.in "${CMAKE_CURRENT_BINARY_DIR}/vorn_io.pc.stage" @ONLY)
install(CODE "
  string(MD5 prefix_hash \"\${CMAKE_INSTALL_PREFIX}\")
  set(pc_file \"${CMAKE_CURRENT_BINARY_DIR}/pkgconfig/\${prefix_hash}/vorn_io.pc\")
  file(READ \"${CMAKE_CURRENT_BINARY_DIR}/vorn_io.pc.stage\" pc)
  string(REPLACE \"@VORN_IO_INSTALL_PREFIX@\" \"\${CMAKE_INSTALL_PREFIX}\" pc \"\${pc}\")
  file(WRITE \"\${pc_file}\" \"\${pc}\")
  file(INSTALL DESTINATION \"${_vorn_io_pc_destination}\" TYPE FILE FILES \"\${pc_file}\")
")
