# Installs BUILD_DIR into a scratch prefix, then checks what an outside user sees:
# the programs, the manual page with the project version (rendered by man without
# warnings when man is present), and a consumer project that finds the package,
# reads a matched 1-port load and converts S = 0 into Z = 50 ohm.
cmake_minimum_required(VERSION 3.25)

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status
                  OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${what} failed (${status}):\n${out}\n${err}")
  endif()
  set(run_out "${out}" PARENT_SCOPE)
  set(run_err "${err}" PARENT_SCOPE)
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

run("install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

string(REPLACE "," ";" programs "${PROGRAMS}")
foreach(program ${programs})
  if(NOT EXISTS ${prefix}/bin/${program})
    message(FATAL_ERROR "${program} not installed in ${prefix}/bin")
  endif()
endforeach()
file(GLOB config ${prefix}/lib*/cmake/Brevo/BrevoConfig.cmake)
file(GLOB config_version ${prefix}/lib*/cmake/Brevo/BrevoConfigVersion.cmake)
file(GLOB targets ${prefix}/lib*/cmake/Brevo/BrevoTargets.cmake)
if(NOT config OR NOT config_version OR NOT targets)
  message(FATAL_ERROR "package files missing under ${prefix}/lib*/cmake/Brevo")
endif()
file(READ ${config_version} version_text)
string(FIND "${version_text}" "\"${VERSION}\"" at)
if(at LESS 0)
  message(FATAL_ERROR "BrevoConfigVersion.cmake does not carry ${VERSION}")
endif()

# The installed program answers as the built one does: -c prints the starter file.
execute_process(COMMAND ${prefix}/bin/Brevo -c RESULT_VARIABLE status OUTPUT_VARIABLE starter
                ERROR_QUIET)
if(NOT status EQUAL 2 OR NOT starter MATCHES "baud_rate=25.78125G")
  message(FATAL_ERROR "installed Brevo -c gave status ${status}")
endif()

# The installed Brevo applies the installed presets, found beside it (com=kr4 opens
# share/brevo/com/kr4.cf of the prefix); every shipped preset is there.
foreach(preset kr4 ck-kr ck-cr ck-c2c dj-kr)
  if(NOT EXISTS ${prefix}/share/brevo/com/${preset}.cf)
    message(FATAL_ERROR "preset ${preset} not installed in ${prefix}/share/brevo/com")
  endif()
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=BREVO_COM_PRESETS ${prefix}/bin/Brevo com=kr4
                        Thru=${EXAMPLES_DIR}/lane_thru.s4p
                RESULT_VARIABLE status OUTPUT_VARIABLE report ERROR_VARIABLE log)
string(FIND "${log}" "opening ${prefix}/share/brevo/com/kr4.cf" at)
if(NOT status EQUAL 0 OR at LESS 0 OR NOT report MATCHES "\nCOM ")
  message(FATAL_ERROR "installed Brevo com=kr4 gave status ${status}:\n${report}\n${log}")
endif()
# com=SHEET.xlsx runs the installed brevo-com-sheet beside it, even with none on PATH;
# a missing sheet leaves COM unavailable with the program's reason.
execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=BREVO_COM_SHEET PATH=/usr/bin:/bin ${prefix}/bin/Brevo
                        com=kr4 Thru=${EXAMPLES_DIR}/lane_thru.s4p com=${WORK_DIR}/missing.xlsx
                RESULT_VARIABLE status OUTPUT_VARIABLE report ERROR_VARIABLE log)
string(FIND "${log}" "reading the parameter sheet ${WORK_DIR}/missing.xlsx with ${prefix}/bin/brevo-com-sheet" at)
if(NOT status EQUAL 0 OR at LESS 0 OR NOT report MATCHES "COM unavailable: com=[^\n]*missing.xlsx: cannot open the sheet")
  message(FATAL_ERROR "installed Brevo com=missing.xlsx gave status ${status}:\n${report}\n${log}")
endif()

# The installed brevo-sweep finds the installed Brevo beside it (no BREVO_EXE, no build
# tree, no Brevo on the PATH) and runs the example lane to a summary row of status 0.
find_program(PARALLEL parallel)
if(PARALLEL)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=BREVO_EXE PATH=/usr/bin:/bin
                          ${prefix}/bin/brevo-sweep out=${WORK_DIR}/sweep jobs=1 progress=none
                          ${EXAMPLES_DIR}/nrz.cf
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0 OR NOT EXISTS ${WORK_DIR}/sweep/summary.csv)
    message(FATAL_ERROR "installed brevo-sweep gave status ${status}:\n${out}\n${err}")
  endif()
  file(STRINGS ${WORK_DIR}/sweep/summary.csv rows)
  list(GET rows 1 row)
  if(NOT row MATCHES "^0001,[^,]*nrz.cf,,0,-25.018,")
    message(FATAL_ERROR "installed brevo-sweep row: ${row}")
  endif()
else()
  message(STATUS "GNU parallel not found: the installed brevo-sweep is not run")
endif()

# Manual pages: present, versioned, and clean under man's own warnings.
find_program(MAN man)
foreach(name Brevo brevo-touchstone brevo-report)
  set(page ${prefix}/share/man/man1/${name}.1)
  if(NOT EXISTS ${page})
    message(FATAL_ERROR "manual page not installed at ${page}")
  endif()
  file(STRINGS ${page} title REGEX "^\\.TH ")
  string(FIND "${title}" "Brevo ${VERSION}" at)
  if(at LESS 0)
    message(FATAL_ERROR "manual page title line lacks the version ${VERSION}: ${title}")
  endif()
  if(MAN)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env MANWIDTH=80 LC_ALL=C.UTF-8
                            ${MAN} --warnings -l ${page}
                    RESULT_VARIABLE status OUTPUT_VARIABLE rendered ERROR_VARIABLE warnings)
    if(NOT status EQUAL 0 OR NOT warnings STREQUAL "")
      message(FATAL_ERROR "man -l ${page}: status ${status}\n${warnings}")
    endif()
    foreach(heading "SYNOPSIS" "EXIT STATUS" "SEE ALSO" "brevo-cascade")
      string(FIND "${rendered}" "${heading}" at)
      if(at LESS 0)
        message(FATAL_ERROR "rendered manual page ${name}.1 lacks \"${heading}\"")
      endif()
    endforeach()
  else()
    message(STATUS "man not found: rendering check of ${name}.1 skipped")
  endif()
endforeach()

# An outside project against the installed package.
set(consumer_build ${WORK_DIR}/consumer-build)
run("consumer configure" ${CMAKE_COMMAND} -S ${CONSUMER_SOURCE} -B ${consumer_build}
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
    -DCMAKE_BUILD_TYPE=Release "-DCMAKE_EXE_LINKER_FLAGS=${CONSUMER_LINK_FLAGS}")
run("consumer build" ${CMAKE_COMMAND} --build ${consumer_build})
run("consumer run" ${consumer_build}/consumer ${CONSUMER_SOURCE}/matched_load_1_to_3GHz.s1p)
set(expected "1e+09 50.000000 0.000000\n2e+09 50.000000 0.000000\n3e+09 50.000000 0.000000\n")
if(NOT run_out STREQUAL expected)
  message(FATAL_ERROR "consumer printed:\n${run_out}\nexpected:\n${expected}")
endif()
message(STATUS "installed package consumed: Z = 50 ohm at every point")
