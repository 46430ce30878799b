# Runs `kaopt run --example --script SCRIPT` (an example script) and compares standard output
# and the exit status with EXPECTED_DIR's NAME.out and NAME.status (status 0 when there is no
# .status file); NAME.input names an input scene instead of the example, relative to EXPECTED_DIR.
# Runs in a fresh folder golden-work/NAME, where the files passes write land, with a link
# "examples" to the examples folder, so that files a script names (image lists) are found as a
# user running the example from the repository's folder finds them. NAME.before prepares the
# folder, one step a line: "mkdir FOLDER", or the arguments of a kaopt command.
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
set(work ${CMAKE_CURRENT_BINARY_DIR}/golden-work/${name})
file(REMOVE_RECURSE ${work})
file(MAKE_DIRECTORY ${work})
get_filename_component(examples ${SCRIPT} DIRECTORY)
file(CREATE_LINK ${examples} ${work}/examples SYMBOLIC)
if(EXISTS ${dir}/${name}.before)
  file(STRINGS ${dir}/${name}.before steps)
  foreach(step ${steps})
    separate_arguments(step UNIX_COMMAND "${step}")
    list(GET step 0 verb)
    if(verb STREQUAL "mkdir")
      list(GET step 1 folder)
      file(MAKE_DIRECTORY ${work}/${folder})
    else()
      execute_process(COMMAND ${KAOPT} ${step} WORKING_DIRECTORY ${work} RESULT_VARIABLE before_status
                      OUTPUT_QUIET ERROR_VARIABLE before_errors)
      if(NOT before_status EQUAL 0)
        message(FATAL_ERROR "preparing step '${step}' failed with ${before_status}\n${before_errors}")
      endif()
    endif()
  endforeach()
endif()
execute_process(COMMAND ${KAOPT} run --quiet --script ${SCRIPT} ${input} WORKING_DIRECTORY ${work}
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
