# One CTest test per GoogleTest suite, found when ctest runs. Most unit tests
# take less time than starting a process, so a suite runs in one.
#   zarv_suite_tests(TARGET FILTER PROPERTIES...)
# FILTER is a --gtest_filter that picks the suites; PROPERTIES go to every test.
function(zarv_suite_tests target filter)
  set(script "${CMAKE_CURRENT_BINARY_DIR}/${target}_suites.cmake")
  set(properties "")
  foreach(item IN LISTS ARGN)
    string(APPEND properties " [==[${item}]==]")
  endforeach()
  file(GENERATE OUTPUT "${script}" CONTENT "
execute_process(COMMAND [==[$<TARGET_FILE:${target}>]==] --gtest_list_tests
                        [==[--gtest_filter=${filter}]==]
                OUTPUT_VARIABLE listing RESULT_VARIABLE status ERROR_QUIET TIMEOUT 60)
if(NOT status EQUAL 0)
  add_test(${target}.listing [==[$<TARGET_FILE:${target}>]==] --gtest_list_tests)
  return()
endif()
string(REPLACE \"\\n\" \";\" lines \"\${listing}\")
foreach(line IN LISTS lines)
  if(line MATCHES \"^([A-Za-z0-9_/]+)\\\\.\")
    set(suite \"\${CMAKE_MATCH_1}\")
    add_test(\"\${suite}\" [==[$<TARGET_FILE:${target}>]==] \"--gtest_filter=\${suite}.*\")
    set_tests_properties(\"\${suite}\" PROPERTIES${properties})
  endif()
endforeach()
")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${script}")
endfunction()
