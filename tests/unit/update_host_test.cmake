# Which UPDATE_HOST values the build accepts: each case configures a scratch
# project that includes the real check.
set(good "updates.velmora.invalid" "localhost" "a" "cdn-1.example.com" "127.0.0.1")
set(bad "http://updates.example.com" "updates.example.com/x" "updates.example.com:8080"
        "updates example.com" "updates.example.com?x=1" "user@example.com" "-bad.example.com"
        "example..com" "example.com." "")
get_filename_component(root "${CMAKE_CURRENT_LIST_DIR}/../.." ABSOLUTE)
set(scratch "${CMAKE_CURRENT_BINARY_DIR}/update_host_test")
if(NOT CMAKE_CURRENT_BINARY_DIR)
  set(scratch "/tmp/update_host_test")
endif()
file(MAKE_DIRECTORY "${scratch}")
file(WRITE "${scratch}/check.cmake"
  "include(\"${root}/cmake/UpdateHost.cmake\")\nvelmora_check_update_host(\"\${HOST}\")\n")

set(failures 0)
foreach(kind good bad)
  foreach(host IN LISTS ${kind})
    execute_process(COMMAND ${CMAKE_COMMAND} "-DHOST=${host}" -P "${scratch}/check.cmake"
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(kind STREQUAL "good" AND NOT rc EQUAL 0)
      message(SEND_ERROR "'${host}' was refused: ${err}")
      math(EXPR failures "${failures} + 1")
    elseif(kind STREQUAL "bad" AND (rc EQUAL 0 OR NOT err MATCHES "is not a bare host name"))
      message(SEND_ERROR "'${host}' was accepted or refused without the message: ${err}")
      math(EXPR failures "${failures} + 1")
    endif()
  endforeach()
endforeach()
if(failures GREATER 0)
  message(FATAL_ERROR "${failures} host name case(s) failed")
endif()
