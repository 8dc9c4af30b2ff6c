# Cross-compiles the program for Windows CE 4.0 on ARM (the PXA2xx is an
# XScale, ARMv5TE) with a GCC that targets Windows CE: CeGCC's arm-mingw32ce,
# GCC 8 or newer for C++17. It brings CE's headers and the COREDLL import
# library; the program needs nothing else on the device.
#
#   WINCE_SDK_DIR     the toolchain's installation directory, holding
#                     bin/<WINCE_TARGET>-g++ (cache or environment variable)
#   WINCE_TARGET      tool prefix, arm-mingw32ce by default
#   WINCE_ARCH_FLAGS  code generation for the processor, -march=armv5te by default

if(NOT WINCE_SDK_DIR AND DEFINED ENV{WINCE_SDK_DIR})
  set(WINCE_SDK_DIR "$ENV{WINCE_SDK_DIR}")
endif()
set(WINCE_SDK_DIR "${WINCE_SDK_DIR}" CACHE PATH "Windows CE toolchain installation (holds bin/<WINCE_TARGET>-g++)")
set(WINCE_TARGET arm-mingw32ce CACHE STRING "Tool prefix of the Windows CE cross compiler")
set(WINCE_ARCH_FLAGS "-march=armv5te" CACHE STRING "Code generation flags for the device's processor")
# Configure-time probes compile but do not link, as nothing here can run them.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
# try_compile projects load this file again and need the same answers.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES WINCE_SDK_DIR WINCE_TARGET WINCE_ARCH_FLAGS)

set(_wince_cxx "${WINCE_SDK_DIR}/bin/${WINCE_TARGET}-g++")
if(NOT WINCE_SDK_DIR OR NOT EXISTS "${_wince_cxx}")
  message(FATAL_ERROR
    "No Windows CE compiler at '${_wince_cxx}'. Set WINCE_SDK_DIR (environment or "
    "-DWINCE_SDK_DIR=...) to the directory the toolchain is installed in, e.g. "
    "WINCE_SDK_DIR=/opt/mingw32ce cmake --workflow --preset wince-arm")
endif()

# A PE executable for a Windows-like system; CE specifics come from the
# compiler and the flags below.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_CXX_COMPILER "${_wince_cxx}")
set(CMAKE_C_COMPILER "${WINCE_SDK_DIR}/bin/${WINCE_TARGET}-gcc")

set(CMAKE_CXX_FLAGS_INIT "${WINCE_ARCH_FLAGS} -D_WIN32_WCE=0x400 -DUNDER_CE -DUNICODE -D_UNICODE")
# Everything but COREDLL is linked in, so the one .exe is all the device needs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libstdc++ -static-libgcc")
# Desktop import libraries (kernel32, user32...) do not exist on CE.
set(CMAKE_CXX_STANDARD_LIBRARIES "-lcoredll" CACHE STRING "Libraries every program links")

set(CMAKE_FIND_ROOT_PATH "${WINCE_SDK_DIR}/${WINCE_TARGET}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
