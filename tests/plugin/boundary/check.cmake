# Compiles each probe as plug-in code is compiled: allowed.cpp must build, every other probe
# must be refused.
file(GLOB probes ${PROBE_DIR}/*.cpp)
set(failures "")
foreach(probe ${probes})
  get_filename_component(name ${probe} NAME_WE)
  execute_process(
    COMMAND ${CXX} -std=c++17 -fsyntax-only -DHUESLICE_PLUGIN_CODE -I${PLUGIN_INCLUDE} ${probe}
    RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
  if(name STREQUAL "allowed")
    if(NOT status EQUAL 0)
      string(APPEND failures "  ${name}: plug-in code that uses only the interface was refused\n")
    endif()
  elseif(status EQUAL 0)
    string(APPEND failures "  ${name}: plug-in code reached past the interface and compiled\n")
  endif()
endforeach()
if(failures)
  message(FATAL_ERROR "host boundary:\n${failures}")
endif()
list(LENGTH probes count)
message(STATUS "host boundary: ${count} probes behaved")
