# The install layout, included by CMakeLists.txt in the Linux build: the renderer under libexec,
# the preview tool under bin, and the host library with a relocatable CMake package and a
# pkg-config file that both carry the renderer's installed path.

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(KFP_VERSION 0.2.0)
set(KFP_RENDERER_INSTALL_DIR "${CMAKE_INSTALL_LIBEXECDIR}/kest-font-preview")
set(KFP_HEADER_INSTALL_DIR "${CMAKE_INSTALL_INCLUDEDIR}/kest-font-preview")
set(KFP_CMAKE_INSTALL_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/KestFontPreview")

# Installed, kfp-preview finds the renderer relative to itself (../libexec/...): the tree can move.
target_compile_definitions(kfp-preview PRIVATE
  KFP_RENDERER_FROM_BIN="../${KFP_RENDERER_INSTALL_DIR}/kest-font-preview-renderer")

install(TARGETS kest-font-preview-renderer RUNTIME DESTINATION "${KFP_RENDERER_INSTALL_DIR}")
install(TARGETS kfp-preview RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")

# The host library is two static archives: the client, and the frame codec it shares with the
# renderer.
set_target_properties(kfp_client PROPERTIES
  OUTPUT_NAME kest-font-preview-client EXPORT_NAME client)
set_target_properties(kfp_protocol PROPERTIES
  OUTPUT_NAME kest-font-preview-protocol EXPORT_NAME protocol)
target_include_directories(kfp_client INTERFACE
  "$<INSTALL_INTERFACE:${KFP_HEADER_INSTALL_DIR}>")
install(TARGETS kfp_client kfp_protocol EXPORT KestFontPreviewTargets
  ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}")
install(FILES
  client/client_frame.h
  client/death_policy.h
  client/font_batches.h
  client/installed_font_list.h
  client/json_value.h
  client/kfp_client.h
  client/outcome.h
  client/preview_service.h
  client/renderer_process.h
  client/replies.h
  client/requests.h
  DESTINATION "${KFP_HEADER_INSTALL_DIR}")
install(EXPORT KestFontPreviewTargets NAMESPACE KestFontPreview::
  DESTINATION "${KFP_CMAKE_INSTALL_DIR}")

configure_package_config_file(packaging/KestFontPreviewConfig.cmake.in
  "${CMAKE_CURRENT_BINARY_DIR}/KestFontPreviewConfig.cmake"
  INSTALL_DESTINATION "${KFP_CMAKE_INSTALL_DIR}"
  PATH_VARS KFP_RENDERER_INSTALL_DIR)
write_basic_package_version_file("${CMAKE_CURRENT_BINARY_DIR}/KestFontPreviewConfigVersion.cmake"
  VERSION ${KFP_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES
  "${CMAKE_CURRENT_BINARY_DIR}/KestFontPreviewConfig.cmake"
  "${CMAKE_CURRENT_BINARY_DIR}/KestFontPreviewConfigVersion.cmake"
  DESTINATION "${KFP_CMAKE_INSTALL_DIR}")

# The pkg-config file finds the prefix from its own directory, as the CMake package does.
file(RELATIVE_PATH KFP_PC_TO_PREFIX "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
string(REGEX REPLACE "/$" "" KFP_PC_TO_PREFIX "${KFP_PC_TO_PREFIX}")
configure_file(packaging/kest-font-preview-client.pc.in
  "${CMAKE_CURRENT_BINARY_DIR}/kest-font-preview-client.pc" @ONLY)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/kest-font-preview-client.pc"
  DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
