# Runs the reader fuzzer for SECONDS on a copy of the seeds in WORK and fails
# when it finds a crash, a sanitizer report, a leak or a round-trip mismatch.
#   cmake -D FUZZER=... -D SEEDS=... -D DICTIONARY=... -D WORK=... -D SECONDS=...
#         -P run_fuzzer.cmake
foreach(variable FUZZER SEEDS DICTIONARY WORK SECONDS)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "run_fuzzer.cmake: ${variable} is not set")
  endif()
endforeach()
if(NOT EXISTS "${FUZZER}")
  message(FATAL_ERROR "No fuzzer at ${FUZZER}; build it with: cmake --build --preset sanitize --target reader_fuzzer")
endif()

# A fresh copy each run: what one run found does not carry over, and the seeds
# in the repository are only ever read.
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/corpus" "${WORK}/artifacts")
file(GLOB seeds "${SEEDS}/*")
file(COPY ${seeds} DESTINATION "${WORK}/corpus")

execute_process(
  COMMAND "${FUZZER}" -max_total_time=${SECONDS} -timeout=10 -print_final_stats=1
          "-dict=${DICTIONARY}" "-artifact_prefix=${WORK}/artifacts/" "${WORK}/corpus"
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(GLOB artifacts "${WORK}/artifacts/*")
  message(FATAL_ERROR "reader_fuzzer failed (${result}); failing inputs: ${artifacts}")
endif()
