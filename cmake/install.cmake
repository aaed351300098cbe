# SPDX-License-Identifier: Apache-2.0
# What `cmake --install` puts under the prefix: the library with its SONAME
# links, the public header with its parts and its manual page (qvehelper.3), the command
# with its manual page and bash completion, a CMake package
# (QVEHelper::qvehelper) and a pkg-config file.
# The writer tool and the public development keys only with
# QVE_INSTALL_DEV_TOOLS.
include(CMakePackageConfigHelpers)

install(TARGETS qvehelper_shared
  EXPORT QVEHelperTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/QVEHelper.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
# The umbrella header's parts, which it includes by these names.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/qvehelper
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development FILES_MATCHING PATTERN "*.h")
install(TARGETS qvehelper RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)

set(QVE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/QVEHelper)
install(EXPORT QVEHelperTargets
  NAMESPACE QVEHelper::
  DESTINATION ${QVE_CMAKE_DIR}
  COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/QVEHelperConfig.cmake.in
  ${PROJECT_BINARY_DIR}/QVEHelperConfig.cmake
  INSTALL_DESTINATION ${QVE_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/QVEHelperConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/QVEHelperConfig.cmake
              ${PROJECT_BINARY_DIR}/QVEHelperConfigVersion.cmake
  DESTINATION ${QVE_CMAKE_DIR} COMPONENT development)

# The prefix is found from the .pc file's own place, so `--prefix` at
# install time works.
file(RELATIVE_PATH QVE_PC_TO_PREFIX
  ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
configure_file(${PROJECT_SOURCE_DIR}/cmake/qvehelper.pc.in ${PROJECT_BINARY_DIR}/qvehelper.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/qvehelper.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

install(FILES ${PROJECT_SOURCE_DIR}/cli/qvehelper.bash-completion
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
  RENAME qvehelper COMPONENT runtime)

# The Python package, where Debian's python3 finds it (dh_python3 takes it
# from there into python3-qvehelper).
set(QVE_PYTHON_DIR lib/python3/dist-packages CACHE STRING
  "Where the Python package is installed, under the prefix")
install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/qvehelper
  DESTINATION ${QVE_PYTHON_DIR} COMPONENT python
  PATTERN __pycache__ EXCLUDE)

foreach(page qvehelper.1)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/${page}
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)
endforeach()
# The extension interface's page goes with the header.
install(FILES ${PROJECT_SOURCE_DIR}/docs/qvehelper.3
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man3 COMPONENT development)

if(QVE_INSTALL_DEV_TOOLS)
  install(TARGETS qvehelper-dev RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT dev-tools)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/qvehelper-dev.1
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT dev-tools)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/keys/dev/
    DESTINATION ${CMAKE_INSTALL_DATADIR}/qvehelper/keys/dev COMPONENT dev-tools)
endif()

# The nightly run over a fleet (qvehelper-fleet.service and .timer, started
# by none until the administrator enables the timer), its script and its
# list of devices. The unit names the script and the list where this
# configuration puts them; a package passes absolute folders (Debian:
# QVE_SYSTEMD_UNIT_DIR=/lib/systemd/system, and /etc for the list).
if(NOT WIN32)
  set(QVE_SYSTEMD_UNIT_DIR lib/systemd/system CACHE STRING
    "Where the systemd units are installed, under the prefix unless absolute")
  set(QVE_FLEET_SCRIPT ${CMAKE_INSTALL_FULL_LIBEXECDIR}/qvehelper/fleet)
  set(QVE_FLEET_CONF ${CMAKE_INSTALL_FULL_SYSCONFDIR}/qvehelper/fleet.conf)
  configure_file(${PROJECT_SOURCE_DIR}/cli/fleet/qvehelper-fleet.service.in
    ${PROJECT_BINARY_DIR}/qvehelper-fleet.service @ONLY)
  install(PROGRAMS ${PROJECT_SOURCE_DIR}/cli/fleet/fleet
    DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/qvehelper COMPONENT runtime)
  install(FILES ${PROJECT_BINARY_DIR}/qvehelper-fleet.service
                ${PROJECT_SOURCE_DIR}/cli/fleet/qvehelper-fleet.timer
    DESTINATION ${QVE_SYSTEMD_UNIT_DIR} COMPONENT runtime)
  install(FILES ${PROJECT_SOURCE_DIR}/cli/fleet/fleet.conf
    DESTINATION ${CMAKE_INSTALL_SYSCONFDIR}/qvehelper COMPONENT runtime)
endif()
