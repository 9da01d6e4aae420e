# What the cross build for the unit makes (included by CMakeLists.txt when cross compiling,
# see cmake/armhf-toolchain.cmake and tools/build-unit.sh): the controller, the my_temp
# helper, the screen pictures and the test program that runs under qemu-user. The simulated
# unit, its web panel, the other tools and the benchmarks stay programs of the build machine.

add_executable(my_temp tools/my_temp.cpp)
target_link_libraries(my_temp PRIVATE ampcore)

# The picture generator is built for the board too and run through the emulator
# (CMAKE_CROSSCOMPILING_EMULATOR is put in front of it by the custom command).
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  message(FATAL_ERROR "the cross build draws its pictures through qemu-user: install qemu-user-static")
endif()
add_executable(mkpictures tools/mkpictures.cpp)
target_link_libraries(mkpictures PRIVATE ampcore)
include(tools/pictures.cmake)

# The tests of the code whose results depend on the word size, alignment, byte order and the
# file interfaces of the C library: CRC, command texts, reply decoder, setup file, settings
# writes, framebuffer, tune word, and the wire formats and register layout shared with the
# board and the simulated unit. The settings tests build their roots with the
# simulated unit's root builder, which is plain file code and builds for the board as well.
# The build machine's test run starts it through qemu-user (cmake/unit_tests.cmake).
option(AMPCTL_UNIT_TESTS "Build the test program of the unit build" ON)
if(AMPCTL_UNIT_TESTS)
  find_package(GTest REQUIRED)
  add_executable(ampctl_unit_tests
    tests/amplifier/commands_test.cpp
    tests/amplifier/crc8_test.cpp
    tests/amplifier/decoder_test.cpp
    tests/core/setup_test.cpp
    tests/display/framebuffer_test.cpp
    tests/platform/settings_file_test.cpp
    tests/platform/word_size_test.cpp
    tests/tuner/tune_word_test.cpp
    sim/root_builder.cpp
    sim/front_panel.cpp
    sim/sound_card.cpp)
  target_include_directories(ampctl_unit_tests PRIVATE tests sim)
  target_link_libraries(ampctl_unit_tests PRIVATE ampcore GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(ampctl_unit_tests PRIVATE
    AMPCTL_BUILD_DIR="${CMAKE_BINARY_DIR}" AMPCTL_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
endif()
