# Run by CPack after it has made the Windows zip (CPACK_POST_BUILD_SCRIPTS): puts the members in
# the order of their names and drops what the packing machine and user add (owner ids, times
# other than SOURCE_DATE_EPOCH), so that the zip is the same file wherever it is made.
find_program(QMR_STRIP_NONDETERMINISM strip-nondeterminism)
if(NOT QMR_STRIP_NONDETERMINISM)
  message(FATAL_ERROR "strip-nondeterminism is not installed (scripts/deps build installs it)")
endif()
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  execute_process(COMMAND ${QMR_STRIP_NONDETERMINISM} --type zip --timestamp $ENV{SOURCE_DATE_EPOCH} ${package}
                  RESULT_VARIABLE normalized)
  if(NOT normalized EQUAL 0)
    message(FATAL_ERROR "strip-nondeterminism failed on ${package}")
  endif()
endforeach()
