# Runs `kelvatone-host validate` once and checks that it ran to its summary line.
# Variables:
#   HOST, EMULATOR   the binary and what runs it (empty, or scripts/wine-run)
#   MODULE           the module to validate; ARGS further arguments ("|"-separated)
#   WITH_XVFB        when set, the script that runs it in an X server of its own
#   REQUIRE          "clean": exit 0 and 0 failed; "report": exit 0 or 1 (a module we
#                    did not write: its results go to the log, they do not fail us);
#                    "faulty": exit 1
#   EXPECT           regular expressions ("|"-separated), each of which must match the
#                    output, whatever REQUIRE is
string(REPLACE "|" ";" args "${ARGS}")
string(REPLACE "|" ";" expected_lines "${EXPECT}")
# Leaks are not what validate judges (its test processes end without exit handlers);
# what a module keeps for the life of the process would be reported once it is
# unloaded. Memory errors still end the test process and fail that test.
set(ENV{ASAN_OPTIONS} "detect_leaks=0")
# A data race found in a test process must fail that test, not only print a report.
set(ENV{TSAN_OPTIONS} "halt_on_error=1")
# Under Wine the whole run, not each test, is under scripts/wine-run's time limit.
set(ENV{KELVATONE_WINE_TIMEOUT} 900)
set(prefix ${EMULATOR})
if(WITH_XVFB)
  set(prefix ${WITH_XVFB} ${EMULATOR})
else()
  unset(ENV{DISPLAY})
endif()
string(TIMESTAMP started "%s")
execute_process(COMMAND ${prefix} ${HOST} validate ${MODULE} ${args} RESULT_VARIABLE status
                OUTPUT_VARIABLE out ERROR_VARIABLE err)
string(TIMESTAMP ended "%s")
math(EXPR seconds "${ended} - ${started}")
message(STATUS "exit ${status} after ${seconds} s\nstdout:\n${out}\nstderr:\n${err}")

if(NOT out MATCHES "\nvalidate: [0-9]+ passed, [0-9]+ failed\n$")
  message(FATAL_ERROR "validate did not reach its summary line (exit ${status})")
endif()
if(REQUIRE STREQUAL "clean")
  if(NOT status EQUAL 0 OR NOT out MATCHES " 0 failed\n$")
    message(FATAL_ERROR "validate found failures in our module (exit ${status})")
  endif()
elseif(REQUIRE STREQUAL "report")
  if(NOT status EQUAL 0 AND NOT status EQUAL 1)
    message(FATAL_ERROR "validate itself failed (exit ${status})")
  endif()
elseif(REQUIRE STREQUAL "faulty")
  if(NOT status EQUAL 1)
    message(FATAL_ERROR "exit status ${status}, expected 1")
  endif()
else()
  message(FATAL_ERROR "REQUIRE must be clean, report or faulty")
endif()
foreach(line IN LISTS expected_lines)
  if(NOT out MATCHES "${line}")
    message(FATAL_ERROR "no line matching \"${line}\"")
  endif()
endforeach()
