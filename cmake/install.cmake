# What cmake --install puts under the prefix: the tools and the self-test,
# the plug-in with the framework library it binds to, and the stage library
# with its headers and a CMake package (find_package(FineCoreg),
# FineCoreg::stages). Every binary finds its libraries relative to itself,
# so an unpacked tree runs where it lies.
include(CMakePackageConfigHelpers)

file(RELATIVE_PATH FC_BIN_TO_LIB "/${CMAKE_INSTALL_BINDIR}" "/${CMAKE_INSTALL_LIBDIR}")
set_target_properties(finecoreg_tool slcsim_tool fcimport_tool resample_tool offsets_tool PROPERTIES
  INSTALL_RPATH "$ORIGIN/${FC_BIN_TO_LIB}")
set_target_properties(finecoreg PROPERTIES INSTALL_RPATH "$ORIGIN")

install(TARGETS finecoreg_tool slcsim_tool fcimport_tool resample_tool offsets_tool
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
install(TARGETS oskal finecoreg
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime)
install(PROGRAMS ${PROJECT_SOURCE_DIR}/tools/selftest/finecoreg-selftest
  DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)

# FineCoreg::stages: the host-free stages and the resampler, as the archives
# the Python package links.
add_library(finecoreg_stage_library INTERFACE)
target_link_libraries(finecoreg_stage_library INTERFACE fc_resampling finecoreg_stages)
set_target_properties(finecoreg_stage_library PROPERTIES EXPORT_NAME stages)
install(TARGETS finecoreg_stage_library finecoreg_stages fc_resampling EXPORT FineCoregTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
foreach(dir IN ITEMS numeric params estimation fitting resampling)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/${dir}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/finecoreg/${dir}
    COMPONENT development FILES_MATCHING PATTERN "*.h")
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/algorithm/run_driver.h ${PROJECT_SOURCE_DIR}/algorithm/work_files.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/finecoreg/algorithm COMPONENT development)

set(FC_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/FineCoreg)
install(EXPORT FineCoregTargets NAMESPACE FineCoreg:: DESTINATION ${FC_CMAKE_DIR}
  COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/FineCoregConfig.cmake.in
  ${PROJECT_BINARY_DIR}/FineCoregConfig.cmake INSTALL_DESTINATION ${FC_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/FineCoregConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/FineCoregConfig.cmake
  ${PROJECT_BINARY_DIR}/FineCoregConfigVersion.cmake DESTINATION ${FC_CMAKE_DIR}
  COMPONENT development)
