# Cross toolchain for runtime libraries of the Odrel launcher: 32-bit Windows
# DLLs built with mingw-w64 GCC 12 (posix threads), the launcher's compiler.
#
#   cmake -S SOURCE -B BUILD -DCMAKE_TOOLCHAIN_FILE=SDK/toolchain.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
# Packages are searched only under these roots; the SDK's own folder is one,
# so that CMAKE_PREFIX_PATH=SDK finds the OdrelRuntime package.
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32 "${CMAKE_CURRENT_LIST_DIR}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# DWARF and frame pointers: the launcher's crash dumps of the runtime then
# read as functions and source lines.
set(CMAKE_C_FLAGS_INIT "-g -fno-omit-frame-pointer")
set(CMAKE_CXX_FLAGS_INIT "-g -fno-omit-frame-pointer")
# The C++ runtime, libgcc and winpthread linked in: users' machines have no
# libstdc++-6.dll, libgcc_s_dw2-1.dll or libwinpthread-1.dll, and a runtime
# library that imports them fails to load.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
