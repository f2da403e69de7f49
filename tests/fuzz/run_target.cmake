# Runs one fuzz target briefly over its seed corpus: RUNS inputs, none longer than MAX_LEN.
# New inputs the fuzzer finds go to WORK/corpus, crash files to WORK/; the seed corpus in the
# source tree is only read. Fails on any crash, sanitizer report, leak or time-out.
foreach(variable FUZZER CORPUS WORK MAX_LEN RUNS)
    if(NOT DEFINED ${variable})
        message(FATAL_ERROR "run_target.cmake needs -D${variable}=...")
    endif()
endforeach()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/corpus)
execute_process(
    COMMAND ${FUZZER} -runs=${RUNS} -max_len=${MAX_LEN} -timeout=10 -seed=1
            -artifact_prefix=${WORK}/ -print_final_stats=1 ${WORK}/corpus ${CORPUS}
    RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${FUZZER} failed (${status}); the input is in ${WORK}/")
endif()
