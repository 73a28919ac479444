# The VST3 module and its bundle:
#   build/<target>/bundles/brume-vexo.vst3/Contents/x86_64-win/brume-vexo.vst3   (Windows)
#   build/<target>/bundles/brume-vexo.vst3/Contents/x86_64-linux/brume-vexo.so   (Linux)
# with Contents/Resources/ beside them, ready to copy into
# %COMMONPROGRAMFILES%\VST3 or ~/.vst3.
set(VEXO_VST3_BUNDLE ${VEXO_BUNDLES_DIR}/brume-vexo.vst3)

# Everything but the module entry, so that a test module can be built from
# the same code.
add_library(vexo_vst3 STATIC vst3/vst3_module.cpp vst3/vst3_component.cpp vst3/vst3_controller.cpp)
target_include_directories(vexo_vst3 PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(vexo_vst3 PUBLIC vexo_state vexo_state_heap vexo_engine vexo_platform)
if(WIN32)
  set(VEXO_VST3_ENTRY vst3/vst3_entry_win32.cpp)
else()
  set(VEXO_VST3_ENTRY vst3/vst3_entry_posix.cpp)
endif()

add_library(vexo_vst3_module MODULE ${VEXO_VST3_ENTRY})
target_link_libraries(vexo_vst3_module PRIVATE vexo_vst3)
if(WIN32)
  set(VEXO_VST3_ARCH x86_64-win)
  target_sources(vexo_vst3_module PRIVATE vst3/exports.def)
  set_target_properties(vexo_vst3_module PROPERTIES SUFFIX .vst3)
else()
  set(VEXO_VST3_ARCH x86_64-linux)
  target_link_options(vexo_vst3_module PRIVATE -Wl,--version-script=${CMAKE_CURRENT_SOURCE_DIR}/vst3/exports.map)
  set_target_properties(vexo_vst3_module PROPERTIES LINK_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/vst3/exports.map)
endif()
set_target_properties(vexo_vst3_module PROPERTIES
  OUTPUT_NAME brume-vexo
  PREFIX ""
  LIBRARY_OUTPUT_DIRECTORY ${VEXO_VST3_BUNDLE}/Contents/${VEXO_VST3_ARCH}
  RUNTIME_OUTPUT_DIRECTORY ${VEXO_VST3_BUNDLE}/Contents/${VEXO_VST3_ARCH})
file(MAKE_DIRECTORY ${VEXO_VST3_BUNDLE}/Contents/Resources)
