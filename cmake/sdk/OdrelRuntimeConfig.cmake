# The OdrelRuntime package: find_package(OdrelRuntime 1.0 CONFIG REQUIRED)
# defines Odrel::Runtime, an interface target that a runtime library links:
#
#   add_library(odrelruntime SHARED my_runtime.cc)
#   set_target_properties(odrelruntime PROPERTIES PREFIX "")
#   target_link_libraries(odrelruntime PRIVATE Odrel::Runtime)
#
# It carries the include directories (<odrel_runtime.h> and the Boost 1.81
# headers it needs), the Windows version the launcher supports and the
# static link options.
get_filename_component(_odrel_sdk "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
if(NOT TARGET Odrel::Runtime)
  add_library(Odrel::Runtime INTERFACE IMPORTED)
  set_target_properties(Odrel::Runtime PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${_odrel_sdk}/include;${_odrel_sdk}/include/boost-1_81"
    # The launcher runs on Windows 7 and later: the Windows headers then hide
    # later APIs, which would make the library fail to load on Windows 7.
    INTERFACE_COMPILE_DEFINITIONS "_WIN32_WINNT=0x0601;WINVER=0x0601"
    INTERFACE_LINK_OPTIONS "-static;-static-libgcc;-static-libstdc++")
endif()
unset(_odrel_sdk)
