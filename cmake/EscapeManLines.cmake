# cmake -DDIR=<man3 directory> -P EscapeManLines.cmake
# Doxygen begins a line of a page with an apostrophe where a documented text does ('PCIe-W504':
# ...); roff takes such a line for a control line and drops it. A leading \& keeps it text.
file(GLOB pages "${DIR}/*.3")
foreach(page IN LISTS pages)
  file(READ "${page}" text)
  string(REGEX REPLACE "\n'" "\n\\\\&'" escaped "${text}")
  if(NOT escaped STREQUAL text)
    file(WRITE "${page}" "${escaped}")
  endif()
endforeach()
