# Installs the build tree into a scratch prefix and checks that the installed
# vorn runs and finds the installed plug-ins with no setup.
#   cmake -DBUILD_DIR=<build tree> -DPREFIX=<scratch prefix> -P install_test.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${err}")
endif()
if(NOT EXISTS "${PREFIX}/bin/vorn")
  message(FATAL_ERROR "vorn was not installed in ${PREFIX}/bin")
endif()

execute_process(COMMAND "${CMAKE_COMMAND}" -E env --unset=VORN_PLUGIN_PATH
                        "${PREFIX}/bin/vorn" tools
                WORKING_DIRECTORY "${PREFIX}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "installed vorn tools failed (${rc}): ${err}")
endif()
# Every tool built into the tree must be found by the installed binary.
file(GLOB plugins "${BUILD_DIR}/lib/vorn/*.so")
foreach(plugin ${plugins})
  get_filename_component(name "${plugin}" NAME_WE)
  if(NOT EXISTS "${PREFIX}/lib/vorn/${name}.so")
    message(FATAL_ERROR "plug-in ${name}.so was not installed in lib/vorn")
  endif()
  string(REGEX MATCH "library +${PREFIX}/lib/vorn/${name}.so" found "${out}")
  if(NOT found)
    message(FATAL_ERROR "installed vorn did not load ${name}.so:\n${out}\n${err}")
  endif()
endforeach()
file(REMOVE_RECURSE "${PREFIX}")
