# CMake helpers for component server libraries built on comrt.

set(COMRT_EXPORTS_MAP ${CMAKE_CURRENT_LIST_DIR}/component-exports.map CACHE INTERNAL "")

# comrt_add_component(<target>): links the runtime into a SHARED component library and lets only
# the four entry points out (nothing from static libraries or template instantiations leaks).
function(comrt_add_component target)
  target_link_libraries(${target} PRIVATE comrt)
  target_link_options(${target} PRIVATE
    "-Wl,--version-script=${COMRT_EXPORTS_MAP}" "-Wl,--exclude-libs,ALL" "-Wl,--no-undefined")
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${COMRT_EXPORTS_MAP})
endfunction()

# comrt_register_component(<target> [STORE <file>]): after every build of <target>, registers it
# with regsvr into the store (default: quirewell.reg in the program folder), so a fresh build tree
# can create its classes at once.
function(comrt_register_component target)
  cmake_parse_arguments(R "" "STORE" "" ${ARGN})
  if(NOT R_STORE)
    set(R_STORE ${QW_BIN_DIR}/quirewell.reg)
  endif()
  add_dependencies(${target} regsvr)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND $<TARGET_FILE:regsvr> $<TARGET_FILE:${target}> ${R_STORE}
    COMMENT "Registering ${target} in ${R_STORE}"
    VERBATIM)
endfunction()
