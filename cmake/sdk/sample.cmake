# The sample runtime library, built against the SDK in the folder above
# (or the one CMAKE_PREFIX_PATH names):
#   cmake -S sample -B build -DCMAKE_TOOLCHAIN_FILE=toolchain.cmake
#   cmake --build build
cmake_minimum_required(VERSION 3.16)
project(odrel_sample_runtime CXX)
get_filename_component(sdk_dir "${CMAKE_CURRENT_SOURCE_DIR}/.." ABSOLUTE)
find_package(OdrelRuntime 1.0 CONFIG REQUIRED PATHS "${sdk_dir}")
add_library(odrelruntime SHARED sample_runtime.cc)
set_target_properties(odrelruntime PROPERTIES PREFIX "")
target_link_libraries(odrelruntime PRIVATE Odrel::Runtime)
