# Install rules: the programs, the runtime and Lanvex, their headers, the CMake package
# (find_package(Lanvex) gives Lanvex::comrt), the desktop integration and the manual pages.
# Included last from the top CMakeLists.txt, so every target below already exists when it is
# built at all.
include(CMakePackageConfigHelpers)

# The agreed layout is <prefix>/bin and <prefix>/lib on every system (psvigil looks for Lanvex
# in <exe dir>/../lib), so no multiarch library directory here.
set(VIGIL_INSTALL_BINDIR bin)
set(VIGIL_INSTALL_LIBDIR lib)
set(VIGIL_INSTALL_INCLUDEDIR include)
set(VIGIL_INSTALL_CMAKEDIR ${VIGIL_INSTALL_LIBDIR}/cmake/Lanvex)

# Everything the install rules copy; scripts/package and the install test build just this.
add_custom_target(installables)

set(vigil_programs psvigil psvigil-cli comreg comcall)
foreach(program IN LISTS vigil_programs)
  if(TARGET ${program})
    # Installed programs find the runtime and Lanvex next to themselves, wherever the prefix is.
    set_target_properties(${program} PROPERTIES INSTALL_RPATH "$ORIGIN/../${VIGIL_INSTALL_LIBDIR}")
    install(TARGETS ${program} RUNTIME DESTINATION ${VIGIL_INSTALL_BINDIR})
    add_dependencies(installables ${program})
  endif()
endforeach()

if(TARGET comrt)
  # Clients outside this tree include "platform/com/..." from <prefix>/include.
  target_include_directories(comrt INTERFACE $<INSTALL_INTERFACE:${VIGIL_INSTALL_INCLUDEDIR}>)
  target_compile_features(comrt INTERFACE cxx_std_20)
  # libcomrt.so.1 and its file; the unversioned link is for building against it.
  install(TARGETS comrt EXPORT LanvexTargets LIBRARY DESTINATION ${VIGIL_INSTALL_LIBDIR})
  add_dependencies(installables comrt)

  # Every runtime header: comrt.h gathers most of them and grows with the runtime, so a
  # hand-kept list would go stale.
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/platform/com/
    DESTINATION ${VIGIL_INSTALL_INCLUDEDIR}/platform/com FILES_MATCHING PATTERN "*.h")

  install(EXPORT LanvexTargets NAMESPACE Lanvex:: DESTINATION ${VIGIL_INSTALL_CMAKEDIR})
  configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/LanvexConfig.cmake.in
    ${CMAKE_BINARY_DIR}/cmake/LanvexConfig.cmake
    INSTALL_DESTINATION ${VIGIL_INSTALL_CMAKEDIR}
    PATH_VARS VIGIL_INSTALL_LIBDIR)
  write_basic_package_version_file(${CMAKE_BINARY_DIR}/cmake/LanvexConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES ${CMAKE_BINARY_DIR}/cmake/LanvexConfig.cmake
    ${CMAKE_BINARY_DIR}/cmake/LanvexConfigVersion.cmake
    DESTINATION ${VIGIL_INSTALL_CMAKEDIR})
endif()

if(TARGET lanvex)
  # Lanvex is loaded by path from the hive (libLanvex.so.1, its SONAME link); it finds comrt
  # beside itself. Nothing links against it, so no unversioned link.
  set_target_properties(lanvex PROPERTIES INSTALL_RPATH "$ORIGIN")
  install(TARGETS lanvex LIBRARY DESTINATION ${VIGIL_INSTALL_LIBDIR} NAMELINK_SKIP)
  install(FILES ${CMAKE_SOURCE_DIR}/lanvex/net/lanvex.h
    DESTINATION ${VIGIL_INSTALL_INCLUDEDIR}/lanvex/net)
  add_dependencies(installables lanvex)
endif()

if(TARGET psvigil)
  include(${CMAKE_CURRENT_LIST_DIR}/desktop.cmake)
endif()
if(NOT VIGIL_FUZZ)
  include(${CMAKE_CURRENT_LIST_DIR}/manpages.cmake)
endif()
