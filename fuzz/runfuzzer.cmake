# Runs a libFuzzer target for SECONDS on a fresh corpus folder under WORK, reading SEEDS too.
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/corpus" "${WORK}/artifacts")
# new inputs go to the first folder only, so SEEDS is just read
execute_process(
    COMMAND "${FUZZER}" -max_total_time=${SECONDS} -max_len=320 -print_final_stats=1
        -artifact_prefix=${WORK}/artifacts/ "${WORK}/corpus" "${SEEDS}"
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "fuzz_replies failed (${result}); the input is in ${WORK}/artifacts")
endif()
