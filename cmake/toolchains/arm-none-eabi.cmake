# Cross build for the XScale core (ARMv5TE) of the PXA27x, bare metal:
# Debian's gcc-arm-none-eabi, with the C++ headers of
# libstdc++-arm-none-eabi-dev (found through libnewlib-dev's include
# directory, which also holds the C headers <cstring> and <cstdint> include).
# No C or C++ library is linked (see platform/baremetal).
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(CMAKE_C_COMPILER arm-none-eabi-gcc)
set(CMAKE_CXX_COMPILER arm-none-eabi-g++)
set(CMAKE_ASM_COMPILER arm-none-eabi-gcc)
set(CMAKE_SIZE arm-none-eabi-size)

# Test programs link without a board's startup code.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(CMAKE_C_FLAGS_INIT "-mcpu=xscale -marm -mfloat-abi=soft -ffunction-sections -fdata-sections")
set(CMAKE_CXX_FLAGS_INIT "${CMAKE_C_FLAGS_INIT} -fno-exceptions -fno-rtti -fno-threadsafe-statics")
set(CMAKE_ASM_FLAGS_INIT "-mcpu=xscale -marm")
set(CMAKE_EXECUTABLE_SUFFIX_CXX .elf)

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
