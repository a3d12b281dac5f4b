# The list of computers beside the remote name box, and its test. Kept apart
# from app/CMakeLists.txt until the peer box shows it (move it there then).
target_sources(app PRIVATE ${CMAKE_CURRENT_LIST_DIR}/ComputersView.cpp ${CMAKE_CURRENT_LIST_DIR}/ComputersView.h)
find_package(Qt6 REQUIRED COMPONENTS Test)
include(GoogleTest)
add_executable(computers_view_tests ${CMAKE_CURRENT_LIST_DIR}/tests/test_main.cpp ${CMAKE_CURRENT_LIST_DIR}/tests/computers_view_test.cpp)
target_link_libraries(computers_view_tests PRIVATE app Qt6::Test GTest::gtest)
gtest_discover_tests(computers_view_tests
  TEST_PREFIX "app."
  DISCOVERY_TIMEOUT 60
  PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen TIMEOUT 60)
# Developer tool for the README's picture of the list; built on request only.
add_executable(computers_screenshot EXCLUDE_FROM_ALL ${CMAKE_CURRENT_LIST_DIR}/tests/computers_screenshot.cpp)
target_link_libraries(computers_screenshot PRIVATE app)
