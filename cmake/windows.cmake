# The Windows build, included by CMakeLists.txt under the mingw-w64 toolchain: the portable core
# with the Windows backend, the renderer .exe and its test-switch twin, the host library on its
# Windows process code, the preview tool, and the tests. No pkg-config lookups: those are the Linux
# build's.

# The platform libraries the backend and the process entry call into.
set(KFP_WINDOWS_SYSTEM_LIBS dwrite d2d1 windowscodecs ole32 gdi32 user32 uuid psapi ntdll)

# The backend, compiled once; only its test switches differ between the product and the
# test-switch build (KFP_TEST_HOOKS lets them be read from the environment; the product reads no
# configuration), so only that file is compiled twice.
add_library(kfp_windows_common OBJECT
  src/platform/windows/backend.cpp
  src/platform/windows/confinement.cpp
  src/platform/windows/font_collection.cpp
  src/platform/windows/font_set.cpp
  src/platform/windows/gdi.cpp
  src/platform/windows/graphics.cpp
  src/platform/windows/installed_fonts.cpp
  src/platform/windows/localized_strings.cpp
  src/platform/windows/process_memory.cpp
  src/platform/windows/text_engine.cpp
  src/platform/windows/text_format.cpp
  src/platform/windows/text_layout.cpp)
target_link_libraries(kfp_windows_common PUBLIC kfp_core)

add_library(kfp_windows STATIC src/platform/windows/test_hooks.cpp)
add_library(kfp_windows_hooked STATIC src/platform/windows/test_hooks.cpp)
target_compile_definitions(kfp_windows_hooked PRIVATE KFP_TEST_HOOKS)
foreach(lib IN ITEMS kfp_windows kfp_windows_hooked)
  target_link_libraries(${lib} PUBLIC kfp_windows_common kfp_core ${KFP_WINDOWS_SYSTEM_LIBS})
endforeach()

# The process entry, with the standard handles as a host may hand them over.
add_executable(kest-font-preview-renderer src/host/main_windows.cpp)
target_link_libraries(kest-font-preview-renderer PRIVATE kfp_core kfp_windows)
add_executable(kest-font-preview-renderer-testhooks src/host/main_windows.cpp)
target_link_libraries(kest-font-preview-renderer-testhooks PRIVATE kfp_core kfp_windows_hooked)

include(cmake/host_library.cmake)

# The preview tool, its PNG writer on mingw-w64's zlib linked in, so that the .exe needs no DLL
# beside it. It finds the renderer .exe beside itself and takes its arguments as UTF-16 (wmain).
set(ZLIB_USE_STATIC_LIBS ON)
include(cmake/preview_tool.cmake)
target_link_options(kfp-preview PRIVATE -municode)

# GoogleTest from the distribution's sources, built for Windows. It is not our code: its warnings
# are not ours to fail on.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(target IN ITEMS gtest gtest_main gmock gmock_main)
  target_compile_options(${target} PRIVATE -w)
endforeach()

enable_testing()
add_library(kfp_test_fakes STATIC tests/support/fake_backend.cpp tests/support/fake_gdi.cpp)
target_include_directories(kfp_test_fakes PUBLIC tests)
target_link_libraries(kfp_test_fakes PUBLIC kfp_core GTest::gtest)

# The core's unit tests, on the Windows C runtime (16-bit wchar_t, 32-bit long), and the PNG
# writer's (binary mode matters here). The Linux backend's tests stay in the Linux build.
foreach(name ${KFP_CORE_UNIT_TESTS} png_writer_test)
  add_executable(unit_${name} tests/unit/${name}.cpp)
  target_link_libraries(unit_${name} PRIVATE kfp_test_fakes GTest::gtest_main GTest::gmock)
  add_test(NAME windows.unit.${name} COMMAND unit_${name})
  set_tests_properties(windows.unit.${name} PROPERTIES TIMEOUT 120)
endforeach()
target_link_libraries(unit_png_writer_test PRIVATE kfp_preview_pages)

# Windows-only test programs (the backend's contracts; the process entry, its standard handles and
# its confinement seen from a Windows host), one per file, on the test-switch build of the backend,
# with a main that enters the multithreaded apartment as the renderer does. The Direct2D program
# starts its device once for all its cases. Cases that need what Wine 8 lacks skip themselves
# there, so the programs run on Windows as they are. The renderer .exe files are built beside them:
# the process-level tests start the product .exe.
add_library(kfp_windows_test_main STATIC tests/windows/windows_test_main.cpp)
target_include_directories(kfp_windows_test_main PUBLIC tests)
target_link_libraries(kfp_windows_test_main PUBLIC kfp_windows_hooked GTest::gtest GTest::gmock)
foreach(file
    confinement_test process_entry_test standard_handles_test windows_backend_test
    windows_com_ptr_test windows_font_set_test windows_gdi_test windows_graphics_test
    windows_text_layout_test)
  string(REGEX REPLACE "^windows_" "" name ${file})
  add_executable(windows_${name} tests/windows/${file}.cpp)
  target_link_libraries(windows_${name} PRIVATE kfp_windows_test_main)
  add_dependencies(windows_${name} kest-font-preview-renderer kest-font-preview-renderer-testhooks)
  add_test(NAME windows.${name} COMMAND windows_${name})
  # A child that Wine leaves holding a pipe would otherwise stall the whole run.
  set_tests_properties(windows.${name} PROPERTIES TIMEOUT 120)
endforeach()

# The host library's process code under a child that behaves exactly as told, and the preview
# service against the real renderer .exe: the Linux build's own test sources and fake child,
# built here on the Windows process code.
add_executable(process_child tests/support/process_child.cpp)
target_link_options(process_child PRIVATE -municode)
add_executable(process_host tests/windows/process_host.cpp)
target_link_libraries(process_host PRIVATE kfp_client)
add_executable(windows_client_process_test tests/unit/client_process_test.cpp)
add_executable(windows_preview_service_test tests/e2e/preview_service_test.cpp)
foreach(file client_process_test preview_service_test)
  target_link_libraries(windows_${file} PRIVATE kfp_client_testing kfp_windows_test_main)
  add_dependencies(windows_${file} process_child process_host kest-font-preview-renderer)
  add_test(NAME windows.${file} COMMAND windows_${file})
  set_tests_properties(windows.${file} PROPERTIES TIMEOUT 180)
endforeach()
