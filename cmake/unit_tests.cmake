# The unit's armhf build (tools/build-unit.sh, folder AMPCTL_UNIT_BUILD) tested on this
# machine under qemu-user, label "armhf": its test program, its controller started on the
# simulated unit (a program of this machine, tests/armhf/) and its package's contents.
find_program(QEMU_ARM qemu-arm-static REQUIRED)

add_test(NAME armhf_unit_tests COMMAND ${QEMU_ARM} ${AMPCTL_UNIT_BUILD}/ampctl_unit_tests)
set_tests_properties(armhf_unit_tests PROPERTIES LABELS armhf TIMEOUT 600)

file(GLOB ARMHF_E2E_TESTS CONFIGURE_DEPENDS tests/armhf/*.cpp)
add_executable(armhf_e2e_tests ${ARMHF_E2E_TESTS})
target_include_directories(armhf_e2e_tests PRIVATE tests)
target_link_libraries(armhf_e2e_tests PRIVATE ampsimlib GTest::gtest GTest::gtest_main)
target_compile_definitions(armhf_e2e_tests PRIVATE
  QEMU_ARM="${QEMU_ARM}" AMPCTL_UNIT_BUILD="${AMPCTL_UNIT_BUILD}" AMPCTL_BUILD_DIR="${CMAKE_BINARY_DIR}")
gtest_discover_tests(armhf_e2e_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS armhf TIMEOUT 300)

add_test(NAME armhf_package COMMAND sh ${CMAKE_SOURCE_DIR}/tests/armhf/package_test.sh ${AMPCTL_UNIT_BUILD})
set_tests_properties(armhf_package PROPERTIES LABELS armhf TIMEOUT 300)
