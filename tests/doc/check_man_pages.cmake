# Run by CTest: groff -man -ww -z reads every page in PAGES (separated by |) without a warning, and
# kv402(1) shows one usage a line in SYNOPSIS, every command as its own tag in COMMANDS and every
# example as an indented line of its own.
cmake_minimum_required(VERSION 3.25)

if(NOT GROFF)
    message(FATAL_ERROR "groff not found: run tools/install-deps.sh")
endif()

set(failures)
string(REPLACE "|" ";" PAGES "${PAGES}")
foreach(page ${PAGES})
    execute_process(
        COMMAND ${GROFF} -man -ww -z ${page}
        RESULT_VARIABLE result
        OUTPUT_VARIABLE output
        ERROR_VARIABLE warnings)
    if(NOT result EQUAL 0 OR NOT warnings STREQUAL "" OR NOT output STREQUAL "")
        list(APPEND failures "groff -man -ww -z ${page} (${result}):\n${warnings}${output}")
    endif()
endforeach()

# kv402(1) as plain text, wide enough that no line is filled into the next.
execute_process(
    COMMAND ${GROFF} -man -Tascii -P-cbou -rLL=250n ${KV402_PAGE}
    RESULT_VARIABLE result
    OUTPUT_VARIABLE text
    ERROR_VARIABLE warnings)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "groff ${KV402_PAGE} (${result}): ${warnings}")
endif()

function(section name next out)
    string(FIND "${text}" "\n${name}\n" start)
    string(FIND "${text}" "\n${next}\n" end)
    if(start EQUAL -1 OR end EQUAL -1 OR end LESS start)
        set(failures ${failures} "kv402(1) lacks the section ${name} before ${next}" PARENT_SCOPE)
        set(${out} "" PARENT_SCOPE)
        return()
    endif()
    string(LENGTH "\n${name}\n" skip)
    math(EXPR start "${start} + ${skip}")
    math(EXPR length "${end} - ${start}")
    string(SUBSTRING "${text}" ${start} ${length} body)
    set(${out} "${body}" PARENT_SCOPE)
endfunction()

# SYNOPSIS: one usage a line, each command once; a long usage goes on in lines indented under
# its command's arguments.
section(SYNOPSIS DESCRIPTION synopsis)
string(REPLACE "\n" ";" lines "${synopsis}")
foreach(line ${lines})
    if(NOT line MATCHES "^       kv402 " AND NOT line MATCHES "^ +[[(]-"
       AND NOT line STREQUAL "")
        list(APPEND failures "kv402(1) SYNOPSIS: \"${line}\" is no usage of its own")
    endif()
endforeach()
foreach(usage "image" "catalogue build" "catalogue dump" "send" "record" "ports" "--version")
    string(REGEX MATCHALL "\n       kv402 ${usage}( [^\n]*)?\n" found "\n${synopsis}\n")
    list(LENGTH found count)
    if(NOT count EQUAL 1)
        list(APPEND failures "kv402(1) SYNOPSIS shows \"kv402 ${usage}\" on ${count} lines of its own")
    endif()
endforeach()

# COMMANDS: every command begins a tagged paragraph.
section(COMMANDS OPTIONS commands)
foreach(command "image DATAFILE -o OUT.bin" "catalogue build SOURCE.sql CATALOGUE"
        "catalogue dump CATALOGUE" "send" "record" "ports" "ports --json")
    # The tag, then its paragraph on the same line or the next.
    if(NOT "\n${commands}" MATCHES "\n       ${command}( +[A-Z]|\n)")
        list(APPEND failures "kv402(1) COMMANDS has no paragraph tagged \"${command}\"")
    endif()
endforeach()

# EXAMPLES: every command is indented below its text, on a line of its own.
section(EXAMPLES "SEE ALSO" examples)
string(REPLACE "\n" ";" lines "${examples}")
set(commands 0)
foreach(line ${lines})
    if(line MATCHES "kv402 ")
        math(EXPR commands "${commands} + 1")
        if(NOT line MATCHES "^              kv402 ")
            list(APPEND failures "kv402(1) EXAMPLES: \"${line}\" is not an indented command line")
        endif()
    elseif(line MATCHES "^              ")
        list(APPEND failures "kv402(1) EXAMPLES: \"${line}\" is indented as a command")
    endif()
endforeach()
if(commands LESS 5)
    list(APPEND failures "kv402(1) EXAMPLES shows ${commands} commands")
endif()

if(failures)
    list(JOIN failures "\n" message)
    message(FATAL_ERROR "${message}")
endif()
message(STATUS "The manual pages read without a warning; kv402(1) is laid out by its sections")
