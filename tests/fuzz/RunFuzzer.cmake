# Runs one libFuzzer target for a fixed number of inputs from a fixed seed:
#   cmake -DFUZZER=... -DRUNS=n -DINPUT_TIMEOUT=s -DSEEDS=dir -DSCRATCH=dir -P RunFuzzer.cmake
# The scratch folder takes the inputs the run finds and starts empty every time, so
# each run does the same work; a crash leaves its input there as crash-<hash>.
file(REMOVE_RECURSE ${SCRATCH})
file(MAKE_DIRECTORY ${SCRATCH}/corpus)
execute_process(
  COMMAND ${FUZZER} -runs=${RUNS} -seed=1 -timeout=${INPUT_TIMEOUT} -print_final_stats=1
          -artifact_prefix=${SCRATCH}/ ${SCRATCH}/corpus ${SEEDS}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${FUZZER} found a fault (exit ${result}); its input is in ${SCRATCH}")
endif()
