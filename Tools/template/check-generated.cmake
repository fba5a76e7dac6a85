# Runs the template generator into a scratch folder and compares every file it
# writes with the checked-in copy.
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
execute_process(COMMAND "${GENERATOR}" "${FILES}" "${WORK}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "template-generator failed (${status})")
endif()
foreach(name BlankPagesTemplate.hpp BlankPagesTemplate.cpp)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${WORK}/${name}" "${EXPECTED}/${name}"
                  RESULT_VARIABLE different)
  if(different)
    message(FATAL_ERROR "${name} differs from what the generator makes; regenerate it")
  endif()
endforeach()
