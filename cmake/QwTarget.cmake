# Project-wide compile settings, applied per target rather than folder-wide.
function(qw_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
endfunction()

# A GoogleTest executable registered with CTest. Usage:
#   qw_add_test(NAME name SOURCES a.cpp b.cpp LIBS lib... LABELS unit|gui|slow)
function(qw_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  qw_target_defaults(${T_NAME})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} qw_test_support GTest::gtest GTest::gmock GTest::gtest_main)
  # Tests live in their own folder beside the program folder (bin/), which they find as ../bin
  # (or $QW_BIN_DIR), so they never pollute it.
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests-bin)
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  gtest_discover_tests(${T_NAME}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/tests-bin
    PROPERTIES LABELS "${T_LABELS}" ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
    DISCOVERY_TIMEOUT 60)
endfunction()

# Fails the configure step when target links, directly or through any library it uses, one of
# the forbidden libraries: keeps a no-widget layer free of widget code.
function(qw_forbid_links target)
  set(queue ${target})
  set(seen "")
  while(queue)
    list(POP_FRONT queue current)
    if(current IN_LIST seen)
      continue()
    endif()
    list(APPEND seen ${current})
    if(NOT TARGET ${current})
      continue()
    endif()
    get_target_property(_aliased ${current} ALIASED_TARGET)
    if(_aliased)
      list(APPEND queue ${_aliased})
    endif()
    set(_deps "")
    foreach(prop LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
      get_target_property(_more ${current} ${prop})
      if(_more)
        list(APPEND _deps ${_more})
      endif()
    endforeach()
    foreach(dep ${_deps})
      # $<LINK_ONLY:x> and similar wrappers still name a library that ends up linked.
      string(REGEX REPLACE "^\\$<[A-Z_]+:(.*)>$" "\\1" dep "${dep}")
      if(dep IN_LIST ARGN)
        message(FATAL_ERROR "${target} must not link ${dep} (reached through ${current})")
      endif()
      list(APPEND queue ${dep})
    endforeach()
  endwhile()
endfunction()
