# The Windows build, included by CMakeLists.txt under the mingw-w64 toolchain: the portable core
# with the Windows backend, the renderer .exe and its test-switch twin, and the unit tests that run
# on the fake backend. No pkg-config lookups and no client library: those are the Linux build's.

# The platform libraries the backend and the process entry call into.
set(KFP_WINDOWS_SYSTEM_LIBS dwrite d2d1 windowscodecs ole32 gdi32 user32 uuid)

# The backend: one library for the product and one compiled with KFP_TEST_HOOKS, which lets the
# backend read its test switches from the environment. The product reads no configuration.
file(GLOB KFP_WINDOWS_SOURCES CONFIGURE_DEPENDS src/platform/windows/*.cpp)
if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/windows/windows_backend.h)
  foreach(variant IN ITEMS product testhooks)
    if(variant STREQUAL "product")
      set(lib kfp_windows)
      set(exe kest-font-preview-renderer)
    else()
      set(lib kfp_windows_testhooks)
      set(exe kest-font-preview-renderer-testhooks)
    endif()
    add_library(${lib} STATIC ${KFP_WINDOWS_SOURCES})
    target_link_libraries(${lib} PUBLIC kfp_core ${KFP_WINDOWS_SYSTEM_LIBS})
    add_executable(${exe} src/host/main_windows.cpp)
    target_link_libraries(${exe} PRIVATE kfp_core ${lib})
    if(variant STREQUAL "testhooks")
      target_compile_definitions(${lib} PUBLIC KFP_TEST_HOOKS)
    endif()
  endforeach()
endif()

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
# backend's tests and the client's stay in the Linux build.
file(GLOB KFP_UNIT_TESTS CONFIGURE_DEPENDS tests/unit/*_test.cpp)
foreach(src ${KFP_UNIT_TESTS})
  get_filename_component(name ${src} NAME_WE)
  if(name MATCHES "^(linux|ink|client)_")
    continue()
  endif()
  add_executable(unit_${name} ${src})
  target_link_libraries(unit_${name} PRIVATE kfp_test_fakes GTest::gtest_main GTest::gmock)
  add_test(NAME windows.unit.${name} COMMAND unit_${name})
endforeach()

# Windows-only test programs (the backend's contracts, the process entry seen from a Windows host),
# one each, on the test-switch build of the backend; the renderer .exe files are built beside them.
if(TARGET kfp_windows_testhooks)
  file(GLOB KFP_WINDOWS_TESTS CONFIGURE_DEPENDS tests/windows/*_test.cpp)
  foreach(src ${KFP_WINDOWS_TESTS})
    get_filename_component(name ${src} NAME_WE)
    add_executable(windows_${name} ${src})
    target_link_libraries(windows_${name} PRIVATE kfp_windows_testhooks kfp_test_fakes
                          GTest::gtest_main GTest::gmock)
    add_dependencies(windows_${name} kest-font-preview-renderer kest-font-preview-renderer-testhooks)
    add_test(NAME windows.${name} COMMAND windows_${name})
  endforeach()
endif()
