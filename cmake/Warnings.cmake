# Warnings for our own targets; third-party headers come in as system includes.
function(tidewell_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-missing-field-initializers)
endfunction()
