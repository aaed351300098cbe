# SPDX-License-Identifier: Apache-2.0
# Windows: QVEHelper.dll with its import library QVEHelper.lib and its export
# list QVEHelper.def beside it.
# The DLL exports what QVE_API marks (__declspec(dllexport) while
# QVEHELPER_BUILDING is defined), so there is no version script here. With the
# MinGW toolchain, OpenSSL and the compiler's runtime are linked in statically.
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX)

set_target_properties(qvehelper_shared PROPERTIES
  OUTPUT_NAME QVEHelper
  PREFIX ""
  IMPORT_PREFIX ""
  IMPORT_SUFFIX .lib
  ARCHIVE_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})

if(MINGW)
  # Without it GNU ld exports every symbol, OpenSSL's included, while nothing
  # is marked dllexport.
  target_link_options(qvehelper_shared PRIVATE -Wl,--exclude-all-symbols)
  # The export list, from which a host's own toolchain (Microsoft's lib) makes
  # an import library; the release archive carries it.
  target_link_options(qvehelper_shared PRIVATE -Wl,--output-def,${PROJECT_BINARY_DIR}/QVEHelper.def)
endif()

# Code linked to the static library finds the definitions in the same link,
# not in the DLL, so it must not see the names as dllimport (export.h).
target_compile_definitions(qvehelper_core INTERFACE QVEHELPER_STATIC)
if(MINGW)
  # The core is made of the DLL's objects, whose export directives would make
  # every program linked to it (qvehelper.exe, the tests) export the
  # library's names too: the archive keeps the code and drops them.
  add_custom_command(TARGET qvehelper_core POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --remove-section .drectve $<TARGET_FILE:qvehelper_core>
    VERBATIM)
endif()

# The commands carry an application manifest (UTF-8 code page, long paths),
# which the executables add to their sources.
enable_language(RC)
set(QVE_COMMAND_RESOURCES ${PROJECT_BINARY_DIR}/command.rc)
file(WRITE ${QVE_COMMAND_RESOURCES}
  "1 24 \"${PROJECT_SOURCE_DIR}/platform/windows/command.manifest\"\n")
set_source_files_properties(${QVE_COMMAND_RESOURCES} PROPERTIES
  OBJECT_DEPENDS ${PROJECT_SOURCE_DIR}/platform/windows/command.manifest)

# Cross-built tests need GoogleTest built by the same compiler: Debian ships
# its source (package googletest).
if(QVE_BUILD_TESTS AND CMAKE_CROSSCOMPILING AND NOT TARGET GTest::gtest)
  set(QVE_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source to cross-build")
  if(NOT EXISTS ${QVE_GOOGLETEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "no GoogleTest source at ${QVE_GOOGLETEST_SOURCE}: "
                        "install the Debian package googletest")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  # It names its targets GTest::gtest, GTest::gtest_main and GTest::gmock.
  add_subdirectory(${QVE_GOOGLETEST_SOURCE} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()

# CLI11 and nlohmann/json are header-only and come from the build machine.
# Their package files name /usr/include, which a cross compiler must not
# search (glibc's headers are there), so each is wrapped to name a folder that
# holds only its own headers.
function(qve_host_header_package package target headers)
  find_file(QVE_HOST_${package}_CONFIG ${package}Config.cmake
    PATHS /usr/share/cmake/${package} /usr/lib/cmake/${package}
    NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT QVE_HOST_${package}_CONFIG)
    return()
  endif()
  get_filename_component(config_dir ${QVE_HOST_${package}_CONFIG} DIRECTORY)
  set(include_dir ${PROJECT_BINARY_DIR}/host-headers/${package})
  set(package_dir ${PROJECT_BINARY_DIR}/host-packages/${package})
  file(MAKE_DIRECTORY ${include_dir})
  file(CREATE_LINK /usr/include/${headers} ${include_dir}/${headers} SYMBOLIC)
  file(WRITE ${package_dir}/${package}Config.cmake
    "include(\"${QVE_HOST_${package}_CONFIG}\")\n"
    "set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES \"${include_dir}\")\n")
  file(WRITE ${package_dir}/${package}ConfigVersion.cmake
    "include(\"${config_dir}/${package}ConfigVersion.cmake\")\n")
  set(${package}_DIR ${package_dir} CACHE PATH "" FORCE)
endfunction()

if(CMAKE_CROSSCOMPILING)
  qve_host_header_package(CLI11 CLI11::CLI11 CLI)
  qve_host_header_package(nlohmann_json nlohmann_json::nlohmann_json nlohmann)
endif()

# A version resource (product, file version, copyright, licence) in a
# binary, for Explorer and installers:
#   qve_version_resource(TARGET FILE_NAME DESCRIPTION)
function(qve_version_resource target file_name description)
  set(QVE_FILE_NAME ${file_name})
  set(QVE_FILE_DESCRIPTION ${description})
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "SHARED_LIBRARY")
    set(QVE_FILE_TYPE VFT_DLL)
  else()
    set(QVE_FILE_TYPE VFT_APP)
  endif()
  set(rc ${PROJECT_BINARY_DIR}/version-${target}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/platform/windows/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
qve_version_resource(qvehelper_shared QVEHelper.dll
  "QVEHelper library: decrypts QVES containers and verifies signed logs")
