# Helpers shared by every target of the project: warnings and the launcher's code-generation flags.

# Our own code builds with warnings as errors; third-party headers come in as system headers.
function(qmr_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# The launcher's own code (core, platform layers) is plain procedural C++: no exceptions
# or run-time type information, so nothing of the C++ run-time library is pulled in.
function(qmr_launcher_code target)
  qmr_warnings(${target})
  target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti -fno-threadsafe-statics)
  if(WIN32)
    target_compile_options(${target} PRIVATE -Os -ffunction-sections -fno-asynchronous-unwind-tables)
  endif()
endfunction()

# The Windows launcher: GUI subsystem, optimised for size, stripped, with its own minimal
# start-up (shell/entry_windows.cpp) in place of the C run-time's, and importing system DLLs only.
function(qmr_windows_launcher target)
  qmr_launcher_code(${target})
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/shell/entry_windows.cpp)
  target_link_options(${target} PRIVATE -mwindows -nostdlib -s -Wl,-e,QmrEntry -Wl,--gc-sections
                      -Wl,--no-insert-timestamp)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
endfunction()

# Compresses a document for the .deb as Debian's policy asks: gzip -9n (no name, no time, so
# the same bytes on every build).
function(qmr_gzip_for_debian source output)
  add_custom_command(OUTPUT ${output} COMMAND gzip -9n -c ${source} > ${output} DEPENDS ${source}
                     COMMENT "Compressing ${source} for the package")
endfunction()
