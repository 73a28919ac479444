# The LV2 module and its bundle folder: build/<target>/bundles/brume-vexo.lv2/
# holds the module (brume-vexo.so or brume-vexo.dll) beside manifest.ttl and
# vexo.ttl, ready to copy into ~/.lv2 or %COMMONPROGRAMFILES%\LV2.

# The LV2 headers come from Debian's lv2-dev. The cross build must not see the
# rest of /usr/include, so it gets a folder holding only a link to them.
find_path(VEXO_LV2_HEADERS lv2/core/lv2.h PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(VEXO_LV2_INCLUDE ${CMAKE_BINARY_DIR}/lv2-include)
file(MAKE_DIRECTORY ${VEXO_LV2_INCLUDE})
file(CREATE_LINK ${VEXO_LV2_HEADERS}/lv2 ${VEXO_LV2_INCLUDE}/lv2 SYMBOLIC)

set(VEXO_BUNDLES_DIR ${CMAKE_BINARY_DIR}/bundles)
set(VEXO_LV2_BUNDLE ${VEXO_BUNDLES_DIR}/brume-vexo.lv2)

add_library(vexo_lv2 MODULE lv2/vexo_lv2.cpp lv2/lv2_state.cpp)
target_include_directories(vexo_lv2 PRIVATE ${VEXO_LV2_INCLUDE})
target_link_libraries(vexo_lv2 PRIVATE vexo_state vexo_state_heap vexo_engine vexo_platform)
set_target_properties(vexo_lv2 PROPERTIES
  OUTPUT_NAME brume-vexo
  PREFIX ""
  LIBRARY_OUTPUT_DIRECTORY ${VEXO_LV2_BUNDLE}
  RUNTIME_OUTPUT_DIRECTORY ${VEXO_LV2_BUNDLE})
if(WIN32)
  set(VEXO_LV2_BINARY brume-vexo.dll)
  target_sources(vexo_lv2 PRIVATE lv2/exports.def)
else()
  set(VEXO_LV2_BINARY brume-vexo.so)
  target_link_options(vexo_lv2 PRIVATE -Wl,--version-script=${CMAKE_CURRENT_SOURCE_DIR}/lv2/exports.map)
  set_target_properties(vexo_lv2 PROPERTIES LINK_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/lv2/exports.map)
endif()

configure_file(resources/brume-vexo.lv2/manifest.ttl.in ${VEXO_LV2_BUNDLE}/manifest.ttl @ONLY)
configure_file(resources/brume-vexo.lv2/vexo.ttl ${VEXO_LV2_BUNDLE}/vexo.ttl COPYONLY)
