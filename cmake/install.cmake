# `cmake --install` of the C++ package (component "development"): the public headers, the
# static libraries and the CMake package `tarvo`, so that another project can do
#   find_package(tarvo) and target_link_libraries(app PRIVATE tarvo::core).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(tarvo_package_dir "${CMAKE_INSTALL_LIBDIR}/cmake/tarvo")

# The public headers, named one by one: the assembly of the cone program stays private.
set(tarvo_public_headers config.hpp config_fields.hpp fault.hpp plan.hpp plan_types.hpp result.hpp
                          search.hpp solve.hpp thread_pool.hpp)
list(TRANSFORM tarvo_public_headers PREPEND "${PROJECT_SOURCE_DIR}/tarvo-core/include/tarvo_core/")
install(FILES ${tarvo_public_headers}
        DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/tarvo_core" COMPONENT development)

# The bridge's include directory is a source path, which an export cannot carry; it stays in the
# build tree, as an installed consumer links the bridge and never includes it.
get_target_property(bridge_include_dirs clarabel_bridge INTERFACE_INCLUDE_DIRECTORIES)
if(bridge_include_dirs)
  set_property(TARGET clarabel_bridge
               PROPERTY INTERFACE_INCLUDE_DIRECTORIES "$<BUILD_INTERFACE:${bridge_include_dirs}>")
endif()

install(TARGETS tarvo_core tarvo_json clarabel_bridge
        EXPORT tarvoTargets
        ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT development)
# The Rust half of the bridge is an archive cargo builds; tarvoConfig.cmake imports it again.
get_target_property(bridge_rust_archive clarabel_bridge_rust IMPORTED_LOCATION)
install(FILES "${bridge_rust_archive}"
        DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT development)
get_filename_component(TARVO_BRIDGE_RUST_ARCHIVE "${bridge_rust_archive}" NAME)

install(EXPORT tarvoTargets NAMESPACE tarvo::
        DESTINATION "${tarvo_package_dir}" COMPONENT development)
configure_package_config_file(
  "${CMAKE_CURRENT_LIST_DIR}/tarvoConfig.cmake.in" "${PROJECT_BINARY_DIR}/tarvoConfig.cmake"
  INSTALL_DESTINATION "${tarvo_package_dir}")
write_basic_package_version_file("${PROJECT_BINARY_DIR}/tarvoConfigVersion.cmake"
                                 COMPATIBILITY SameMinorVersion)
install(FILES "${PROJECT_BINARY_DIR}/tarvoConfig.cmake" "${PROJECT_BINARY_DIR}/tarvoConfigVersion.cmake"
        DESTINATION "${tarvo_package_dir}" COMPONENT development)
