include(CMakePackageConfigHelpers)

# Install components, each one Debian package (scripts/package):
#   runtime      libvorn_io.so.1
#   development  headers, the libvorn_io.so link, the CMake package, vorn_io.pc
#   tools        vorn-io (a launcher in bin/, the tool itself in libexec/)
#   simulation   the simulated libvorn_motor.so.1, in a folder of its own
set(VORN_IO_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/vorn_io")
# The stand-in carries the vendor driver's soname, so in a folder the loader
# searches it would replace the vendor's library without a word. Here only a
# preload by absolute path (`vorn-io sim --`) or a link's -rpath-link reaches it.
set(VORN_IO_SIM_SUBDIR "vorn_io/sim")
set(VORN_IO_SIM_LIBDIR "${CMAKE_INSTALL_LIBDIR}/${VORN_IO_SIM_SUBDIR}")

install(TARGETS vorn_io
  EXPORT vorn_ioTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS vorn_motor
  EXPORT vorn_ioSimulationTargets
  LIBRARY DESTINATION ${VORN_IO_SIM_LIBDIR} COMPONENT simulation NAMELINK_SKIP)

install(DIRECTORY include/vorn_io DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
install(DIRECTORY motor/include/vorn_motor DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)

install(EXPORT vorn_ioTargets
  NAMESPACE vorn_io::
  DESTINATION ${VORN_IO_CMAKE_DIR}
  COMPONENT development)
# Its own file, so that the package is complete without the simulation.
install(EXPORT vorn_ioSimulationTargets
  NAMESPACE vorn_io::
  DESTINATION ${VORN_IO_CMAKE_DIR}
  COMPONENT simulation)

# A stand-in from an earlier install, where the loader finds it, would still
# stand in for the vendor's driver after this one.
configure_file(cmake/VornIoStaleStandIn.cmake.in "${CMAKE_CURRENT_BINARY_DIR}/VornIoStaleStandIn.cmake" @ONLY)
install(SCRIPT "${CMAKE_CURRENT_BINARY_DIR}/VornIoStaleStandIn.cmake" COMPONENT runtime)

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
  DESTINATION ${VORN_IO_CMAKE_DIR}
  COMPONENT development)

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
# A host links libvorn_io from a prefix the loader does not search only with a
# RUNPATH to it; a system one needs none.
set(VORN_IO_PC_HOST_RPATH "@VORN_IO_HOST_RPATH@")
set(_vorn_io_system_libdirs ${CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES} ${CMAKE_PLATFORM_IMPLICIT_LINK_DIRECTORIES})
set(VORN_IO_PC_SIMDIR "\${libdir}/${VORN_IO_SIM_SUBDIR}")
configure_file(cmake/vorn_io.pc.in "${CMAKE_CURRENT_BINARY_DIR}/vorn_io.pc.stage" @ONLY)
install(CODE "
  set(system_libdirs \"${_vorn_io_system_libdirs}\")
  string(MD5 prefix_hash \"\${CMAKE_INSTALL_PREFIX}\")
  set(pc_file \"${CMAKE_CURRENT_BINARY_DIR}/pkgconfig/\${prefix_hash}/vorn_io.pc\")
  file(READ \"${CMAKE_CURRENT_BINARY_DIR}/vorn_io.pc.stage\" pc)
  string(REPLACE \"@VORN_IO_INSTALL_PREFIX@\" \"\${CMAKE_INSTALL_PREFIX}\" pc \"\${pc}\")
  set(libdir \"${CMAKE_INSTALL_LIBDIR}\")
  if(NOT IS_ABSOLUTE \"\${libdir}\")
    set(libdir \"\${CMAKE_INSTALL_PREFIX}/\${libdir}\")
  endif()
  set(rpath \" -Wl,-rpath,\\\${libdir}\")
  list(FIND system_libdirs \"\${libdir}\" system)
  if(system GREATER -1)
    set(rpath \"\")
  endif()
  string(REPLACE \"@VORN_IO_HOST_RPATH@\" \"\${rpath}\" pc \"\${pc}\")
  file(WRITE \"\${pc_file}\" \"\${pc}\")
  file(INSTALL DESTINATION \"${_vorn_io_pc_destination}\" TYPE FILE FILES \"\${pc_file}\")
" COMPONENT development)
