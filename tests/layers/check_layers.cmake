# cmake -DSOURCE_DIR=<repo> -P check_layers.cmake
#
# Data flows down the layers (C API -> products -> core -> driver), the rig never reuses the
# SDK's code, and the tools and examples see only the public headers. Every quoted include of
# the folders below is resolved as the compiler would find it (beside the file, the root, the
# public headers, the product framework) and must land in a folder its part may see. The part
# of a file is the longest prefix of its path in this table; each part lists what it may include.
set(parts
  "utilities/|utilities/"
  "core/common/|core/common/ api/QRT_Types.h"
  "core/driver/|core/driver/ core/common/ api/QRT_Types.h"
  "core/bus/|core/bus/ core/driver/ core/common/ api/QRT_Types.h"
  "core/controllers/|core/ api/QRT_Types.h"
  "product/|product/ core/ utilities/ api/QRT_Types.h"
  "api/|api/ product/ core/ utilities/"
  "sim/|sim/"
  "sim/rig/|sim/ utilities/"
  "tools/|tools/ api/QRT_SDK.h api/QRT_Types.h"
  "tools/qrt-sim/|tools/ sim/"
  "examples/|api/QRT_SDK.h api/QRT_Types.h"
  "docs/|api/QRT_SDK.h api/QRT_Types.h")

set(offending)
set(checked 0)
foreach(part IN LISTS parts)
  string(REGEX REPLACE "\\|.*" "" prefix "${part}")
  list(APPEND prefixes ${prefix})
endforeach()
list(REMOVE_DUPLICATES prefixes)
foreach(top IN LISTS prefixes)
  file(GLOB_RECURSE found_sources ${SOURCE_DIR}/${top}*.h ${SOURCE_DIR}/${top}*.cpp
       ${SOURCE_DIR}/${top}*.c ${SOURCE_DIR}/${top}*.def)
  list(APPEND sources ${found_sources})
endforeach()
list(REMOVE_DUPLICATES sources)

foreach(source IN LISTS sources)
  file(RELATIVE_PATH rel ${SOURCE_DIR} ${source})
  # The part: the longest matching prefix.
  set(allowed "")
  set(best 0)
  foreach(part IN LISTS parts)
    string(REGEX REPLACE "\\|.*" "" prefix "${part}")
    string(REGEX REPLACE "^[^|]*\\|" "" sees "${part}")
    string(LENGTH "${prefix}" length)
    string(FIND "${rel}" "${prefix}" at)
    if(at EQUAL 0 AND length GREATER best)
      set(best ${length})
      string(REPLACE " " ";" allowed "${sees}")
    endif()
  endforeach()
  get_filename_component(here ${source} DIRECTORY)
  file(STRINGS ${source} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[^\"]*\"([^\"]+)\".*" "\\1" name "${line}")
    set(target "")
    foreach(dir IN ITEMS ${here} ${SOURCE_DIR} ${SOURCE_DIR}/api ${SOURCE_DIR}/product/framework)
      if(EXISTS ${dir}/${name})
        get_filename_component(target ${dir}/${name} REALPATH)
        break()
      endif()
    endforeach()
    if(NOT target)
      continue()  # a system or library header
    endif()
    math(EXPR checked "${checked} + 1")
    file(RELATIVE_PATH target ${SOURCE_DIR} ${target})
    set(ok FALSE)
    foreach(may IN LISTS allowed)
      string(FIND "${target}" "${may}" at)
      if(at EQUAL 0)
        set(ok TRUE)
        break()
      endif()
    endforeach()
    if(NOT ok)
      list(APPEND offending "${rel} includes ${target}")
    endif()
  endforeach()
endforeach()
if(offending)
  list(JOIN offending "\n  " text)
  message(FATAL_ERROR "includes against the layers:\n  ${text}")
endif()
message(STATUS "${checked} includes follow the layers")
