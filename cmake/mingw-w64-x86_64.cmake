# SPDX-License-Identifier: Apache-2.0
# Cross-builds the Windows x64 DLL with MinGW-w64 (POSIX threads) on Debian;
# the test executables run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QVE_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QVE_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QVE_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QVE_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QVE_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The compiler's own runtime (libgcc, libstdc++, winpthread) goes into each
# binary, so the DLL needs no other MinGW DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
# DWARF for the debug files the release archive carries beside the stripped
# binaries (MinGW's compiler makes no PDB).
set(CMAKE_C_FLAGS_INIT -g)
set(CMAKE_CXX_FLAGS_INIT -g)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -static)

# Build-time tools and tests run through Wine.
get_filename_component(CMAKE_CROSSCOMPILING_EMULATOR
  ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run ABSOLUTE)

# Libraries and headers come from the MinGW sysroot only; OpenSSL's install
# root counts as part of it.
if(OPENSSL_ROOT_DIR)
  list(APPEND CMAKE_FIND_ROOT_PATH ${OPENSSL_ROOT_DIR})
endif()
