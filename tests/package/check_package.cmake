# Run by CTest: builds the Debian package of BUILD_DIR into WORK_DIR with cpack and checks its
# control fields, its files, what lintian says of it, and that its programs run.
cmake_minimum_required(VERSION 3.25)

set(failures)
foreach(tool LINTIAN DPKG_DEB DPKG MAN)
    if(NOT ${tool})
        list(APPEND failures "${tool} not found")
    endif()
endforeach()
if(failures)
    list(JOIN failures ", " text)
    message(FATAL_ERROR "${text}: run tools/install-deps.sh")
endif()

# Runs a command; fails the test unless it exits with the status expected. Gives its standard
# output in out, its standard error in err.
function(run expected out err)
    execute_process(COMMAND ${ARGN}
        RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
    if(NOT result STREQUAL expected)
        list(JOIN ARGN " " command)
        message(FATAL_ERROR "${command} exited with ${result}:\n${output}\n${errors}")
    endif()
    set(${out} "${output}" PARENT_SCOPE)
    set(${err} "${errors}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
run(0 output errors ${CPACK} -G DEB --config ${BUILD_DIR}/CPackConfig.cmake -B ${WORK_DIR})
run(0 architecture errors ${DPKG} --print-architecture)
string(STRIP "${architecture}" architecture)
set(deb ${WORK_DIR}/${PACKAGE}_${VERSION}_${architecture}.deb)
if(NOT EXISTS ${deb})
    file(GLOB made ${WORK_DIR}/*.deb)
    message(FATAL_ERROR "cpack made no ${deb}, but: ${made}")
endif()

# The control fields.
set(fields Package Version Architecture Maintainer Section Depends Recommends Description)
run(0 control errors ${DPKG_DEB} --field ${deb} ${fields})
foreach(field ${fields})
    string(REGEX MATCH "(^|\n)${field}: ([^\n]*)" line "${control}")
    set(${field} "${CMAKE_MATCH_2}")
endforeach()
foreach(expectation
        "Package=${PACKAGE}" "Version=${VERSION}" "Architecture=${architecture}"
        "Maintainer=${MAINTAINER}" "Section=electronics")
    string(REPLACE "=" ";" expectation "${expectation}")
    list(GET expectation 0 field)
    list(GET expectation 1 value)
    if(NOT "${${field}}" STREQUAL "${value}")
        list(APPEND failures "${field} is \"${${field}}\", not \"${value}\"")
    endif()
endforeach()
if(Description STREQUAL "" OR NOT control MATCHES "\nDescription: [^\n]+\n [^\n]+")
    list(APPEND failures "the description lacks its summary or its long text")
endif()
# dpkg-shlibdeps names the packages of the libraries the programs load.
string(REGEX REPLACE " \\([^)]*\\)" "" depended "${Depends}")
string(REPLACE ", " ";" depended "${depended}")
foreach(library libqt6core6 libqt6gui6 libqt6widgets6 libqt6serialport6 libsqlcipher0 libmdb3 libpq5
        libsodium23)
    if(NOT library IN_LIST depended)
        list(APPEND failures "Depends lacks ${library}: ${Depends}")
    endif()
endforeach()

# Qt's translations give the Italian interface Italian buttons.
if(NOT Recommends MATCHES "(^|, )qt6-translations-l10n(,|$| )")
    list(APPEND failures "Recommends lacks qt6-translations-l10n: \"${Recommends}\"")
endif()

# The files, below /usr.
run(0 listing errors ${DPKG_DEB} --contents ${deb})
set(expected_files
    usr/bin/kv402master
    usr/bin/kv402master-demo
    usr/bin/kv402
    usr/bin/kv402station
    usr/bin/kv402station-demo
    usr/share/applications/kv402master.desktop
    usr/share/applications/kv402station.desktop
    usr/share/icons/hicolor/64x64/apps/kv402master.png
    usr/share/kv402master/help/kv402.hlp
    usr/share/kv402master/help/kv402ing.hlp
    usr/share/kv402master/demo/Versioni.mdb
    usr/share/kv402master/demo/catalogue.sql
    usr/share/kv402master/demo/KV10ENG.S28
    usr/share/kv402master/demo/KV50ENG.S28
    usr/share/kv402master/demo/kv402.hlp
    usr/share/kv402master/demo/kv402ing.hlp
    usr/share/man/man1/kv402.1.gz
    usr/share/man/man1/kv402master.1.gz
    usr/share/man/man1/kv402master-demo.1.gz
    usr/share/man/man1/kv402station.1.gz
    usr/share/man/man1/kv402station-demo.1.gz
    usr/share/doc/kv402master/copyright
    usr/share/doc/kv402master/changelog.gz)
foreach(file ${expected_files})
    string(REPLACE "." "\\." pattern "${file}")
    if(NOT listing MATCHES " \\./${pattern}( |\n)")
        list(APPEND failures "the package lacks ${file}")
    endif()
endforeach()
if(listing MATCHES " \\./(usr/local|[^u][^/]*)/")
    list(APPEND failures "the package installs outside /usr: ${CMAKE_MATCH_0}")
endif()

# lintian: no errors (warnings are reported, not failed).
execute_process(COMMAND ${LINTIAN} ${deb} RESULT_VARIABLE result OUTPUT_VARIABLE lint ERROR_VARIABLE lint)
message(STATUS "lintian:\n${lint}")
if(lint MATCHES "(^|\n)E: [^\n]*")
    list(APPEND failures "lintian: ${CMAKE_MATCH_0}")
elseif(NOT result EQUAL 0)
    list(APPEND failures "lintian exited with ${result}")
endif()

# The packaged programs, against the system's libraries.
set(root ${WORK_DIR}/root)
run(0 output errors ${DPKG_DEB} --extract ${deb} ${root})
run(0 version errors ${root}/usr/bin/kv402 --version)
if(NOT version STREQUAL "kv402 ${VERSION}\n" OR NOT errors STREQUAL "")
    list(APPEND failures "kv402 --version printed \"${version}\" and \"${errors}\"")
endif()
run(2 output usage ${root}/usr/bin/kv402)
if(NOT usage MATCHES "^Usage: kv402 ")
    list(APPEND failures "the packaged kv402 printed no usage: ${usage}")
endif()
# The commands that load Qt, SQLCipher and libmdb run against the system's libraries.
run(2 output catalogue_usage ${root}/usr/bin/kv402 catalogue)
if(NOT catalogue_usage MATCHES "^Usage: kv402 catalogue ")
    list(APPEND failures "the packaged kv402 cannot run its catalogue command: ${catalogue_usage}")
endif()

# The manual pages read without complaint, and kv402(1) shows every usage line the tool prints.
foreach(page kv402 kv402master kv402master-demo kv402station kv402station-demo)
    execute_process(
        COMMAND ${CMAKE_COMMAND} -E env MANWIDTH=200 LC_ALL=C.UTF-8
            ${MAN} --warnings -E ascii -l ${root}/usr/share/man/man1/${page}.1.gz
        RESULT_VARIABLE result OUTPUT_VARIABLE text ERROR_VARIABLE warnings)
    if(NOT result EQUAL 0 OR NOT warnings STREQUAL "" OR NOT text MATCHES "\nNAME\n")
        list(APPEND failures "man ${page} (${result}): ${warnings}")
    endif()
    set(${page}_text "${text}")
endforeach()
string(REGEX REPLACE "Usage: |\n *" ";" usage_lines "${usage}")
list(REMOVE_ITEM usage_lines "")
foreach(line ${usage_lines})
    string(FIND "${kv402_text}" "${line}" at)
    if(at EQUAL -1)
        list(APPEND failures "kv402(1) does not show \"${line}\"")
    endif()
endforeach()

if(failures)
    list(JOIN failures "\n" text)
    message(FATAL_ERROR "${text}")
endif()
message(STATUS "${deb}: fields, files, lintian and the packaged kv402 as expected")
