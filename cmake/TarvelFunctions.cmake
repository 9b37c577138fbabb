# tarvel_set_crc: sets the module CRC in the S-record file a target writes.
#
#   tarvel_set_crc(<target> RECORD_FILE <file.abs|file.shx|file.hex> LINK_ADDRESS <hex>
#                  [OUTPUTS [bin] [thx] [thd]] [VERBOSE])
#
# Adds a POST_BUILD step to <target> that runs the main job in the directory
# of <file> (relative paths are taken from the current binary directory):
#
#   tarvel -m=<file without extension> -i=abs|shx|hex -l=<hex> [-o=bin] [-o=thx] [-d] [-v]
#
# The CRC is set in <file> itself; the previous file is kept as <name>.bak,
# and OUTPUTS adds <name>.bin, <name>.thx and <name>.thd beside it. A
# failing run fails the build. Call it after the command that writes <file>
# (POST_BUILD steps run in the order they were added). They run only when
# <target> is linked again, so an unchanged build does not touch the file.
#
# tarvel::tarvel must exist: find_package(tarvel) or tarvel's source tree
# added with add_subdirectory or FetchContent.
include_guard(GLOBAL)

# The function keeps these policies whatever the calling project sets.
cmake_policy(PUSH)
cmake_policy(VERSION 3.20...3.25)

function(tarvel_set_crc target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "VERBOSE" "RECORD_FILE;LINK_ADDRESS" "OUTPUTS")
  if(arg_UNPARSED_ARGUMENTS OR arg_KEYWORDS_MISSING_VALUES)
    message(FATAL_ERROR "tarvel_set_crc: unexpected or incomplete arguments: "
                        "${arg_UNPARSED_ARGUMENTS} ${arg_KEYWORDS_MISSING_VALUES}")
  endif()
  if(NOT TARGET ${target})
    message(FATAL_ERROR "tarvel_set_crc: ${target} is not a target")
  endif()
  if(NOT TARGET tarvel::tarvel)
    message(FATAL_ERROR "tarvel_set_crc: tarvel::tarvel is not defined; "
                        "call find_package(tarvel) first")
  endif()
  if(NOT arg_RECORD_FILE)
    message(FATAL_ERROR "tarvel_set_crc: RECORD_FILE is required")
  endif()
  # The tool reads hexadecimal digits up to the first other character, so
  # 0x8000 would silently mean address 0.
  if(NOT arg_LINK_ADDRESS MATCHES "^[0-9A-Fa-f]+$")
    message(FATAL_ERROR "tarvel_set_crc: LINK_ADDRESS must be hexadecimal digits "
                        "without a prefix, such as 8000; got '${arg_LINK_ADDRESS}'")
  endif()

  cmake_path(ABSOLUTE_PATH arg_RECORD_FILE BASE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
             NORMALIZE OUTPUT_VARIABLE file)
  cmake_path(GET file PARENT_PATH dir)
  cmake_path(GET file STEM LAST_ONLY name)
  cmake_path(GET file EXTENSION LAST_ONLY extension)
  # The tool appends the lower-case type to the -m path to find the file.
  if(NOT extension MATCHES "^\\.(abs|shx|hex)$")
    message(FATAL_ERROR "tarvel_set_crc: RECORD_FILE must end in .abs, .shx or .hex: ${file}")
  endif()
  set(args -m=${name} -i=${CMAKE_MATCH_1} -l=${arg_LINK_ADDRESS})
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
    COMMAND $<TARGET_FILE:tarvel::tarvel> ${args}
    WORKING_DIRECTORY ${dir}
    BYPRODUCTS ${byproducts}
    COMMENT "Setting the module CRC in ${file}"
    VERBATIM)
  # Built in the same tree, the tool must be linked before the target's
  # step runs it.
  get_target_property(tool tarvel::tarvel ALIASED_TARGET)
  if(tool)
    add_dependencies(${target} ${tool})
  endif()
endfunction()

cmake_policy(POP)
