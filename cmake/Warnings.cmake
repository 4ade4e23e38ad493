# Warnings for our own targets; third-party headers come in as system includes. CI builds with
# TIDEWELL_WERROR, so that a warning fails the build there (the tree has none).
option(TIDEWELL_WERROR "Treat warnings in our own code as errors (CI)" OFF)

function(tidewell_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-missing-field-initializers)
    if(TIDEWELL_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()
