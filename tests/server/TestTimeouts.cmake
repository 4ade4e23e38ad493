# Read by CTest after the discovered tests of tidewell_webfolder_tests: each gets a time limit
# that fits it (the slowest take seconds), so a test that hangs fails instead of waiting for
# CTest's default of 25 minutes.
if(DEFINED tidewell_webfolder_tests_TESTS)
    set_tests_properties(${tidewell_webfolder_tests_TESTS} PROPERTIES TIMEOUT 120)
endif()
