# Fails when a source file reaches up past its layer. The layers, each
# including only those below it:
#
#   include/  <-  src/platform/  <-  src/module/  <-  src/records/  <-  src/driver/
#
# and only src/platform/ may test _WIN32: everything that differs between
# operating systems lives there. Where a lower layer calls up (a record
# loader, the info-file reader), the driver hands the function in.
# Process-wide objects are defined in include/state.h alone (no `extern`
# below include/), a file includes state.h only to use them, and
# src/platform/ knows nothing of the run's state and options.
#
#   cmake -DSOURCE_DIR=<tree> -P tests/layers/check_layers.cmake
cmake_minimum_required(VERSION 3.25)

# Folders a file in each layer must not include from.
set(above_include "platform/|module/|records/|driver/")
set(above_platform "module/|records/|driver/")
set(above_module "records/|driver/")
set(above_records "driver/")

set(problems "")

# The names state.h defines: a file that includes it must use one of them,
# and one that needs only a constant includes the header that holds it.
file(STRINGS ${SOURCE_DIR}/include/state.h state_lines REGEX "^inline ")
set(state_names "")
foreach(line ${state_lines})
  if(line MATCHES "^inline [^(=;]*[ *&]([a-z_][a-z0-9_]*)[[(;= ]")
    list(APPEND state_names ${CMAKE_MATCH_1})
  endif()
endforeach()
list(JOIN state_names "|" state_alternatives)

# Notes the file when, outside the folder it may be in, a line of it
# matches regex.
function(forbid_outside allowed regex what)
  if(NOT file MATCHES "^${allowed}")
    file(STRINGS ${SOURCE_DIR}/${file} found REGEX "${regex}")
    if(found)
      set(problems "${problems}  ${file} ${what}\n" PARENT_SCOPE)
    endif()
  endif()
endfunction()
file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/include/* ${SOURCE_DIR}/src/*)
foreach(file ${files})
  if(NOT file MATCHES "\\.(h|cpp)$")
    continue()
  endif()
  if(file MATCHES "^include/")
    set(above ${above_include})
  elseif(file MATCHES "^src/(platform|module|records)/")
    set(above ${above_${CMAKE_MATCH_1}})
  else()
    set(above "")
  endif()

  file(STRINGS ${SOURCE_DIR}/${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line ${includes})
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*" "\\1" header "${line}")
    if((above AND header MATCHES "^(${above})") OR
       (file MATCHES "^src/platform/" AND header MATCHES "^(state|options)\\.h$"))
      string(APPEND problems "  ${file} includes ${header}\n")
    endif()
  endforeach()

  if(NOT file MATCHES "^include/" AND includes MATCHES "\"state\\.h\"")
    file(READ ${SOURCE_DIR}/${file} text)
    if(NOT text MATCHES "[^A-Za-z0-9_](${state_alternatives})[^A-Za-z0-9_]")
      string(APPEND problems "  ${file} includes state.h but uses none of its objects\n")
    endif()
  endif()

  forbid_outside(include/ "^[ \t]*extern[ \t]+[^\"]"
                 "declares a process-wide object outside include/")
  forbid_outside(src/platform/ "_WIN32" "tests _WIN32 outside src/platform/")
endforeach()

if(problems)
  message(FATAL_ERROR "Includes that run against the layers:\n${problems}")
endif()
message(STATUS "layers: every include points down; process-wide objects live in include/")
