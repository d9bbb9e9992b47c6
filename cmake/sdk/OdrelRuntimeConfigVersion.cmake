# The contract version of the OdrelRuntime package: 1.0. A request for
# another major version, or a later minor one, is refused, and so is any
# build that is not 32-bit: the launcher loads only 32-bit x86 libraries.
set(PACKAGE_VERSION 1.0)
if(NOT PACKAGE_FIND_VERSION OR
   (PACKAGE_FIND_VERSION_MAJOR EQUAL 1 AND NOT PACKAGE_FIND_VERSION VERSION_GREATER PACKAGE_VERSION))
  set(PACKAGE_VERSION_COMPATIBLE TRUE)
  if(PACKAGE_FIND_VERSION VERSION_EQUAL PACKAGE_VERSION)
    set(PACKAGE_VERSION_EXACT TRUE)
  endif()
endif()
if(CMAKE_SIZEOF_VOID_P AND NOT CMAKE_SIZEOF_VOID_P EQUAL 4)
  math(EXPR _odrel_bits "${CMAKE_SIZEOF_VOID_P} * 8")
  set(PACKAGE_VERSION "${PACKAGE_VERSION} (32-bit only, this build is ${_odrel_bits}-bit)")
  set(PACKAGE_VERSION_UNSUITABLE TRUE)
  unset(_odrel_bits)
endif()
