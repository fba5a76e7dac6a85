# Checks of the schema generator, run by CTest:
#   MODE=reproducesCheckedInSources
#                  the generator's output from SCHEMA equals the files in EXPECTED,
#                  byte for byte, with no file missing or extra;
#   MODE=refusesFaultyDescriptions
#                  faulty descriptions fail with a message naming the line, and
#                  write nothing.

function(run_generator schema output result_var error_var)
  execute_process(COMMAND "${GENERATOR}" "${schema}" "${output}"
                  RESULT_VARIABLE result ERROR_VARIABLE error)
  set(${result_var} "${result}" PARENT_SCOPE)
  set(${error_var} "${error}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")

if(MODE STREQUAL "reproducesCheckedInSources")
  run_generator("${SCHEMA}" "${WORK}/out" result error)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "generator failed (${result}): ${error}")
  endif()
  file(GLOB generated RELATIVE "${WORK}/out" "${WORK}/out/*")
  file(GLOB expected RELATIVE "${EXPECTED}" "${EXPECTED}/*")
  list(SORT generated)
  list(SORT expected)
  if(NOT generated STREQUAL expected)
    message(FATAL_ERROR "file lists differ:\n generated: ${generated}\n checked in: ${expected}")
  endif()
  foreach(name ${generated})
    execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${WORK}/out/${name}" "${EXPECTED}/${name}"
                    RESULT_VARIABLE differs)
    if(NOT differs EQUAL 0)
      message(FATAL_ERROR "${name} is not what the generator makes from the description")
    endif()
  endforeach()
elseif(MODE STREQUAL "refusesFaultyDescriptions")
  # Each case: a description, then the text its error message must contain.
  set(cases
    "file A TSP\nmessage M\n  x 1 float\n  y 1 float\n" "bad.txt:4: field number 1 used twice"
    "file A TSP\nmessage M\n  x 1 TSP.Missing\n" "bad.txt:3: unknown message TSP_Missing"
    "file A TSP\nmessage M\n  x 1 flaot\n" "bad.txt:3: unknown kind flaot"
    "file A TSP\nmessage M\n  x 0 float\n" "bad.txt:3: field number must be"
    "file A TSP\nmessage M\n  unknown_fields 1 float\n" "bad.txt:3: field name unknown_fields is reserved"
    "file A TSP\nmessage M.N\n" "bad.txt:2: nested message before its outer message TSP_M"
    "file A TSP\nmessage M\nmessage M\n" "bad.txt:3: message TSP_M declared twice"
    "message M\n" "bad.txt:1: message before the first file statement")
  list(LENGTH cases count)
  math(EXPR last "${count} - 1")
  foreach(index RANGE 0 ${last} 2)
    math(EXPR expect_index "${index} + 1")
    list(GET cases ${index} description)
    list(GET cases ${expect_index} expected_error)
    string(REPLACE "\\n" "\n" description "${description}")
    file(WRITE "${WORK}/bad.txt" "${description}")
    run_generator("${WORK}/bad.txt" "${WORK}/out-${index}" result error)
    if(result EQUAL 0)
      message(FATAL_ERROR "accepted a faulty description:\n${description}")
    endif()
    string(FIND "${error}" "${expected_error}" found)
    if(found EQUAL -1)
      message(FATAL_ERROR "expected \"${expected_error}\", got \"${error}\"")
    endif()
    if(EXISTS "${WORK}/out-${index}")
      message(FATAL_ERROR "a faulty description still wrote output")
    endif()
  endforeach()
else()
  message(FATAL_ERROR "unknown MODE ${MODE}")
endif()
