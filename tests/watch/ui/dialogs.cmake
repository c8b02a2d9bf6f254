# Tests of the Host Options sheet and the Watch dialog (included from tests/watch/ui/CMakeLists.txt).
if(TARGET watchui_dialogs AND TARGET Qt6::Test)
  add_executable(watchui_dialogs_test
    ${CMAKE_CURRENT_LIST_DIR}/dialog_test_main.cpp
    ${CMAKE_CURRENT_LIST_DIR}/dialog_test_driver.h
    ${CMAKE_CURRENT_LIST_DIR}/dialog_integer_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/options_sheet_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/host_list_dialog_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/dialog_screenshot_test.cpp
  )
  set_target_properties(watchui_dialogs_test PROPERTIES AUTOMOC ON AUTORCC ON AUTOUIC OFF)
  target_link_libraries(watchui_dialogs_test PRIVATE watchui_dialogs Qt6::Test GTest::gtest)
  vigil_warnings(watchui_dialogs_test)
  gtest_discover_tests(watchui_dialogs_test
    PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen LABELS ui
    DISCOVERY_TIMEOUT 60)
endif()
