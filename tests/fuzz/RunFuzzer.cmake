# Runs one libFuzzer target for a bounded time over a fresh working corpus
# and its seeds; fails on a finding (a crash, a violated check, a sanitizer
# report, a leak, a timeout or too much memory), whose input is left in
# WORK/artifacts.
# cmake -DFUZZER=<program> -DSEEDS=<folder> -DWORK=<folder> -DSECONDS=<n> -P RunFuzzer.cmake
file(REMOVE_RECURSE "${WORK}/corpus")
file(MAKE_DIRECTORY "${WORK}/corpus" "${WORK}/artifacts")
execute_process(COMMAND "${FUZZER}" "${WORK}/corpus" "${SEEDS}" -max_total_time=${SECONDS} -rss_limit_mb=2048
                        -timeout=10 -print_final_stats=1 "-artifact_prefix=${WORK}/artifacts/"
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${FUZZER} reported a finding (exit ${result}); the input is in ${WORK}/artifacts")
endif()
