# Tests of the main frame, tray icon, notify sink and start-up pieces (included from
# tests/watch/ui/CMakeLists.txt), and the screenshot program of the main window.
if(TARGET watchui_frame AND TARGET Qt6::Test)
  add_executable(watchui_frame_test
    ${CMAKE_CURRENT_LIST_DIR}/frame_test_main.cpp
    ${CMAKE_CURRENT_LIST_DIR}/frame_test_support.h
    ${CMAKE_CURRENT_LIST_DIR}/main_frame_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tray_icon_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/qt_notify_sink_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/startup_test.cpp
  )
  set_target_properties(watchui_frame_test PROPERTIES AUTOMOC ON AUTORCC ON AUTOUIC OFF)
  target_link_libraries(watchui_frame_test PRIVATE watchui_frame Qt6::Test GTest::gtest)
  vigil_warnings(watchui_frame_test)
  gtest_discover_tests(watchui_frame_test TEST_FILTER "-QtNotifySink.*"
    PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen LABELS ui
    DISCOVERY_TIMEOUT 60)
  # The sink is where the worker thread meets the user interface. One ctest entry, because
  # discovered tests cannot carry two labels.
  add_test(NAME QtNotifySink COMMAND watchui_frame_test --gtest_filter=QtNotifySink.*)
  set_tests_properties(QtNotifySink PROPERTIES
    ENVIRONMENT QT_QPA_PLATFORM=offscreen LABELS "ui;threads")
endif()

if(TARGET watchui_app AND TARGET Qt6::Test)
  add_executable(watchui_app_test
    ${CMAKE_CURRENT_LIST_DIR}/frame_test_main.cpp
    ${CMAKE_CURRENT_LIST_DIR}/frame_test_support.h
    ${CMAKE_CURRENT_LIST_DIR}/psvigil_app_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/command_line_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/lanvex_registration_test.cpp
  )
  set_target_properties(watchui_app_test PROPERTIES AUTOMOC ON AUTORCC ON AUTOUIC OFF)
  target_link_libraries(watchui_app_test PRIVATE watchui_app Qt6::Test GTest::gtest)
  vigil_warnings(watchui_app_test)
  # The registration fallback is tried on the Lanvex this build makes.
  if(TARGET lanvex)
    add_dependencies(watchui_app_test lanvex)
    target_compile_definitions(watchui_app_test PRIVATE VIGIL_TEST_LANVEX="$<TARGET_FILE:lanvex>")
  endif()
  gtest_discover_tests(watchui_app_test
    PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen LABELS ui
    DISCOVERY_TIMEOUT 60)

  # Not a test: run it under Xvfb to get a picture of the main window with a watch log open.
  add_executable(frame_screenshot ${CMAKE_CURRENT_LIST_DIR}/frame_screenshot.cpp)
  set_target_properties(frame_screenshot PROPERTIES AUTOMOC ON AUTORCC ON AUTOUIC OFF)
  target_link_libraries(frame_screenshot PRIVATE watchui_app Qt6::Test)
  vigil_warnings(frame_screenshot)
endif()
