# Checks that the sizes the README states are the build's own: the Linux launcher's size, and
# where the demo's transcript shows volume 1 starting in it. (The Windows launcher's size is
# stated in docs/benchmarks.md only, as scripts/bench writes it.)
#
#   cmake -DREADME=<README.md> -DLINUX_LAUNCHER=<build/default/qmrsfx> -P ReadmeFigures.cmake
cmake_minimum_required(VERSION 3.25)
file(READ ${README} readme)
file(SIZE ${LINUX_LAUNCHER} launcher_size)

# Fails unless every match of `pattern` in the README states `expected` (commas allowed).
function(expect_stated what pattern expected)
  string(REGEX MATCHALL "${pattern}" found "${readme}")
  if(NOT found)
    message(FATAL_ERROR "the README no longer states ${what}")
  endif()
  foreach(match IN LISTS found)
    string(REGEX REPLACE "${pattern}" "\\1" figure "${match}")
    string(REPLACE "," "" figure "${figure}")
    if(NOT figure EQUAL expected)
      message(FATAL_ERROR "the README states ${what} as ${figure}; the build's is ${expected}: \"${match}\"")
    endif()
  endforeach()
  message(STATUS "${what}: ${expected}")
endfunction()

expect_stated("the Linux launcher's size" "Linux launcher \\(`build/default/qmrsfx`, stripped\\) is ([0-9,]+) bytes"
              ${launcher_size})
expect_stated("where the demo's volume 1 starts" "volume 1 at offset ([0-9]+)" ${launcher_size})
expect_stated("where the demo's volume 1 starts" "\\(in the launcher at ([0-9]+)\\)" ${launcher_size})
