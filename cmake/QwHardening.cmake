# Debian's hardening flags for release builds (stack protector, fortified functions, format
# checks, read-only relocations, immediate binding, position-independent executables), taken
# from dpkg-buildflags where it is installed, so a package built here matches what Debian's own
# tools would build. Debug builds stay without them (_FORTIFY_SOURCE needs optimisation).
option(QW_HARDENING "Build with Debian's hardening flags (release builds)" ON)
# Fuzzing builds carry sanitizers, which the fortified functions only get in the way of.
if(NOT QW_HARDENING OR QW_BUILD_FUZZ OR CMAKE_BUILD_TYPE STREQUAL "Debug" OR CMAKE_BUILD_TYPE STREQUAL "")
  return()
endif()

find_program(QW_DPKG_BUILDFLAGS dpkg-buildflags)
set(_compile -fstack-protector-strong -Wformat -Werror=format-security -D_FORTIFY_SOURCE=2)
set(_link -Wl,-z,relro -Wl,-z,now)
if(QW_DPKG_BUILDFLAGS)
  set(_compile)
  set(_link)
  foreach(_kind CPPFLAGS CXXFLAGS LDFLAGS)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                            ${QW_DPKG_BUILDFLAGS} --get ${_kind}
                    OUTPUT_VARIABLE _flags OUTPUT_STRIP_TRAILING_WHITESPACE)
    separate_arguments(_flags UNIX_COMMAND "${_flags}")
    foreach(_flag IN LISTS _flags)
      # The build type already chooses optimisation and debug information; the prefix map
      # names the folder dpkg-buildflags ran in, which is not the source folder.
      if(_flag MATCHES "^-O|^-g$|^-ffile-prefix-map|^-fdebug-prefix-map")
        continue()
      endif()
      if(_kind STREQUAL "LDFLAGS")
        list(APPEND _link ${_flag})
      else()
        list(APPEND _compile ${_flag})
      endif()
    endforeach()
  endforeach()
endif()
add_compile_options(${_compile})
add_link_options(${_link})
# Executables as position-independent as the libraries.
include(CheckPIESupported)
check_pie_supported()
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
message(STATUS "Hardening flags: ${_compile} ${_link}")
