# Renders a file through the built bundle with lilv's lv2apply (which runs
# the plug-in one sample at a time) and checks the result: same length as the
# input, not silent, not clipped to nonsense.
file(MAKE_DIRECTORY ${WORK})
set(ENV{LV2_PATH} ${BUNDLE}/..)
set(in ${WORK}/sweep.wav)
set(out ${WORK}/filtered.wav)
file(REMOVE ${out})
execute_process(COMMAND sox -n -r 48000 -c 1 -b 32 -e floating-point ${in} synth 2 sine 50:12000 gain -6
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "sox could not make the input")
endif()
execute_process(COMMAND lv2apply -i ${in} -o ${out} -c cutoff 9 -c lfo_amt 12 -c lfo_speed 10
                        https://brume-audio.org/plugins/vexo
                RESULT_VARIABLE rc OUTPUT_VARIABLE o ERROR_VARIABLE e)
if(NOT rc EQUAL 0 OR NOT EXISTS ${out})
  message(FATAL_ERROR "lv2apply failed (${rc}): ${o}${e}")
endif()
execute_process(COMMAND soxi -s ${in} OUTPUT_VARIABLE in_len OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND soxi -s ${out} OUTPUT_VARIABLE out_len OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT in_len EQUAL out_len)
  message(FATAL_ERROR "output has ${out_len} samples, input ${in_len}")
endif()
execute_process(COMMAND sox ${out} -n stat ERROR_VARIABLE stat)
string(REGEX MATCH "RMS +amplitude: +([0-9.e-]+)" _ "${stat}")
set(rms ${CMAKE_MATCH_1})
string(REGEX MATCH "Maximum amplitude: +([0-9.e-]+)" _ "${stat}")
set(peak ${CMAKE_MATCH_1})
message("lv2apply output: ${out_len} samples, RMS ${rms}, peak ${peak}")
if(rms STREQUAL "" OR rms LESS 0.01 OR peak GREATER 4.5)
  message(FATAL_ERROR "unexpected output level: RMS ${rms}, peak ${peak}")
endif()
