# Warnings for our own targets. Call chimewise_warnings(target) on every target we write.
function(chimewise_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wno-missing-field-initializers)
endfunction()
