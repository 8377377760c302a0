# Checks that what a distributor ships is reproducible: the Windows launcher built (its target
# alone) in two fresh build trees at different paths is the same file byte for byte, and the
# same as the mingw preset's build and the stub that the zip and the .deb carry; two zips made
# in a row are the same file; and qmrpack, run twice on the same inputs, writes the same set.
#
#   cmake -DSOURCE_DIR=<checkout> -DWORK_DIR=<scratch> -DQMRPACK=<qmrpack>
#         -DMINGW_DIR=<mingw preset's tree> -DDEB=<the release .deb> -P ReproducibleCheck.cmake
cmake_minimum_required(VERSION 3.25)
foreach(variable SOURCE_DIR WORK_DIR QMRPACK MINGW_DIR DEB)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "ReproducibleCheck: ${variable} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE "${WORK_DIR}")

# Builds the launcher in a fresh tree and leaves its path in `out`.
function(build_launcher tree out)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${tree} -G "Unix Makefiles"
            --toolchain ${SOURCE_DIR}/cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=MinSizeRel
    OUTPUT_QUIET RESULT_VARIABLE configured)
  if(NOT configured EQUAL 0)
    message(FATAL_ERROR "configuring ${tree} failed")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${tree} --target qmrsfx --parallel 2
                  OUTPUT_QUIET RESULT_VARIABLE built)
  if(NOT built EQUAL 0)
    message(FATAL_ERROR "building qmrsfx.exe in ${tree} failed")
  endif()
  set(${out} ${tree}/qmrsfx.exe PARENT_SCOPE)
endfunction()

# Fails unless both files have the same bytes.
function(expect_same_file a b)
  file(SHA256 ${a} hash_a)
  file(SHA256 ${b} hash_b)
  if(NOT hash_a STREQUAL hash_b)
    message(FATAL_ERROR "not reproducible: ${a} (${hash_a}) differs from ${b} (${hash_b})")
  endif()
  message(STATUS "${hash_a}  ${a}")
  message(STATUS "${hash_b}  ${b}")
endfunction()

# Two trees whose paths differ in length, so that no path the build sees leaks into the file.
build_launcher(${WORK_DIR}/a first)
build_launcher(${WORK_DIR}/another/build/tree second)
expect_same_file(${first} ${second})
expect_same_file(${first} ${MINGW_DIR}/qmrsfx.exe)

# The zip, made twice in a row from the mingw preset's tree, and the stub it carries.
foreach(zip one two)
  execute_process(COMMAND cpack --config ${MINGW_DIR}/CPackConfig.cmake -B ${WORK_DIR}/zip-${zip}
                  OUTPUT_QUIET RESULT_VARIABLE zipped)
  file(GLOB zip_${zip} ${WORK_DIR}/zip-${zip}/qmrpack-*-windows.zip)
  if(NOT zipped EQUAL 0 OR NOT zip_${zip})
    message(FATAL_ERROR "cpack of ${MINGW_DIR} into zip-${zip} failed")
  endif()
endforeach()
expect_same_file(${zip_one} ${zip_two})
file(ARCHIVE_EXTRACT INPUT ${zip_one} DESTINATION ${WORK_DIR}/zip-files)
file(GLOB zip_stub ${WORK_DIR}/zip-files/*/qmrsfx.exe)
expect_same_file(${first} ${zip_stub})

# The Windows stub the .deb installs.
execute_process(COMMAND dpkg-deb -x ${DEB} ${WORK_DIR}/deb-files RESULT_VARIABLE unpacked)
if(NOT unpacked EQUAL 0)
  message(FATAL_ERROR "dpkg-deb cannot unpack ${DEB}")
endif()
expect_same_file(${first} ${WORK_DIR}/deb-files/usr/share/qmrpack/qmrsfx.exe)

# The same set twice from the same inputs, into two directories.
foreach(set one two)
  execute_process(
    COMMAND ${QMRPACK} build --stub ${first} --out ${WORK_DIR}/set-${set} --setup ${second}
            --setup-info ${SOURCE_DIR}/samples/set/qmrsetup.inf --convert-inf --disk-size 24064
            ${SOURCE_DIR}/samples/set/readme.txt ${SOURCE_DIR}/samples/set/folders.dat
            ${SOURCE_DIR}/samples/set/ソフト説明.txt
    OUTPUT_QUIET RESULT_VARIABLE packed)
  if(NOT packed EQUAL 0)
    message(FATAL_ERROR "qmrpack build into set-${set} failed")
  endif()
endforeach()
file(GLOB files_one RELATIVE ${WORK_DIR}/set-one ${WORK_DIR}/set-one/*)
file(GLOB files_two RELATIVE ${WORK_DIR}/set-two ${WORK_DIR}/set-two/*)
if(NOT files_one STREQUAL files_two OR NOT "Disk2" IN_LIST files_one)
  message(FATAL_ERROR "the two sets hold different files (${files_one}; ${files_two}), or one volume")
endif()
foreach(name IN LISTS files_one)
  expect_same_file(${WORK_DIR}/set-one/${name} ${WORK_DIR}/set-two/${name})
endforeach()

file(REMOVE_RECURSE "${WORK_DIR}")
