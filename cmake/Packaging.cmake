# What `cmake --install` lays down and how `cpack -G DEB` splits it into three packages:
#   runtime      libqrt-sdk1     the four libraries (sonames)
#   development  libqrt-sdk-dev  headers, library symlinks, pkg-config file, CMake package,
#                                example sources
#   tools        qrt-sdk-tools   qrtctl, qrt-sim with its rig and bridge libraries, man pages
# Included twice from the top CMakeLists: first (QRT_PACKAGING_STAGE "layout") before the
# subfolders, for the names they use, then ("install") after them.
include(CMakePackageConfigHelpers)

set(QRT_RUNTIME_PACKAGE libqrt-sdk1)
set(QRT_DEV_PACKAGE libqrt-sdk-dev)
set(QRT_TOOLS_PACKAGE qrt-sdk-tools)
set(QRT_DEB_RELEASE 1)
set(QRT_DEB_VERSION ${PROJECT_VERSION}-${QRT_DEB_RELEASE})
set(QRT_DEV_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${QRT_DEV_PACKAGE})
set(CPACK_PACKAGE_CONTACT "QRT SDK team <sdk@qrt.invalid>")
# The rig, qrt-sim and qrtctl install without naming a component: they are the tools.
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME tools)
if(QRT_PACKAGING_STAGE STREQUAL "layout")
  return()
endif()

# ---- Libraries, headers, pkg-config file, CMake package ------------------------------------
install(TARGETS QRT_SDK QRT_Product QRT_CoreSDK QRT_Utilities EXPORT QRTSDKTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development)
install(FILES api/QRT_SDK.h api/QRT_Types.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/qrt COMPONENT development)
# The pkg-config file locates the installation from its own directory, so that it stays right
# for `cmake --install --prefix <elsewhere>`.
file(RELATIVE_PATH QRT_PC_PREFIX_FROM_PCFILEDIR "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
string(REGEX REPLACE "/$" "" QRT_PC_PREFIX_FROM_PCFILEDIR "${QRT_PC_PREFIX_FROM_PCFILEDIR}")
configure_file(api/qrt-sdk.pc.in ${CMAKE_BINARY_DIR}/qrt-sdk.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/qrt-sdk.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

set(cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/QRTSDK)
install(EXPORT QRTSDKTargets NAMESPACE QRTSDK:: DESTINATION ${cmake_dir} COMPONENT development)
configure_package_config_file(cmake/QRTSDKConfig.cmake.in
  ${CMAKE_BINARY_DIR}/QRTSDKConfig.cmake INSTALL_DESTINATION ${cmake_dir})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/QRTSDKConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/QRTSDKConfig.cmake ${CMAKE_BINARY_DIR}/QRTSDKConfigVersion.cmake
  DESTINATION ${cmake_dir} COMPONENT development)

# ---- Man pages, made from the tools' own --help ---------------------------------------------
find_program(QRT_HELP2MAN help2man)
if(QRT_HELP2MAN AND TARGET qrtctl AND TARGET qrt-sim)
  set(pages)
  set(tools qrtctl qrt-sim)
  if(TARGET qrt-exporter)
    list(APPEND tools qrt-exporter)
  endif()
  foreach(tool IN LISTS tools)
    set(page ${CMAKE_BINARY_DIR}/man/${tool}.1.gz)
    set(help_option --help)
    if(tool STREQUAL "qrtctl")
      set(help_option --help-all)
    endif()
    add_custom_command(OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND sh -c "'${QRT_HELP2MAN}' --no-info --no-discard-stderr --help-option=${help_option} \
--name='${tool} of the QRT SDK' '$<TARGET_FILE:${tool}>' | gzip -9n > '${page}'"
      DEPENDS ${tool} VERBATIM)
    list(APPEND pages ${page})
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${pages})
  install(FILES ${pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
endif()

# ---- Debian packages -------------------------------------------------------------------------
foreach(component runtime development tools)
  string(TOUPPER ${component} upper)
  set(package ${QRT_${upper}_PACKAGE})
  if(component STREQUAL "development")
    set(package ${QRT_DEV_PACKAGE})
  endif()
  set(QRT_DEB_PACKAGE ${package})
  set(docs ${CMAKE_BINARY_DIR}/debian/${package})
  configure_file(cmake/debian/copyright.in ${docs}/copyright @ONLY)
  configure_file(cmake/debian/changelog.in ${docs}/changelog.Debian @ONLY)
  execute_process(COMMAND gzip -9nf ${docs}/changelog.Debian)
  install(FILES ${docs}/copyright ${docs}/changelog.Debian.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
  set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${package})
  set(CPACK_DEBIAN_${upper}_FILE_NAME DEB-DEFAULT)
endforeach()

set(CPACK_PACKAGE_NAME qrt-sdk)
set(CPACK_PACKAGE_VENDOR "QRT")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime development tools)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${QRT_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://qrt.invalid/sdk")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# Libraries in the linker's directories: ldconfig runs through dpkg's trigger.
file(WRITE ${CMAKE_BINARY_DIR}/debian/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian/triggers)
set(CPACK_DEBIAN_TOOLS_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian/triggers)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${QRT_RUNTIME_PACKAGE} (= ${QRT_DEB_VERSION})")
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS
  "${QRT_RUNTIME_PACKAGE} (= ${QRT_DEB_VERSION}), libc6 (>= 2.34), libstdc++6 (>= 12), libgcc-s1")
if(TARGET qrt-exporter)
  string(APPEND CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS ", libcpp-httplib0.11")
endif()
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "QRT SDK: hardware-control libraries for machine-vision products
The C API library libQRT_SDK and the product, hardware-access and configuration
libraries below it. They find the PoE frame-grabber cards, USB3 host cards and
the embedded vision system of the computer and drive their PoE ports, trigger
over Ethernet, temperatures, fans, USB port power and digital I/O.")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "QRT SDK: development files
The public C header, the library symlinks, the pkg-config file qrt-sdk.pc, the
CMake package QRTSDK (find_package(QRTSDK), imported target QRTSDK::QRT_SDK)
and example programs for every component family.")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION "QRT SDK: qrtctl, qrt-exporter and the virtual rig qrt-sim
qrtctl lists the products and drives their components from the command line,
with text or JSON output, and prints their measurements for Prometheus.
qrt-exporter serves those measurements to Prometheus as a daemon (systemd unit
and alert rules included).
qrt-sim runs a program inside a virtual rig of the products, so that software
built on the SDK can be tried without the hardware.")
include(CPack)
