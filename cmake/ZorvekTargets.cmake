# Every program and test binary lands in bin/, so programs find data/ beside themselves.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

# A library of one layer: every .cpp of the folder, plus platform/<win32|posix>/*.cpp when present.
function(zorvek_layer_library name dir)
  file(GLOB _src CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(WIN32)
    file(GLOB _plat CONFIGURE_DEPENDS ${dir}/platform/win32/*.cpp)
  else()
    file(GLOB _plat CONFIGURE_DEPENDS ${dir}/platform/posix/*.cpp)
  endif()
  add_library(${name} STATIC ${_src} ${_plat})
  target_link_libraries(${name} PRIVATE zorvek_warnings)
endfunction()

# A console program: sources plus the platform entry point that hands zorvekMain wide arguments.
function(zorvek_program name)
  cmake_parse_arguments(P "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${P_SOURCES})
  target_link_libraries(${name} PRIVATE zorvek_entry ${P_LIBS} zorvek_warnings)
  if(WIN32)
    target_link_options(${name} PRIVATE -municode)
  endif()
endfunction()

if(CMAKE_CROSSCOMPILING)
  # Runs a Windows program of this tree under Wine: ctest's emulator, and the dist step's mkpayload.
  set(ZORVEK_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  configure_file(${CMAKE_SOURCE_DIR}/scripts/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE)
endif()
