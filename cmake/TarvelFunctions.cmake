# tarvel_set_crc: sets the module CRC in the record or ELF file a target writes.
#
#   tarvel_set_crc(<target> RECORD_FILE <file> [TYPE abs|hex|elf] [LINK_ADDRESS <hex>...]
#                  [OUTPUTS [bin] [thx] [thd]] [VERBOSE])
#
# Adds a POST_BUILD step to <target> that runs the main job in the directory
# of <file> (relative paths are taken from the current binary directory):
#
#   tarvel -m=<file without extension> -i=<type> [-l=<hex>...] [-w] [-o=bin] [-o=thx] [-d] [-v]
#
# Without TYPE the extension gives the type: .abs .shx .srec .s19 .s28 .s37
# .mot are S-records (abs), .hex .ihx .ihex Intel HEX (hex), .elf .axf .out
# ELF (elf); TYPE shx is the same as abs. Any other extension needs TYPE.
# Without LINK_ADDRESS the tool finds every module itself: in an ELF file,
# or in a record file it reads whole (-w); with several, an ELF file or a
# whole record file takes a module at each.
#
# The CRC is set in <file> itself; the previous file is kept as <name>.bak,
# and OUTPUTS adds <name>.bin, <name>.thx and <name>.thd beside it. A
# failing run fails the build. Call it after the command that writes <file>
# (POST_BUILD steps run in the order they were added). They run only when
# <target> is linked again, so an unchanged build does not touch the file.
#
# The tool reads <file without extension>.<type>, so a file whose extension
# is not the type's name (firmware.srec, firmware.axf) is set through a
# scratch directory beside it, .tarvel-<file name>.d: TarvelRun.cmake links
# the file into it as <name>.<type>, runs the tool there and, when the tool
# succeeds, renames the result over <file> and moves <name>.bak and the
# outputs beside it. A failed run leaves <file> as it was.
#
# tarvel_check_crc: checks the module CRC of a file, writing nothing.
#
#   tarvel_check_crc(<target> FILE <file> [TYPE abs|hex|elf|thx|bin] [LINK_ADDRESS <hex>...]
#                    [WHOLE_IMAGE])
#
# Adds a POST_BUILD step to <target> that runs tarvel -k on <file> (with -w
# for WHOLE_IMAGE, a file that holds more than the module) and fails the
# build when the module fails its check or its stored CRC is wrong or unset.
# The type comes from TYPE or the extension as above, .thx and .bin too, and
# a file whose extension is not the type's name is checked through a scratch
# directory in the same way.
#
# tarvel::tarvel must exist: find_package(tarvel) or tarvel's source tree
# added with add_subdirectory or FetchContent.
include_guard(GLOBAL)

# The function keeps these policies whatever the calling project sets.
cmake_policy(PUSH)
cmake_policy(VERSION 3.20...3.25)

# The checks both functions make of their parsed arguments (arg_*), and the
# tool's arguments for the module file: sets dir, name, type, args and
# command (the step's command without the arguments added later) in the
# caller. types lists the types the caller takes, as in abs|hex|elf.
macro(_tarvel_module_file caller target file_keyword file link types)
  if(arg_UNPARSED_ARGUMENTS OR arg_KEYWORDS_MISSING_VALUES)
    message(FATAL_ERROR "${caller}: unexpected or incomplete arguments: "
                        "${arg_UNPARSED_ARGUMENTS} ${arg_KEYWORDS_MISSING_VALUES}")
  endif()
  if(NOT TARGET ${target})
    message(FATAL_ERROR "${caller}: ${target} is not a target")
  endif()
  if(NOT TARGET tarvel::tarvel)
    message(FATAL_ERROR "${caller}: tarvel::tarvel is not defined; call find_package(tarvel) first")
  endif()
  if("${file}" STREQUAL "")
    message(FATAL_ERROR "${caller}: ${file_keyword} is required")
  endif()
  # The tool reads hexadecimal digits up to the first other character, so
  # 0x8000 would silently mean address 0. Without LINK_ADDRESS the tool
  # finds the modules itself, in an ELF file or a whole image.
  foreach(_tarvel_link IN ITEMS ${link})
    if(NOT "${_tarvel_link}" MATCHES "^[0-9A-Fa-f]+$")
      message(FATAL_ERROR "${caller}: LINK_ADDRESS must be hexadecimal digits "
                          "without a prefix, such as 8000; got '${_tarvel_link}'")
    endif()
  endforeach()
  set(_tarvel_path "${file}")
  cmake_path(ABSOLUTE_PATH _tarvel_path BASE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR} NORMALIZE)
  cmake_path(GET _tarvel_path PARENT_PATH dir)
  cmake_path(GET _tarvel_path STEM LAST_ONLY name)
  cmake_path(GET _tarvel_path EXTENSION LAST_ONLY _tarvel_extension)
  string(REPLACE "|" ", " _tarvel_list "${types}")
  string(TOLOWER "${_tarvel_extension}" _tarvel_lower)
  if(DEFINED arg_TYPE)
    set(type "${arg_TYPE}")
    if(type STREQUAL "shx")
      set(type abs)
    endif()
  elseif(_tarvel_lower MATCHES "^\\.(abs|shx|srec|s19|s28|s37|mot)$")
    set(type abs)
  elseif(_tarvel_lower MATCHES "^\\.(hex|ihx|ihex)$")
    set(type hex)
  elseif(_tarvel_lower MATCHES "^\\.(elf|axf|out)$")
    set(type elf)
  elseif(_tarvel_lower MATCHES "^\\.(thx|bin)$")
    set(type ${CMAKE_MATCH_1})
  else()
    message(FATAL_ERROR "${caller}: give the TYPE (${_tarvel_list}) of ${_tarvel_path}, "
                        "whose extension does not tell it")
  endif()
  if(NOT type MATCHES "^(${types})$")
    message(FATAL_ERROR "${caller} takes the types ${_tarvel_list}, "
                        "not '${type}' (${_tarvel_path})")
  endif()
  # Without LINK_ADDRESS the tool finds every module of the file itself:
  # an ELF file's, or, read whole, a record file's.
  set(_tarvel_find "")
  if("${link}" STREQUAL "" AND type MATCHES "^(abs|hex|thx)$")
    set(_tarvel_find -w)
  endif()
  # The tool appends the type to the -m path to find the file, and reads
  # S-records and Intel HEX by several names of its own.
  if(type STREQUAL "abs" AND _tarvel_extension MATCHES "^\\.(shx|srec|s28|s37|mot)$")
    set(type ${CMAKE_MATCH_1})
  elseif(type STREQUAL "hex" AND _tarvel_extension STREQUAL ".ihx")
    set(type ihx)
  endif()
  set(args -m=${name} -i=${type})
  foreach(_tarvel_link IN ITEMS ${link})
    list(APPEND args -l=${_tarvel_link})
  endforeach()
  list(APPEND args ${_tarvel_find})
  if(_tarvel_extension STREQUAL ".${type}")
    set(command $<TARGET_FILE:tarvel::tarvel>)
  else()
    set(command ${CMAKE_COMMAND} -DTARVEL=$<TARGET_FILE:tarvel::tarvel> -DFILE=${_tarvel_path}
                -DTYPE=${type} -P ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/TarvelRun.cmake --)
  endif()
endmacro()

# Built in the same tree, the tool must be linked before a target's step runs it.
function(_tarvel_needs_tool target)
  get_target_property(tool tarvel::tarvel ALIASED_TARGET)
  if(tool)
    add_dependencies(${target} ${tool})
  endif()
endfunction()

function(tarvel_set_crc target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "VERBOSE" "RECORD_FILE;TYPE" "OUTPUTS;LINK_ADDRESS")
  _tarvel_module_file(tarvel_set_crc ${target} RECORD_FILE "${arg_RECORD_FILE}"
                      "${arg_LINK_ADDRESS}" "abs|hex|elf")
  set(file ${_tarvel_path})
  set(byproducts ${dir}/${name}.bak)

  foreach(output IN LISTS arg_OUTPUTS)
    if(NOT output MATCHES "^(bin|thx|thd)$")
      message(FATAL_ERROR "tarvel_set_crc: OUTPUTS takes bin, thx and thd, not '${output}'")
    endif()
  endforeach()
  # -o=bin before -o=thx: the thx records go to the file the last -o names,
  # while the bin output always goes to <name>.bin.
  if("bin" IN_LIST arg_OUTPUTS)
    list(APPEND args -o=bin)
    list(APPEND byproducts ${dir}/${name}.bin)
  endif()
  if("thx" IN_LIST arg_OUTPUTS)
    list(APPEND args -o=thx)
    list(APPEND byproducts ${dir}/${name}.thx)
  endif()
  if("thd" IN_LIST arg_OUTPUTS)
    list(APPEND args -d)
    list(APPEND byproducts ${dir}/${name}.thd)
  endif()
  if(arg_VERBOSE)
    list(APPEND args -v)
  endif()

  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${command} ${args}
    WORKING_DIRECTORY ${dir}
    BYPRODUCTS ${byproducts}
    COMMENT "Setting the module CRC in ${file}"
    VERBATIM)
  _tarvel_needs_tool(${target})
endfunction()

function(tarvel_check_crc target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "WHOLE_IMAGE" "FILE;TYPE" "LINK_ADDRESS")
  _tarvel_module_file(tarvel_check_crc ${target} FILE "${arg_FILE}" "${arg_LINK_ADDRESS}"
                      "abs|hex|elf|thx|bin")
  list(APPEND args -k)
  if(arg_WHOLE_IMAGE AND NOT "-w" IN_LIST args)
    list(APPEND args -w)
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${command} ${args}
    WORKING_DIRECTORY ${dir}
    COMMENT "Checking the module CRC in ${_tarvel_path}"
    VERBATIM)
  _tarvel_needs_tool(${target})
endfunction()

cmake_policy(POP)
