# Device-layer test additions, included from the top CMakeLists.txt after qz_test(platform ...).
# Harmless without umockdev: then only the dependency of test_platform on qz418-sim is added.

# test_platform starts the built simulator.
if(TARGET test_platform AND TARGET qz418-sim)
  add_dependencies(test_platform qz418-sim)
endif()

# The Linux USB back end (libudev enumeration, libusb transfers, the udev monitor) against a
# synthesizer emulated by umockdev. The test program restarts itself with umockdev's preload
# library, so CTest runs it like any other.
pkg_check_modules(UMOCKDEV QUIET IMPORTED_TARGET umockdev-1.0)
find_library(UMOCKDEV_PRELOAD_LIBRARY NAMES libumockdev-preload.so.0)
file(GLOB qz_umockdev_test_srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/platform/umockdev/*.cpp)
if(UMOCKDEV_FOUND AND UMOCKDEV_PRELOAD_LIBRARY AND qz_umockdev_test_srcs AND TARGET qz_platform)
  add_executable(test_platform_umockdev ${qz_umockdev_test_srcs})
  target_include_directories(test_platform_umockdev PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_compile_options(test_platform_umockdev PRIVATE ${QZ_WARNINGS})
  target_link_libraries(test_platform_umockdev PRIVATE qz_platform PkgConfig::UMOCKDEV Qt6::Core Qt6::Test
    GTest::gtest)
  gtest_discover_tests(test_platform_umockdev DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60)
else()
  message(STATUS "umockdev not found: the Linux USB back end is not tested against an emulated device")
endif()
