# Included by the host build's tests/CMakeLists.txt when
# CIRROVANE_SANITIZE_BUILD_DIR names a 'sanitize' build: runs that build's
# reader fuzzer for a bounded time as one test of this build. The fuzzer works
# on a fresh copy of the seed corpus in this build's folder, so the corpus in
# the repository never grows.
set(CIRROVANE_FUZZ_SECONDS 30 CACHE STRING "How long the ctest run of the reader fuzzer lasts")

add_test(NAME sanitized.reader_fuzzer
  COMMAND ${CMAKE_COMMAND}
    -D "FUZZER=${CIRROVANE_SANITIZE_BUILD_DIR}/tests/fuzz/reader_fuzzer"
    -D "SEEDS=${CMAKE_CURRENT_LIST_DIR}/corpus"
    -D "DICTIONARY=${CMAKE_CURRENT_LIST_DIR}/reader.dict"
    -D "WORK=${CMAKE_CURRENT_BINARY_DIR}/reader_fuzzer"
    -D "SECONDS=${CIRROVANE_FUZZ_SECONDS}"
    -P "${CMAKE_CURRENT_LIST_DIR}/run_fuzzer.cmake")
# Room for start-up and a slow machine on top of the fuzzing time itself.
math(EXPR _cirrovane_fuzz_timeout "${CIRROVANE_FUZZ_SECONDS} + 90")
set_tests_properties(sanitized.reader_fuzzer PROPERTIES TIMEOUT ${_cirrovane_fuzz_timeout})
unset(_cirrovane_fuzz_timeout)
