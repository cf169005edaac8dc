# Installs the build tree into a scratch prefix and checks that the installed
# vorn runs and finds the installed plug-ins and page with no setup.
#   cmake -DBUILD_DIR=<build tree> -DSOURCE_DIR=<source tree> -DPREFIX=<scratch prefix>
#         -P install_test.cmake
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
# The page of vorn serve is installed and found beside the binary.
foreach(file index.html style.css)
  if(NOT EXISTS "${PREFIX}/share/vorn/web/${file}")
    message(FATAL_ERROR "the page's ${file} was not installed in share/vorn/web")
  endif()
endforeach()
if(EXISTS "${BUILD_DIR}/share/vorn/web/dist/main.js" AND NOT EXISTS "${PREFIX}/share/vorn/web/dist/main.js")
  message(FATAL_ERROR "the page's compiled scripts were not installed in share/vorn/web/dist")
endif()
# The server runs until stopped: the timeout ends it once it has said where
# its page is.
execute_process(COMMAND "${CMAKE_COMMAND}" -E env --unset=VORN_WEB_DIR --unset=VORN_PLUGIN_PATH
                        "${PREFIX}/bin/vorn" serve Bleb
                WORKING_DIRECTORY "${PREFIX}" TIMEOUT 5
                OUTPUT_VARIABLE out ERROR_VARIABLE err)
string(FIND "${out}" "The page's files: ${PREFIX}/share/vorn/web\n" at)
if(at EQUAL -1)
  message(FATAL_ERROR "installed vorn serve did not take the installed page:\n${out}\n${err}")
endif()
# The Python module is installed in the plug-ins' folder and finds them.
if(PYTHON)
  execute_process(COMMAND "${CMAKE_COMMAND}" -E env --unset=VORN_PLUGIN_PATH
                          "PYTHONPATH=${PREFIX}/lib/vorn/python"
                          "${PYTHON}" -W error -c "import vorn; print(vorn.tools())"
                  WORKING_DIRECTORY "${PREFIX}"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 OR NOT out MATCHES "Bleb")
    message(FATAL_ERROR "the installed Python module did not list the tools (${rc}):\n${out}\n${err}")
  endif()
endif()
file(REMOVE_RECURSE "${PREFIX}")
