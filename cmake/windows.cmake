# The Windows build, included by CMakeLists.txt under the mingw-w64 toolchain: the portable core
# with the Windows backend, the renderer .exe and its test-switch twin, and the unit tests that run
# on the fake backend. No pkg-config lookups and no client library: those are the Linux build's.

# The platform libraries the backend and the process entry call into.
set(KFP_WINDOWS_SYSTEM_LIBS dwrite d2d1 windowscodecs ole32 gdi32 user32 uuid psapi)

# The backend, compiled once; only its test switches differ between the product and the
# test-switch build (KFP_TEST_HOOKS lets them be read from the environment; the product reads no
# configuration), so only that file is compiled twice.
file(GLOB KFP_WINDOWS_SOURCES CONFIGURE_DEPENDS src/platform/windows/*.cpp)
list(FILTER KFP_WINDOWS_SOURCES EXCLUDE REGEX "/test_hooks\\.cpp$")
add_library(kfp_windows_common OBJECT ${KFP_WINDOWS_SOURCES})
target_link_libraries(kfp_windows_common PUBLIC kfp_core)

add_library(kfp_windows STATIC src/platform/windows/test_hooks.cpp)
add_library(kfp_windows_hooked STATIC src/platform/windows/test_hooks.cpp)
target_compile_definitions(kfp_windows_hooked PRIVATE KFP_TEST_HOOKS)
foreach(lib IN ITEMS kfp_windows kfp_windows_hooked)
  target_link_libraries(${lib} PUBLIC kfp_windows_common kfp_core ${KFP_WINDOWS_SYSTEM_LIBS})
endforeach()

add_executable(kest-font-preview-renderer src/host/main_windows.cpp)
target_link_libraries(kest-font-preview-renderer PRIVATE kfp_core kfp_windows)
add_executable(kest-font-preview-renderer-testhooks src/host/main_windows.cpp)
target_link_libraries(kest-font-preview-renderer-testhooks PRIVATE kfp_core kfp_windows_hooked)

# GoogleTest from the distribution's sources, built for Windows. It is not our code: its warnings
# are not ours to fail on.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(target IN ITEMS gtest gtest_main gmock gmock_main)
  target_compile_options(${target} PRIVATE -w)
endforeach()

enable_testing()
file(GLOB KFP_TEST_FAKES CONFIGURE_DEPENDS tests/support/fake_*.cpp)
add_library(kfp_test_fakes STATIC ${KFP_TEST_FAKES})
target_include_directories(kfp_test_fakes PUBLIC tests)
target_link_libraries(kfp_test_fakes PUBLIC kfp_core GTest::gtest)

# The core's unit tests, on the Windows C runtime (16-bit wchar_t, 32-bit long). The Linux
# backend's tests and those of the client and the preview tool stay in the Linux build.
file(GLOB KFP_UNIT_TESTS CONFIGURE_DEPENDS tests/unit/*_test.cpp)
foreach(src ${KFP_UNIT_TESTS})
  get_filename_component(name ${src} NAME_WE)
  if(name MATCHES "^(linux|ink|client|preview)_")
    continue()
  endif()
  add_executable(unit_${name} ${src})
  target_link_libraries(unit_${name} PRIVATE kfp_test_fakes GTest::gtest_main GTest::gmock)
  add_test(NAME windows.unit.${name} COMMAND unit_${name})
  set_tests_properties(windows.unit.${name} PROPERTIES TIMEOUT 120)
endforeach()

# Windows-only test programs (the backend's contracts, the process entry seen from a Windows host),
# one per file, on the test-switch build of the backend, with a main that enters the multithreaded
# apartment as the renderer does. The Direct2D program starts its device once for all its cases.
# Cases that need what Wine 8 lacks skip themselves there, so the programs run on Windows as they
# are. The renderer .exe files are built beside them: the process entry test starts them.
add_library(kfp_windows_test_main STATIC tests/windows/windows_test_main.cpp)
target_include_directories(kfp_windows_test_main PUBLIC tests)
target_link_libraries(kfp_windows_test_main PUBLIC kfp_windows_hooked GTest::gtest GTest::gmock)
file(GLOB KFP_WINDOWS_TESTS CONFIGURE_DEPENDS tests/windows/*_test.cpp)
foreach(src ${KFP_WINDOWS_TESTS})
  get_filename_component(name ${src} NAME_WE)
  string(REGEX REPLACE "^windows_" "" name ${name})
  add_executable(windows_${name} ${src})
  target_link_libraries(windows_${name} PRIVATE kfp_windows_test_main)
  add_dependencies(windows_${name} kest-font-preview-renderer kest-font-preview-renderer-testhooks)
  add_test(NAME windows.${name} COMMAND windows_${name})
  # A child that Wine leaves holding a pipe would otherwise stall the whole run.
  set_tests_properties(windows.${name} PROPERTIES TIMEOUT 120)
endforeach()
