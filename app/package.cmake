# The installed library for other CMake projects:
#   find_package(rotalign CONFIG REQUIRED)
#   target_link_libraries(x PRIVATE rotalign::core)
# rotalign_core and the host's loader are static; the host libraries (libmx, libmex) are the
# shared ones installed beside the plug-ins, which need them too. The static libraries' own
# dependencies are recorded in the exported targets: LAPACK, ARPACK and CHOLMOD by their
# library files, nanoflann, FAISS with OpenMP, and Threads as packages that rotalignConfig.cmake
# finds again.
include(CMakePackageConfigHelpers)
set(ROTALIGN_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/rotalign")

install(TARGETS rotalign_core mexhost EXPORT rotalignTargets ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}")
install(DIRECTORY include/ DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}")
install(DIRECTORY "${PROJECT_SOURCE_DIR}/host/include/" DESTINATION "${MEXHOST_INSTALL_INCLUDEDIR}")
install(EXPORT rotalignTargets NAMESPACE rotalign:: DESTINATION "${ROTALIGN_CMAKE_DIR}")

configure_package_config_file(rotalignConfig.cmake.in "${CMAKE_CURRENT_BINARY_DIR}/rotalignConfig.cmake"
                              INSTALL_DESTINATION "${ROTALIGN_CMAKE_DIR}" PATH_VARS ROTALIGN_INSTALL_DIR)
# Before 1.0 a minor version may change the interface.
write_basic_package_version_file("${CMAKE_CURRENT_BINARY_DIR}/rotalignConfigVersion.cmake"
                                 VERSION "${PROJECT_VERSION}" COMPATIBILITY SameMinorVersion)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/rotalignConfig.cmake" "${CMAKE_CURRENT_BINARY_DIR}/rotalignConfigVersion.cmake"
        DESTINATION "${ROTALIGN_CMAKE_DIR}")
