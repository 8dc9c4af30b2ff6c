# Cross-compiles the program for Windows CE 4.0 on ARM (the PXA2xx is an
# XScale, ARMv5TE). Two routes:
#
# - Without WINCE_SDK_DIR (the default): Debian's gcc-arm-none-eabi compiles
#   ARM-mode code for CE's ARM calling convention, links it freestanding at
#   CE's usual image base with its relocations kept, and tools/elf2pe turns
#   the result into the PE executable the device loads. The few CE types and
#   calls used come from platform/wince/include; the only library on the
#   device is COREDLL.
# - With WINCE_SDK_DIR: a GCC that targets Windows CE itself, CeGCC's
#   arm-mingw32ce (GCC 8 or newer for C++17), with CE's headers and the
#   COREDLL import library.
#
#   WINCE_SDK_DIR     the CE toolchain's installation directory, holding
#                     bin/<WINCE_TARGET>-g++ (cache or environment variable);
#                     set it empty (-DWINCE_SDK_DIR=) to take the Debian route
#                     whatever the environment says
#   WINCE_TARGET      tool prefix, arm-mingw32ce by default
#   WINCE_ARCH_FLAGS  code generation for the processor, -march=armv5te by default

if(NOT DEFINED WINCE_SDK_DIR AND DEFINED ENV{WINCE_SDK_DIR})
  set(WINCE_SDK_DIR "$ENV{WINCE_SDK_DIR}")
endif()
set(WINCE_SDK_DIR "${WINCE_SDK_DIR}" CACHE PATH "Windows CE toolchain installation (holds bin/<WINCE_TARGET>-g++); empty: Debian's gcc-arm-none-eabi")
# Configure-time probes compile but do not link, as nothing here can run them.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
# try_compile projects load this file again and need the same answers.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES WINCE_SDK_DIR)
set(CMAKE_SYSTEM_PROCESSOR arm)

if(NOT WINCE_SDK_DIR)
  # The Debian route. CMake sees a bare-metal target; the backend adds the
  # entry, the COREDLL import thunks and the conversion to PE.
  find_program(WINCE_ELF_CXX arm-none-eabi-g++)
  if(NOT WINCE_ELF_CXX)
    message(FATAL_ERROR
      "No arm-none-eabi-g++: install Debian's gcc-arm-none-eabi "
      "(sudo apt-get install gcc-arm-none-eabi), or set WINCE_SDK_DIR to a CeGCC installation")
  endif()
  set(CMAKE_SYSTEM_NAME Generic)
  set(CMAKE_C_COMPILER arm-none-eabi-gcc)
  set(CMAKE_CXX_COMPILER arm-none-eabi-g++)
  set(CMAKE_ASM_COMPILER arm-none-eabi-gcc)
  # CE on ARM: ARM state, soft float, 2-byte wchar_t, and enums the size of
  # an int (arm-none-eabi defaults to short enums, CE's compilers do not).
  set(WINCE_ELF_CODE_FLAGS "-mcpu=xscale -marm -mfloat-abi=soft -fshort-wchar -fno-short-enums")
  set(CMAKE_C_FLAGS_INIT "${WINCE_ELF_CODE_FLAGS} -ffunction-sections -fdata-sections")
  set(CMAKE_CXX_FLAGS_INIT
    "${CMAKE_C_FLAGS_INIT} -fno-exceptions -fno-rtti -fno-threadsafe-statics -fno-unwind-tables -D_WIN32_WCE=0x400 -DUNDER_CE -DUNICODE -D_UNICODE")
  set(CMAKE_ASM_FLAGS_INIT "-mcpu=xscale -marm")
  # The ELF the linker writes; the .exe next to it is made from it.
  set(CMAKE_EXECUTABLE_SUFFIX_CXX .elf)
  set(WINCE_PE_FROM_ELF ON CACHE INTERNAL "The .exe is converted from a freestanding ARM ELF")
  set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
  return()
endif()

set(WINCE_TARGET arm-mingw32ce CACHE STRING "Tool prefix of the Windows CE cross compiler")
set(WINCE_ARCH_FLAGS "-march=armv5te" CACHE STRING "Code generation flags for the device's processor")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES WINCE_TARGET WINCE_ARCH_FLAGS)

set(_wince_cxx "${WINCE_SDK_DIR}/bin/${WINCE_TARGET}-g++")
if(NOT EXISTS "${_wince_cxx}")
  message(FATAL_ERROR
    "No Windows CE compiler at '${_wince_cxx}'. Set WINCE_SDK_DIR (environment or "
    "-DWINCE_SDK_DIR=...) to the directory the toolchain is installed in, e.g. "
    "WINCE_SDK_DIR=/opt/mingw32ce cmake --workflow --preset wince-arm, or leave it "
    "unset to build with Debian's gcc-arm-none-eabi")
endif()
set(WINCE_PE_FROM_ELF OFF CACHE INTERNAL "The .exe is converted from a freestanding ARM ELF")

# A PE executable for a Windows-like system; CE specifics come from the
# compiler and the flags below.
set(CMAKE_SYSTEM_NAME Windows)
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
