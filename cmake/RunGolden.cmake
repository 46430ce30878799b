# Runs `kaopt run --example --script SCRIPT` (an example script) and compares standard output
# and the exit status with EXPECTED_DIR's NAME.out and NAME.status (status 0 when there is no
# .status file); NAME.input names an input scene instead of the example, relative to EXPECTED_DIR.
# Runs in the repository's folder, so that files a script names (image lists) are found as a
# user running the example from there finds them.
get_filename_component(name ${SCRIPT} NAME_WE)
set(dir ${EXPECTED_DIR})
set(expected_status 0)
if(EXISTS ${dir}/${name}.status)
  file(STRINGS ${dir}/${name}.status expected_status LIMIT_COUNT 1)
endif()
set(input --example)
if(EXISTS ${dir}/${name}.input)
  file(STRINGS ${dir}/${name}.input input_file LIMIT_COUNT 1)
  set(input ${dir}/${input_file})
endif()
get_filename_component(examples_dir ${SCRIPT} DIRECTORY)
get_filename_component(source_dir ${examples_dir} DIRECTORY)
execute_process(COMMAND ${KAOPT} run --quiet --script ${SCRIPT} ${input}
                WORKING_DIRECTORY ${source_dir}
                OUTPUT_VARIABLE actual ERROR_VARIABLE errors RESULT_VARIABLE status)
file(READ ${dir}/${name}.out expected)
# Object addresses differ from run to run; goldens write them as 0x<addr>.
string(REGEX REPLACE "0x[0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f]" "0x<addr>" actual "${actual}")
if(NOT status STREQUAL expected_status)
  message(FATAL_ERROR "exit status ${status}, expected ${expected_status}\n${errors}")
endif()
if(NOT actual STREQUAL expected)
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${name}.actual "${actual}")
  message(FATAL_ERROR "standard output differs from ${name}.out; actual output:\n${actual}")
endif()
