# Validates the bundle's Turtle files against the installed LV2 vocabulary.
# lv2_validate's exit code is not reliable; its last line is.
file(GLOB ttl ${BUNDLE}/*.ttl)
execute_process(COMMAND lv2_validate ${ttl} OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
message("${out}${err}")
string(STRIP "${out}" all)
string(REGEX MATCH "[^\n]*$" last "${all}")
if(NOT last MATCHES "^Found 0 errors( |$)")
  message(FATAL_ERROR "lv2_validate did not end with 'Found 0 errors' (last line: '${last}')")
endif()
