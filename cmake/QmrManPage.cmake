# Writes qmrpack's manual page from the usage text `qmrpack help` prints, so that the two never
# disagree. Run as: cmake -DQMRPACK=<qmrpack> -DOUT=<qmrpack.1> -P QmrManPage.cmake
#
# The usage text reads: "Usage: qmrpack SYNOPSIS", a one-line summary, then blocks of a command
# line indented by two spaces ("  qmrpack build ...", its continuation lines indented further
# and starting with "["), its description indented by six; an unindented "Heading: text" line
# starts a section of its own. Anything else becomes a plain paragraph.
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${QMRPACK} help OUTPUT_VARIABLE usage RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR usage STREQUAL "")
  message(FATAL_ERROR "${QMRPACK} help failed (${status})")
endif()

# roff escapes: backslashes, hyphens (so options copy as typed) and a leading dot or quote.
function(qmr_roff text out)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  if(text MATCHES "^[.']")
    set(text "\\&${text}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# CMake lists split at semicolons: carry them through the line split as a private character.
string(ASCII 1 semicolon)
string(REPLACE ";" "${semicolon}" usage "${usage}")
string(REPLACE "\n" ";" lines "${usage}")
list(GET lines 0 synopsis)
list(GET lines 1 summary)
list(SUBLIST lines 2 -1 lines)
string(REGEX REPLACE "^Usage: qmrpack +" "" synopsis "${synopsis}")
string(REGEX REPLACE "\\.$" "" summary "${summary}")
# "Makes, lists ..." reads "qmrpack - makes, lists ..." after the name.
string(SUBSTRING "${summary}" 0 1 first)
string(SUBSTRING "${summary}" 1 -1 rest)
string(TOLOWER "${first}" first)
set(summary "${first}${rest}")
qmr_roff("${synopsis}" synopsis)
qmr_roff("${summary}" summary)

set(page ".TH QMRPACK 1 \"\" \"Quillmoor\" \"User Commands\"\n.SH NAME\nqmrpack \\- ${summary}\n")
string(APPEND page ".SH SYNOPSIS\n.B qmrpack\n${synopsis}\n.SH COMMANDS\n")
set(in_command FALSE)
foreach(line IN LISTS lines)
  if(line STREQUAL "")
    continue()
  endif()
  string(STRIP "${line}" text)
  qmr_roff("${text}" text)
  if(line MATCHES "^  qmrpack ")
    string(APPEND page ".TP\n.B ${text}\n")
    set(in_command TRUE)
  elseif(in_command AND line MATCHES "^       +\\[")
    # A command line too long for one: its options go on under it.
    string(APPEND page ".br\n\\ \\ \\ \\ ${text}\n")
  elseif(in_command AND line MATCHES "^    ")
    string(APPEND page "${text}\n")
  elseif(line MATCHES "^([A-Za-z][A-Za-z ]*): (.*)$")
    string(TOUPPER "${CMAKE_MATCH_1}" heading)
    qmr_roff("${CMAKE_MATCH_2}" text)
    string(APPEND page ".SH ${heading}\n${text}\n")
    set(in_command FALSE)
  else()
    string(APPEND page ".PP\n${text}\n")
    set(in_command FALSE)
  endif()
endforeach()
string(REPLACE "${semicolon}" ";" page "${page}")
file(WRITE "${OUT}.new" "${page}")
file(RENAME "${OUT}.new" "${OUT}")
