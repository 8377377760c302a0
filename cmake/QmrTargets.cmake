# Helpers shared by every target of the project: warnings and the launcher's code-generation flags.

# Our own code builds with warnings as errors; third-party headers come in as system headers.
function(qmr_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# The launcher's own code (core, platform layers) is plain procedural C++: no exceptions
# or run-time type information, so nothing of the C++ run-time library is pulled in.
function(qmr_launcher_code target)
  qmr_warnings(${target})
  target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
endfunction()
