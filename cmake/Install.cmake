# What `cmake --install` puts in place for applications and desktops:
#   lib/libtelhid.so*            (installed by lib/manager, SONAME links included)
#   include/telhid.h             (installed by lib/manager)
#   bin/telsnd                   (installed by audio)
#   bin/telhid-monitor
#   lib/pkgconfig/telhid.pc      pkg-config, relocatable
#   lib/cmake/telhid/            find_package(telhid) -> telhid::telhid, relocatable
#   lib/udev/rules.d/70-telhid.rules   device access for the user at the seat
# The package files locate the library relative to themselves, so an install
# moved with `cmake --install --prefix` or DESTDIR keeps working.

include(CMakePackageConfigHelpers)

set(TELHID_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING
  "Where the udev rules go (relative: below the install prefix; udev reads /usr/lib and /usr/local/lib)")

if(TARGET telhid-monitor)
  install(TARGETS telhid-monitor RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(FILES ${PROJECT_SOURCE_DIR}/dist/70-telhid.rules DESTINATION ${TELHID_UDEV_RULES_DIR})

if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  message(WARNING "telhid.pc and the CMake package need a relative CMAKE_INSTALL_LIBDIR and "
                  "CMAKE_INSTALL_INCLUDEDIR; they are not installed")
  return()
endif()

set(_telhid_pkg ${PROJECT_BINARY_DIR}/package)
set(_telhid_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/telhid)

# Paths from each package file's folder back to the prefix.
file(RELATIVE_PATH TELHID_PC_TO_PREFIX /p/${CMAKE_INSTALL_LIBDIR}/pkgconfig /p)
file(RELATIVE_PATH TELHID_CMAKE_TO_PREFIX /p/${_telhid_cmake_dir} /p)
string(REGEX REPLACE "/$" "" TELHID_PC_TO_PREFIX "${TELHID_PC_TO_PREFIX}")
string(REGEX REPLACE "/$" "" TELHID_CMAKE_TO_PREFIX "${TELHID_CMAKE_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/dist/telhid.pc.in ${_telhid_pkg}/telhid.pc @ONLY)
install(FILES ${_telhid_pkg}/telhid.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

if(TARGET telhid)
  set(TELHID_LIBRARY_FILE "$<TARGET_FILE_NAME:telhid>")
  set(TELHID_SONAME_FILE "$<TARGET_SONAME_FILE_NAME:telhid>")
  configure_file(${PROJECT_SOURCE_DIR}/dist/telhidConfig.cmake.in ${_telhid_pkg}/telhidConfig.cmake.gen @ONLY)
  file(GENERATE OUTPUT ${_telhid_pkg}/telhidConfig.cmake INPUT ${_telhid_pkg}/telhidConfig.cmake.gen)
  write_basic_package_version_file(${_telhid_pkg}/telhidConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES ${_telhid_pkg}/telhidConfig.cmake ${_telhid_pkg}/telhidConfigVersion.cmake
    DESTINATION ${_telhid_cmake_dir})
endif()
