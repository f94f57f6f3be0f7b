# Run by CTest: installs BUILD_DIR into STAGE_DIR and checks the installed files.
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE ${STAGE_DIR})
execute_process(
    COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${STAGE_DIR}
    RESULT_VARIABLE result
    OUTPUT_VARIABLE output
    ERROR_VARIABLE output)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed:\n${output}")
endif()

set(failures)

function(same_content installed source)
    file(SHA256 ${installed} installed_hash)
    file(SHA256 ${source} source_hash)
    if(NOT installed_hash STREQUAL source_hash)
        set(failures ${failures} "${installed} differs from ${source}" PARENT_SCOPE)
    endif()
endfunction()

# The programs, which find every library they need.
foreach(path ${STAGE_DIR}/${BINDIR}/kv402master ${STAGE_DIR}/${BINDIR}/kv402
        ${STAGE_DIR}/${BINDIR}/kv402station ${STAGE_DIR}/${BINDIR}/kv402station-demo)
    cmake_path(GET path FILENAME program)
    if(NOT EXISTS ${path} OR IS_DIRECTORY ${path})
        list(APPEND failures "missing program ${path}")
        continue()
    endif()
    file(GET_RUNTIME_DEPENDENCIES
        EXECUTABLES ${path}
        RESOLVED_DEPENDENCIES_VAR resolved
        UNRESOLVED_DEPENDENCIES_VAR unresolved)
    if(unresolved)
        list(APPEND failures "${program} needs libraries that cannot be found: ${unresolved}")
    endif()
endforeach()
# kv402 is one program: no helper lies beside it or below libexec.
file(GLOB helpers ${STAGE_DIR}/${BINDIR}/kv402-* ${STAGE_DIR}/${LIBEXECDIR}/kv402master)
if(helpers)
    list(APPEND failures "kv402 comes with helper programs: ${helpers}")
endif()

# The installed kv402 runs the commands that need Qt, SQLCipher and libmdb.
execute_process(
    COMMAND ${STAGE_DIR}/${BINDIR}/kv402 catalogue
    RESULT_VARIABLE result
    OUTPUT_VARIABLE output
    ERROR_VARIABLE output)
if(NOT result EQUAL 2 OR NOT output MATCHES "Usage: kv402 catalogue build")
    list(APPEND failures "the installed kv402 cannot run its catalogue command (${result}): ${output}")
endif()

# The desktop entries, the main window's and the station's, their icon and the help files.
set(entries ${STAGE_DIR}/${DATADIR}/applications/kv402master.desktop
    ${STAGE_DIR}/${DATADIR}/applications/kv402station.desktop)
set(icon ${STAGE_DIR}/${DATADIR}/icons/hicolor/64x64/apps/kv402master.png)
set(help ${STAGE_DIR}/${DATADIR}/kv402master/help)
foreach(file ${entries} ${icon} ${help}/kv402.hlp ${help}/kv402ing.hlp)
    if(NOT EXISTS ${file})
        list(APPEND failures "missing ${file}")
    endif()
endforeach()

if(NOT failures)
    same_content(${icon} ${SOURCE_DIR}/resources/terminal.png)
    same_content(${help}/kv402.hlp ${SOURCE_DIR}/demo/help/kv402.hlp)
    same_content(${help}/kv402ing.hlp ${SOURCE_DIR}/demo/help/kv402ing.hlp)

    # Each entry starts its installed program by name and shows the installed icon.
    foreach(desktop ${entries})
        cmake_path(GET desktop STEM program)
        file(STRINGS ${desktop} lines)
        foreach(line "Type=Application" "Exec=${program}" "Icon=kv402master")
            if(NOT line IN_LIST lines)
                list(APPEND failures "the desktop entry ${desktop} lacks the line ${line}")
            endif()
        endforeach()

        if(NOT DESKTOP_FILE_VALIDATE)
            list(APPEND failures "desktop-file-validate not found: run tools/install-deps.sh")
        else()
            execute_process(
                COMMAND ${DESKTOP_FILE_VALIDATE} ${desktop}
                RESULT_VARIABLE result
                OUTPUT_VARIABLE output
                ERROR_VARIABLE output)
            if(NOT result EQUAL 0 OR NOT output STREQUAL "")
                list(APPEND failures "desktop-file-validate ${desktop}: ${output}")
            endif()
        endif()
    endforeach()
endif()

# The demo workspace, built: the demo catalogue with the SQL text it was built from, its data
# files and the help files, for kv402master-demo to set up its own demo folder from.
set(demo ${STAGE_DIR}/${DATADIR}/kv402master/demo)
file(GLOB built_demo RELATIVE ${BUILD_DIR}/demo-workspace
    ${BUILD_DIR}/demo-workspace/*.mdb ${BUILD_DIR}/demo-workspace/*.S28
    ${BUILD_DIR}/demo-workspace/*.hlp)
foreach(file Versioni.mdb KV10ENG.S28 KV50ENG.S28 kv402.hlp kv402ing.hlp)
    if(NOT file IN_LIST built_demo)
        list(APPEND failures "the build's demo workspace lacks ${file}")
    endif()
endforeach()
foreach(file ${built_demo})
    if(NOT EXISTS ${demo}/${file})
        list(APPEND failures "missing ${demo}/${file}")
    else()
        same_content(${demo}/${file} ${BUILD_DIR}/demo-workspace/${file})
    endif()
endforeach()
if(NOT EXISTS ${demo}/catalogue.sql)
    list(APPEND failures "missing ${demo}/catalogue.sql")
else()
    same_content(${demo}/catalogue.sql ${SOURCE_DIR}/demo/catalogue.sql)
endif()

# Started where there is no catalogue (from the menu: the home folder), the installed demo program
# sets up its demo folder in the user's data folder and works there. It runs until it is ended:
# once the last file (in name order) is there, SIGTERM ends it.
set(demo_user ${STAGE_DIR}-demo-user)
set(demo_folder ${demo_user}/data/KV402Master/demo)
file(REMOVE_RECURSE ${demo_user})
file(MAKE_DIRECTORY ${demo_user}/start ${demo_user}/data ${demo_user}/config)
set(ENV{QT_QPA_PLATFORM} offscreen)
set(ENV{XDG_DATA_HOME} ${demo_user}/data)
set(ENV{XDG_CONFIG_HOME} ${demo_user}/config)
execute_process(
    COMMAND sh -c [=[
        "$1" & program=$!
        while kill -0 "$program" 2>/dev/null && ! [ -f "$2/kv402ing.hlp" ]; do sleep 0.1; done
        kill -TERM "$program" 2>/dev/null
        wait "$program"
    ]=] sh ${STAGE_DIR}/${BINDIR}/kv402master-demo ${demo_folder}
    WORKING_DIRECTORY ${demo_user}/start
    RESULT_VARIABLE result
    OUTPUT_VARIABLE output
    ERROR_VARIABLE output)
foreach(file ${built_demo})
    if(NOT EXISTS ${demo_folder}/${file})
        list(APPEND failures "kv402master-demo did not set up ${demo_folder}/${file} (${result}): ${output}")
        break()
    endif()
endforeach()
if(output MATCHES "Cannot|No catalogue")
    list(APPEND failures "kv402master-demo (${result}): ${output}")
endif()
file(GLOB left_in_start ${demo_user}/start/*)
if(left_in_start)
    list(APPEND failures "kv402master-demo wrote into the folder it was started in: ${left_in_start}")
endif()

# The manual pages, compressed; each demo program's is its window's. The files that only the Debian
# package carries stay out of a plain installation.
set(man ${STAGE_DIR}/${MANDIR}/man1)
foreach(page kv402.1.gz kv402master.1.gz kv402master-demo.1.gz kv402station.1.gz
        kv402station-demo.1.gz)
    if(NOT EXISTS ${man}/${page})
        list(APPEND failures "missing ${man}/${page}")
        continue()
    endif()
    file(READ ${man}/${page} magic LIMIT 2 HEX)
    if(NOT magic STREQUAL "1f8b")
        list(APPEND failures "${man}/${page} is not compressed with gzip")
    endif()
endforeach()
foreach(file doc/kv402master/copyright doc/kv402master/changelog.gz)
    if(EXISTS ${STAGE_DIR}/${DATADIR}/${file})
        list(APPEND failures "a plain installation puts the package's ${file}")
    endif()
endforeach()

if(failures)
    list(JOIN failures "\n" text)
    message(FATAL_ERROR "${text}")
endif()
message(STATUS "Installed into ${STAGE_DIR}: programs, desktop entry, icon, help files, demo workspace and manual pages")
