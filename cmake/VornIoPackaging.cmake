# Debian packages, one per install component, built by CPack's DEB generator
# (./scripts/package configures a build of its own with VORN_IO_PACKAGE=ON):
#   libvorn-io1        runtime      the library
#   libvorn-io-dev     development  headers, link, CMake package, vorn_io.pc
#   vorn-io-tools      tools        the vorn-io tool
#   libvorn-motor-sim  simulation   the simulated libvorn_motor.so.1, in a private folder
#   python3-vorn-io    python       the Python module vorn_io, for Debian's python3
# libvorn_motor.so.1 comes from the motor vendor, from no Debian package, so
# libvorn-io1 declares no dependency for it; the simulation, which the loader
# never finds by itself, cannot stand for it and is not depended on.
option(VORN_IO_PACKAGE "Install the Debian documentation files (changelog, copyright) of each package" OFF)

set(_vorn_io_deb_revision 1)
set(_vorn_io_deb_version "${PROJECT_VERSION}-${_vorn_io_deb_revision}")
set(_vorn_io_maintainer "The vorn_io developers <vorn-io@example.org>")

# component -> package name, section, description (synopsis, then the long text)
set(_vorn_io_runtime_package libvorn-io1)
set(_vorn_io_runtime_section libs)
set(_vorn_io_runtime_description "device drivers for a robot's motorised I/O: lifter, servo gripper
libvorn_io drives the motorised I/O devices of a robot: an up/down lifter
with a ramped move and a torque hold, a gripper on a bus servo and a gripper
without hardware, each built from a YAML description and commanded through
one interface, with a small PID controller and one process-wide logger.

The motors are driven through the vendor's motor-driver library,
libvorn_motor.so.1, which is not part of Debian: install it where the
dynamic loader finds it. Without it, programs run on the simulation of
package libvorn-motor-sim through 'vorn-io sim --'.")
set(_vorn_io_development_package libvorn-io-dev)
set(_vorn_io_development_section libdevel)
set(_vorn_io_development_description "device drivers for a robot's motorised I/O - development files
The headers of libvorn_io and of the motor-driver interface it is compiled
against, the libvorn_io.so link, the CMake package (find_package(vorn_io 1),
target vorn_io::vorn_io) and the pkg-config file vorn_io.pc.

Hosts link libvorn_io alone. On a machine without the vendor's
motor-driver library the link resolves libvorn_io's dependency on it in
the simulation of package libvorn-motor-sim.")
set(_vorn_io_tools_package vorn-io-tools)
set(_vorn_io_tools_section utils)
set(_vorn_io_tools_description "command-line tool for libvorn_io devices
vorn-io moves one lifter or servo gripper from its YAML description,
explains a description key by key before it goes onto a robot, prints the
configuration keys and reports which motor-driver library is loaded.

'vorn-io --sim <command>' runs it on simulated motors, and
'vorn-io sim -- PROGRAM' runs any host program on them.")
set(_vorn_io_simulation_package libvorn-motor-sim)
set(_vorn_io_simulation_section libs)
set(_vorn_io_simulation_description "simulated motors standing in for the vendor's motor-driver library
A kinematic simulation with the soname of the vendor's motor-driver
library, libvorn_motor.so.1, for running libvorn_io programs on a desk.
It drives no hardware.

It is installed outside the dynamic loader's search path and is used only
when asked for: 'vorn-io --sim' and 'vorn-io sim -- PROGRAM' preload it,
and it says on standard error that its motors are simulated.")
set(_vorn_io_python_package python3-vorn-io)
set(_vorn_io_python_section python)
set(_vorn_io_python_description "Python module for libvorn_io devices
The module vorn_io drives libvorn_io's lifter, servo gripper and virtual
gripper from Python: devices built from a YAML file, YAML text or a dict,
a blocking move that returns its outcome and raises on a time-out or a
refusal, the description readers with their key-by-key accounts, the PID
controller, and the library's log lines in Python's logging.

'vorn-io sim -- python3 script.py' runs a script on simulated motors.")

set(_vorn_io_components runtime development tools simulation)
if(VORN_IO_PYTHON_BUILT)
  list(APPEND _vorn_io_components python)
endif()

if(VORN_IO_PACKAGE)
  # Debian's changelog, compressed as Debian asks (gzip -9n: no name, no time).
  set(_vorn_io_changelog "${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.Debian.gz")
  file(MAKE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}/debian")
  execute_process(COMMAND gzip -9n -c "${CMAKE_CURRENT_SOURCE_DIR}/cmake/debian/changelog"
                  OUTPUT_FILE "${_vorn_io_changelog}" RESULT_VARIABLE _vorn_io_gzip)
  if(NOT _vorn_io_gzip EQUAL 0)
    message(FATAL_ERROR "gzip failed on cmake/debian/changelog")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/cmake/debian/changelog")
  foreach(component IN LISTS _vorn_io_components)
    install(FILES "${_vorn_io_changelog}" "${CMAKE_CURRENT_SOURCE_DIR}/cmake/debian/copyright"
            DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/doc/${_vorn_io_${component}_package}"
            COMPONENT ${component})
  endforeach()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vorn-io)
set(CPACK_PACKAGE_VENDOR "The vorn_io developers")
set(CPACK_PACKAGE_CONTACT "${_vorn_io_maintainer}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_RESOURCE_FILE_LICENSE "${CMAKE_CURRENT_SOURCE_DIR}/LICENSE")
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}/packages")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_COMPONENTS_ALL ${_vorn_io_components})

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${_vorn_io_deb_revision})
set(CPACK_DEBIAN_PACKAGE_SOURCE vorn-io)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${_vorn_io_maintainer}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://example.org/vorn_io")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Debian's packages from dpkg-shlibdeps; the project's own libraries, which
# this machine has not installed, are found in the build tree and their
# packages named below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${PROJECT_BINARY_DIR};${PROJECT_BINARY_DIR}/motor")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

foreach(component IN LISTS _vorn_io_components)
  string(TOUPPER ${component} upper)
  set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${_vorn_io_${component}_package})
  set(CPACK_DEBIAN_${upper}_PACKAGE_SECTION ${_vorn_io_${component}_section})
  set(CPACK_DEBIAN_${upper}_DESCRIPTION "${_vorn_io_${component}_description}")
  set(CPACK_COMPONENT_${upper}_DESCRIPTION "${_vorn_io_${component}_description}")
endforeach()
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA "${CMAKE_CURRENT_SOURCE_DIR}/cmake/debian/triggers")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS
    "libvorn-io1 (= ${_vorn_io_deb_version}), libfmt-dev, libspdlog-dev, libyaml-cpp-dev")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_RECOMMENDS "libvorn-motor-sim (= ${_vorn_io_deb_version})")
# --sim, 'sim --', and --help on a machine without a driver run the tool on the simulation.
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS
    "libvorn-io1 (= ${_vorn_io_deb_version}), libvorn-motor-sim (= ${_vorn_io_deb_version})")
# The extension is built for one minor version of python3, the one it was
# configured with (Debian 12's 3.11).
if(VORN_IO_PYTHON_BUILT)
  set(_vorn_io_python "${VORN_IO_PYTHON_MAJOR}.${VORN_IO_PYTHON_MINOR}")
  math(EXPR _vorn_io_python_next "${VORN_IO_PYTHON_MINOR} + 1")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
      "libvorn-io1 (= ${_vorn_io_deb_version}), python3 (>= ${_vorn_io_python}~), python3 (<< ${VORN_IO_PYTHON_MAJOR}.${_vorn_io_python_next})")
  # 'vorn-io sim -- python3 ...' on a desk.
  set(CPACK_DEBIAN_PYTHON_PACKAGE_RECOMMENDS "libvorn-motor-sim (= ${_vorn_io_deb_version}), vorn-io-tools (= ${_vorn_io_deb_version})")
  # Traces as arrays, and pictures of them (python3 -m vorn_io plot).
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SUGGESTS "python3-numpy, python3-matplotlib")
endif()

include(CPack)
