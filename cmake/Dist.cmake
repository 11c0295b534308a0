# The distributable installer: dist/ZorvekSetup.exe is the plain ZorvekSetup.exe with the programs
# and data/ appended as its payload (tools/mkpayload). Windows builds only.
#
# What the installer carries, in install order. A program whose target does not exist in this
# build is left out; add new programs here.
set(ZORVEK_DIST_PROGRAMS ZorvekService ZorvekAntivirus sigutil ZorvekSetup)
set(ZORVEK_DIST_FOLDERS ${CMAKE_BINARY_DIR}/bin/data)

if(NOT WIN32 OR NOT TARGET ZorvekSetup OR ZORVEK_FUZZ)
  return()
endif()

set(ZORVEK_DIST_DIR ${CMAKE_BINARY_DIR}/dist)
set(_dist_items)
set(_dist_targets)
foreach(program IN LISTS ZORVEK_DIST_PROGRAMS)
  if(TARGET ${program})
    list(APPEND _dist_items $<TARGET_FILE:${program}>)
    list(APPEND _dist_targets ${program})
  endif()
endforeach()
file(GLOB_RECURSE _dist_data CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/data/*)

# mkpayload is a Windows program here: it runs under Wine like the tests.
set(_mkpayload $<TARGET_FILE:mkpayload>)
if(CMAKE_CROSSCOMPILING)
  set(_mkpayload ${CMAKE_BINARY_DIR}/wine-run ${_mkpayload})
endif()
add_custom_command(
  OUTPUT ${ZORVEK_DIST_DIR}/ZorvekSetup.exe
  COMMAND ${CMAKE_COMMAND} -E make_directory ${ZORVEK_DIST_DIR}
  COMMAND ${_mkpayload} ${ZORVEK_DIST_DIR}/ZorvekSetup.exe $<TARGET_FILE:ZorvekSetup>
          ${_dist_items} ${ZORVEK_DIST_FOLDERS}
  DEPENDS mkpayload ${_dist_targets} ${_dist_data}
  COMMENT "Building the distributable installer dist/ZorvekSetup.exe"
  VERBATIM)
add_custom_target(dist ALL DEPENDS ${ZORVEK_DIST_DIR}/ZorvekSetup.exe)
