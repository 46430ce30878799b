# Runs one golden file (tests/golden/*.golden) and compares what the run did with what the file
# records. Usage: cmake -DKAOPT=PATH -DGOLDEN=FILE -DWORK=FOLDER -DEXAMPLES=FOLDER -P RunGolden.cmake;
# with the environment variable KA_UPDATE_GOLDENS set, rewrites the file's recorded sections instead.
#
# A golden file is a comment, then sections, each opened by a line "==== NAME". The sections a
# person writes, kept as they are:
#   script        the script, written to script.ini
#   file NAME     any other file the run needs, written to NAME
#   prepare       optional steps before the command, one a line: "mkdir FOLDER" or a kaopt command
#   command       the kaopt command line
# and the sections the run records, in this order:
#   status        the command's exit status
#   output        its standard output
#   errors        its standard error
#   files         every file the command wrote or changed: size and the start of its SHA-256
#                 (which catches changes in data the dumps show only by size)
#   info PATH     `kaopt info PATH` of each scene file among them
# Object addresses are written 0x<addr>. The run happens in the fresh folder WORK, with a link
# "examples" to the examples folder so that a script names image lists as a user running it from
# the repository's folder does.
cmake_minimum_required(VERSION 3.22)
include(${CMAKE_CURRENT_LIST_DIR}/GoldenFiles.cmake)
find_program(DIFF diff REQUIRED)
get_filename_component(name ${GOLDEN} NAME)
set(update "$ENV{KA_UPDATE_GOLDENS}")

# ---- reading: the comment, then sections numbered 0..count-1 (names and bodies) ----
file(READ ${GOLDEN} text)
if(NOT text MATCHES "\n$")
  string(APPEND text "\n")
endif()
set(text "\n${text}")
string(FIND "${text}" "\n==== " at)
if(at EQUAL -1)
  message(FATAL_ERROR "${GOLDEN} has no section: a section opens with a line '==== NAME'")
endif()
string(SUBSTRING "${text}" 1 ${at} comment)
set(count 0)
while(NOT at EQUAL -1)
  string(SUBSTRING "${text}" ${at} -1 text)
  string(SUBSTRING "${text}" 1 -1 text)
  string(FIND "${text}" "\n" eol)
  math(EXPR length "${eol} - 5")
  string(SUBSTRING "${text}" 5 ${length} section_${count}_name)
  string(SUBSTRING "${text}" ${eol} -1 text)
  string(FIND "${text}" "\n==== " at)
  if(at EQUAL -1)
    string(SUBSTRING "${text}" 1 -1 section_${count}_body)
  else()
    string(SUBSTRING "${text}" 1 ${at} section_${count}_body)
  endif()
  math(EXPR count "${count} + 1")
endwhile()

# The sections a person writes, verbatim; what the file recorded, by name.
set(written "${comment}")
set(recorded_names "")
set(script "")
set(files_to_write "")
set(steps "")
set(command "")
math(EXPR last "${count} - 1")
foreach(i RANGE ${last})
  set(section "${section_${i}_name}")
  set(body "${section_${i}_body}")
  if(section MATCHES "^(status|output|errors|files|info .+)$")
    list(APPEND recorded_names "${section}")
    set("recorded_${section}" "${body}")
    continue()
  endif()
  string(APPEND written "==== ${section}\n${body}")
  if(section STREQUAL "script")
    set(script "${body}")
  elseif(section MATCHES "^file (.+)$")
    list(APPEND files_to_write ${i})
  elseif(section STREQUAL "prepare")
    set(steps "${body}")
  elseif(section STREQUAL "command")
    string(STRIP "${body}" command)
  else()
    message(FATAL_ERROR "${GOLDEN}: unknown section '${section}'")
  endif()
endforeach()
if(NOT command MATCHES "^kaopt ")
  message(FATAL_ERROR "${GOLDEN}: the command section must hold one line 'kaopt ARGUMENTS'")
endif()

# ---- running: the folder, its files, the preparing steps, the command ----
# Splits a "kaopt ..." line into the arguments after kaopt.
function(kaopt_arguments line out)
  string(REGEX REPLACE "^kaopt " "" line "${line}")
  separate_arguments(arguments UNIX_COMMAND "${line}")
  set(${out} ${arguments} PARENT_SCOPE)
endfunction()

# Text of a run as a section body: whole lines, addresses masked; a last line without its
# newline is marked the way diff marks one.
function(as_body text out)
  string(REGEX REPLACE "0x[0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f]" "0x<addr>" text "${text}")
  if(NOT text STREQUAL "" AND NOT text MATCHES "\n$")
    string(APPEND text "\n\\ No newline at end\n")
  endif()
  if(text MATCHES "(^|\n)==== ")
    message(FATAL_ERROR "${GOLDEN}: the run printed a line starting with '==== ', which would open a section")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(CREATE_LINK ${EXAMPLES} ${WORK}/examples SYMBOLIC)
file(WRITE ${WORK}/script.ini "${script}")
foreach(i ${files_to_write})
  string(REGEX REPLACE "^file " "" path "${section_${i}_name}")
  file(WRITE ${WORK}/${path} "${section_${i}_body}")
endforeach()
string(REPLACE "\n" ";" steps "${steps}")
foreach(step ${steps})
  if(step MATCHES "^mkdir (.+)$")
    file(MAKE_DIRECTORY ${WORK}/${CMAKE_MATCH_1})
  elseif(step MATCHES "^kaopt ")
    kaopt_arguments("${step}" arguments)
    execute_process(COMMAND ${KAOPT} ${arguments} WORKING_DIRECTORY ${WORK} RESULT_VARIABLE step_status
                    OUTPUT_QUIET ERROR_VARIABLE step_errors)
    if(NOT step_status EQUAL 0)
      message(FATAL_ERROR "${GOLDEN}: preparing step '${step}' failed with ${step_status}\n${step_errors}")
    endif()
  elseif(NOT step STREQUAL "")
    message(FATAL_ERROR "${GOLDEN}: a preparing step is 'mkdir FOLDER' or 'kaopt ARGUMENTS', not '${step}'")
  endif()
endforeach()

list_files(${WORK} before)
kaopt_arguments("${command}" arguments)
execute_process(COMMAND ${KAOPT} ${arguments} WORKING_DIRECTORY ${WORK}
                OUTPUT_VARIABLE output ERROR_VARIABLE errors RESULT_VARIABLE status)
list_files(${WORK} after)

# ---- the recorded sections of this run ----
set(actual_names status output errors files)
set("actual_status" "${status}\n")
as_body("${output}" "actual_output")
as_body("${errors}" "actual_errors")
set("actual_files" "")
foreach(line ${after})
  if(line IN_LIST before)
    continue()
  endif()
  string(APPEND "actual_files" "${line}\n")
  string(REGEX REPLACE "  [0-9]+ bytes  sha256 [0-9a-f]+$" "" path "${line}")
  if(path MATCHES "\\.(kab|gltf|glb)$")
    execute_process(COMMAND ${KAOPT} info ${path} WORKING_DIRECTORY ${WORK}
                    OUTPUT_VARIABLE dump ERROR_VARIABLE dump_errors RESULT_VARIABLE dump_status)
    if(NOT dump_status EQUAL 0)
      string(APPEND dump "${dump_errors}exit status ${dump_status}\n")
    endif()
    list(APPEND actual_names "info ${path}")
    as_body("${dump}" "actual_info ${path}")
  endif()
endforeach()

set(actual_text "${written}")
foreach(section ${actual_names})
  string(APPEND actual_text "==== ${section}\n${actual_${section}}")
endforeach()
file(READ ${GOLDEN} expected_text)
if(actual_text STREQUAL expected_text)
  return()
endif()
if(update)
  file(WRITE ${GOLDEN} "${actual_text}")
  message(STATUS "rewrote ${GOLDEN}")
  return()
endif()

# ---- a mismatch: the sections that differ, as unified diffs, and where the whole actual file is ----
set(report "")
set(sections ${actual_names} ${recorded_names})
list(REMOVE_DUPLICATES sections)
foreach(section ${sections})
  if(NOT "${actual_${section}}" STREQUAL "${recorded_${section}}")
    file(WRITE ${WORK}.expected "${recorded_${section}}")
    file(WRITE ${WORK}.actual "${actual_${section}}")
    execute_process(COMMAND ${DIFF} -u --label "${name} [${section}] (expected)" --label "[${section}] (actual)"
                    ${WORK}.expected ${WORK}.actual OUTPUT_VARIABLE difference)
    string(APPEND report "${difference}")
  endif()
endforeach()
file(REMOVE ${WORK}.expected ${WORK}.actual)
if(report STREQUAL "")
  set(report "the recorded sections match, but the file lays them out otherwise (order, blank lines)\n")
endif()
file(WRITE ${WORK}.golden "${actual_text}")
# (NOTICE prints the diff as it is; an error message would be reflowed.)
message(NOTICE "${name} differs from this run:\n${report}")
message(FATAL_ERROR "The whole actual file is ${WORK}.golden; `make update-goldens` rewrites every golden from the build.")
