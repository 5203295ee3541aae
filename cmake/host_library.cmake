# The host library, for either system: the low-level client and the preview service. Its process
# code is the only OS-specific part, one file per OS; it needs the codec, nothing of the renderer.
find_package(Threads REQUIRED)
if(WIN32)
  set(KFP_CLIENT_PROCESS_SOURCE client/renderer_process_windows.cpp)
else()
  set(KFP_CLIENT_PROCESS_SOURCE client/renderer_process_posix.cpp)
endif()
add_library(kfp_client STATIC
  client/client_frame.cpp
  client/death_policy.cpp
  client/font_batches.cpp
  client/installed_font_list.cpp
  client/json_text.cpp
  client/json_value.cpp
  client/kfp_client.cpp
  client/outcome.cpp
  client/preview_service.cpp
  client/renderer_process.cpp
  ${KFP_CLIENT_PROCESS_SOURCE}
  client/renderer_session.cpp
  client/replies.cpp
  client/requests.cpp)
target_include_directories(kfp_client PUBLIC $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/client>)
target_link_libraries(kfp_client PRIVATE kfp_protocol PUBLIC Threads::Threads)

# Test-only reach into the host library; no product links it.
add_library(kfp_client_testing STATIC client/testing/client_testing.cpp)
target_link_libraries(kfp_client_testing PUBLIC kfp_client PRIVATE kfp_protocol)
