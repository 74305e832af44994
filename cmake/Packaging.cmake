# What `cmake --install` lays down, by component (debian/ splits the same tree into packages):
#   runtime      the four libraries (sonames)
#   development  headers, library symlinks, pkg-config file, CMake package, example sources
#   apidocs      the section-3 pages of the API reference (docs/, when the docs target was built)
#   tools        qrtctl, qrt-sim with its private rig and bridge libraries in <libdir>/qrt,
#                qrt-exporter with its systemd unit and alert rules, section-1 pages
#   python       the package qrt (python/)
#   docs         README, docs/, the rig's description, the example rigs, the HTML reference
# Included twice from the top CMakeLists: first (QRT_PACKAGING_STAGE "layout") before the
# subfolders, for the names they use, then ("install") after them.
#
# Run paths. A system install (--prefix /usr: the library directory is one the dynamic linker
# searches by itself) needs none: nothing installed carries one, except qrt-sim's to its
# private libraries, and qrt-sdk.pc adds none to applications. A relocated prefix (/opt/qrt)
# needs them: the kit's binaries find their libraries from their own directory ($ORIGIN), and
# the .pc and CMake files of that prefix give applications its library directory. Which one an
# install is, is decided when it runs, so that `cmake --install --prefix` of any build is right.
include(CMakePackageConfigHelpers)

set(QRT_DEV_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/libqrt-sdk-dev)
set(QRT_DOC_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/qrt-sdk-doc)
# The rig's libraries are qrt-sim's alone: in a directory of their own, out of the linker's way.
set(QRT_PRIVATE_LIBDIR ${CMAKE_INSTALL_LIBDIR}/qrt)
# The rig, qrt-sim, qrtctl and qrt-exporter install without naming a component: they are the
# tools.
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME tools)
if(QRT_PACKAGING_STAGE STREQUAL "layout")
  set(system_libdirs ${CMAKE_PLATFORM_IMPLICIT_LINK_DIRECTORIES}
    ${CMAKE_C_IMPLICIT_LINK_DIRECTORIES} ${CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES})
  list(REMOVE_DUPLICATES system_libdirs)
  # Runs first in every install, whichever components it installs.
  install(CODE "
    get_filename_component(QRT_INSTALL_LIBDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}\" ABSOLUTE)
    set(QRT_SYSTEM_LIBDIRS \"${system_libdirs}\")
    list(FIND QRT_SYSTEM_LIBDIRS \"\${QRT_INSTALL_LIBDIR}\" found)
    set(QRT_SYSTEM_INSTALL FALSE)
    if(found GREATER -1)
      set(QRT_SYSTEM_INSTALL TRUE)
    endif()" ALL_COMPONENTS)
  return()
endif()

# ---- Libraries, headers, pkg-config file, CMake package ------------------------------------
install(TARGETS QRT_SDK QRT_Product QRT_CoreSDK QRT_Utilities EXPORT QRTSDKTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development)
install(FILES api/QRT_SDK.h api/QRT_Types.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/qrt COMPONENT development)
# The pkg-config file names the prefix it is installed in; only a relocated prefix adds its
# library directory as the application's run path.
install(CODE "
  set(QRT_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  set(QRT_PC_RUN_PATH \" -Wl,-rpath,\\\${libdir}\")
  if(QRT_SYSTEM_INSTALL)
    set(QRT_PC_RUN_PATH \"\")
  endif()
  set(CMAKE_INSTALL_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(CMAKE_INSTALL_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(PROJECT_VERSION \"${PROJECT_VERSION}\")
  configure_file(\"${CMAKE_SOURCE_DIR}/api/qrt-sdk.pc.in\" \"${CMAKE_BINARY_DIR}/install/qrt-sdk.pc\" @ONLY)
  file(INSTALL \"${CMAKE_BINARY_DIR}/install/qrt-sdk.pc\"
    DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig\")"
  COMPONENT development)

set(cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/QRTSDK)
install(EXPORT QRTSDKTargets NAMESPACE QRTSDK:: DESTINATION ${cmake_dir} COMPONENT development)
configure_package_config_file(cmake/QRTSDKConfig.cmake.in
  ${CMAKE_BINARY_DIR}/QRTSDKConfig.cmake INSTALL_DESTINATION ${cmake_dir})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/QRTSDKConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/QRTSDKConfig.cmake ${CMAKE_BINARY_DIR}/QRTSDKConfigVersion.cmake
  DESTINATION ${cmake_dir} COMPONENT development)

# ---- Run paths of what is installed -----------------------------------------------------------
# qrt_run_path(TARGET DIR COMPONENT RELOCATED [SYSTEM]): the target, installed in DIR, finds its
# libraries through RELOCATED in a relocated prefix and through SYSTEM (none when not given)
# in a system install.
function(qrt_run_path target dir component relocated)
  if(NOT TARGET ${target})
    return()
  endif()
  set_target_properties(${target} PROPERTIES INSTALL_RPATH "${relocated}")
  set(file "\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${dir}/$<TARGET_FILE_NAME:${target}>")
  string(REPLACE ";" ":" relocated "${relocated}")
  if(ARGC GREATER 4)
    set(change "file(RPATH_CHANGE FILE \"${file}\" OLD_RPATH \"${relocated}\" NEW_RPATH \"${ARGV4}\")")
  else()
    set(change "file(RPATH_REMOVE FILE \"${file}\")")
  endif()
  install(CODE "if(QRT_SYSTEM_INSTALL)\n  ${change}\nendif()" COMPONENT ${component})
endfunction()

foreach(library QRT_SDK QRT_Product QRT_CoreSDK QRT_Utilities)
  qrt_run_path(${library} ${CMAKE_INSTALL_LIBDIR} runtime "$ORIGIN")
endforeach()
foreach(tool qrtctl qrt-exporter)
  qrt_run_path(${tool} ${CMAKE_INSTALL_BINDIR} tools "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
endforeach()
qrt_run_path(qrt_sim ${QRT_PRIVATE_LIBDIR} tools "$ORIGIN/..")
qrt_run_path(qrt-sim ${CMAKE_INSTALL_BINDIR} tools
  "$ORIGIN/../${QRT_PRIVATE_LIBDIR};$ORIGIN/../${CMAKE_INSTALL_LIBDIR}"
  "$ORIGIN/../${QRT_PRIVATE_LIBDIR}")

# ---- Manual pages (scdoc sources in docs/man) -------------------------------------------------
find_program(QRT_SCDOC scdoc)
set(pages)
foreach(tool qrtctl qrt-sim qrt-exporter)
  if(NOT TARGET ${tool})
    continue()
  endif()
  set(source ${CMAKE_SOURCE_DIR}/docs/man/${tool}.1.scd)
  set(page ${CMAKE_BINARY_DIR}/man/${tool}.1)
  if(QRT_SCDOC)
    add_custom_command(OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND sh -c "'${QRT_SCDOC}' < '${source}' > '${page}'"
      DEPENDS ${source} COMMENT "Manual page ${tool}(1)" VERBATIM)
    list(APPEND pages ${page})
  endif()
endforeach()
if(pages)
  add_custom_target(man_pages ALL DEPENDS ${pages})
  install(FILES ${pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
else()
  message(STATUS "No scdoc (Debian package scdoc): the manual pages of the tools are not built")
endif()

# ---- Documentation and example rigs ------------------------------------------------------------
# The tree as the README names it (docs/tour.rig, sim/README.md), so that its paths hold.
install(FILES README.md DESTINATION ${QRT_DOC_DOCDIR} COMPONENT docs)
file(GLOB guides CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/*.md ${CMAKE_SOURCE_DIR}/docs/*.rig)
install(FILES ${guides} DESTINATION ${QRT_DOC_DOCDIR}/docs COMPONENT docs)
install(FILES sim/README.md DESTINATION ${QRT_DOC_DOCDIR}/sim COMPONENT docs)
