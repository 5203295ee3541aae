# kfp-preview and the libraries its tests and benchmarks share, for either system: the sample texts
# and installed-font listing; the pages (options, page names and PNG output through its own writer
# over zlib).
find_package(ZLIB REQUIRED)
add_library(kfp_preview_samples STATIC
  tools/preview/installed_fonts.cpp
  tools/preview/sample_text.cpp)
target_include_directories(kfp_preview_samples PUBLIC tools)
target_link_libraries(kfp_preview_samples PUBLIC kfp_client)
add_library(kfp_preview_pages STATIC
  tools/preview/contact_sheet.cpp
  tools/preview/options.cpp
  tools/preview/png_writer.cpp)
target_include_directories(kfp_preview_pages PUBLIC tools)
target_link_libraries(kfp_preview_pages PUBLIC kfp_client ZLIB::ZLIB)
add_executable(kfp-preview
  tools/preview/main.cpp
  tools/preview/progress_bar.cpp)
target_link_libraries(kfp-preview PRIVATE kfp_preview_pages kfp_preview_samples kfp_client)
