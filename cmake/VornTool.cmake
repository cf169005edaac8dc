# vorn_add_tool(<name> SOURCES <files...> TILE <bitmap> [OUTPUT_DIR <dir>] [NO_INSTALL])
#
# Builds a tool plug-in: a shared library <name>.so with its own copy of the
# framework compiled in, linked against the host runtime, exporting nothing
# (static initialisation registers the tool), carrying its tile bitmap. The
# framework target brings its objects and its determinism flags.
function(vorn_add_tool name)
  cmake_parse_arguments(ARG "NO_INSTALL" "TILE;OUTPUT_DIR" "SOURCES" ${ARGN})
  if(NOT ARG_OUTPUT_DIR)
    set(ARG_OUTPUT_DIR ${VORN_PLUGIN_OUTPUT_DIR})
  endif()
  get_filename_component(tile "${ARG_TILE}" ABSOLUTE)
  set(tileSource ${CMAKE_CURRENT_BINARY_DIR}/${name}_tile.cpp)
  add_custom_command(
    OUTPUT ${tileSource}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${tile} -DOUTPUT=${tileSource}
            -P ${PROJECT_SOURCE_DIR}/cmake/EmbedFile.cmake
    DEPENDS ${tile} ${PROJECT_SOURCE_DIR}/cmake/EmbedFile.cmake
    COMMENT "Embedding tile bitmap of ${name}")

  add_library(${name} MODULE ${ARG_SOURCES} ${tileSource})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE framework dfsystem)
  set_target_properties(${name} PROPERTIES
    PREFIX ""
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LIBRARY_OUTPUT_DIRECTORY ${ARG_OUTPUT_DIR}
    INSTALL_RPATH "$ORIGIN/..")
  target_link_options(${name} PRIVATE -Wl,--version-script=${PROJECT_SOURCE_DIR}/cmake/plugin.map)
  if(NOT CMAKE_CXX_FLAGS MATCHES "sanitize")
    # Every symbol a tool uses must come from the runtime or the C++ library.
    # (Sanitizer runtimes live in the executable, so the check is off there.)
    target_link_options(${name} PRIVATE -Wl,-z,defs)
  endif()
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # Unique symbols would pin the library in memory and defeat unloading.
    target_compile_options(${name} PRIVATE -fno-gnu-unique)
  endif()
  if(NOT ARG_NO_INSTALL)
    install(TARGETS ${name} LIBRARY DESTINATION ${VORN_PLUGIN_INSTALL_DIR})
  endif()
endfunction()
