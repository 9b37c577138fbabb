# Runs tarvel on a file whose extension is not the tool's type name, such as
# firmware.srec or firmware.axf, for tarvel_set_crc and tarvel_check_crc:
#
#   cmake -DTARVEL=<tool> -DFILE=<absolute path> -DTYPE=<type> -P TarvelRun.cmake -- <tool arguments>
#
# The tool reads <-m path>.<type>, so FILE is hard-linked (or copied where
# links fail) as <stem>.<type> into a scratch directory of its own beside
# it, .tarvel-<file name>.d, and the tool runs there with its output and
# failure passed on. A check (-k) writes nothing. Any other run, once the
# tool succeeded, renames <stem>.<type> over FILE and moves <stem>.bak,
# .bin, .thx and .thd beside it, where the tool would have written them for
# a file of the type's name. The tool writes new files and never into the
# one it reads, so a failed run leaves FILE as it was. The scratch directory
# is removed at the end, and first when a killed build left it.
cmake_minimum_required(VERSION 3.20)

if(NOT TARVEL OR NOT IS_ABSOLUTE "${FILE}" OR NOT TYPE)
  message(FATAL_ERROR "usage: cmake -DTARVEL=<tool> -DFILE=<absolute path> -DTYPE=<type> "
                      "-P TarvelRun.cmake -- <tool arguments>")
endif()

# The tool's arguments: everything after "--".
set(args)
set(separator_seen FALSE)
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(i RANGE ${last})
  if(separator_seen)
    list(APPEND args "${CMAKE_ARGV${i}}")
  elseif("${CMAKE_ARGV${i}}" STREQUAL "--")
    set(separator_seen TRUE)
  endif()
endforeach()

cmake_path(GET FILE PARENT_PATH dir)
cmake_path(GET FILE FILENAME file_name)
cmake_path(GET FILE STEM LAST_ONLY stem)
set(scratch "${dir}/.tarvel-${file_name}.d")

file(REMOVE_RECURSE "${scratch}")
file(MAKE_DIRECTORY "${scratch}")
file(CREATE_LINK "${FILE}" "${scratch}/${stem}.${TYPE}" RESULT linked COPY_ON_ERROR)
if(NOT linked EQUAL 0)
  file(REMOVE_RECURSE "${scratch}")
  message(FATAL_ERROR "cannot link ${FILE} into ${scratch}: ${linked}")
endif()

execute_process(COMMAND "${TARVEL}" ${args} WORKING_DIRECTORY "${scratch}" RESULT_VARIABLE status)

if(status EQUAL 0 AND NOT "-k" IN_LIST args)
  # The patched file first: from here on FILE holds the new content, and a
  # build killed before the rest leaves the scratch directory for the next
  # run to remove.
  file(RENAME "${scratch}/${stem}.${TYPE}" "${FILE}")
  foreach(extension IN ITEMS bak bin thx thd)
    if(EXISTS "${scratch}/${stem}.${extension}")
      file(RENAME "${scratch}/${stem}.${extension}" "${dir}/${stem}.${extension}")
    endif()
  endforeach()
endif()
file(REMOVE_RECURSE "${scratch}")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "tarvel ended with ${status}; ${FILE} is as it was")
endif()
