# Tests of the document, the process grid model and view (offscreen Qt).
if(TARGET watchui_doc AND TARGET Qt6::Test)
  add_executable(watchui_doc_tests
    ${CMAKE_CURRENT_LIST_DIR}/doc_test_main.cpp
    ${CMAKE_CURRENT_LIST_DIR}/doc_test_support.h
    ${CMAKE_CURRENT_LIST_DIR}/psvigil_doc_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/psvigil_view_test.cpp
  )
  set_target_properties(watchui_doc_tests PROPERTIES AUTOMOC ON AUTORCC ON AUTOUIC OFF)
  target_link_libraries(watchui_doc_tests PRIVATE watchui_doc Qt6::Test GTest::gtest)
  vigil_warnings(watchui_doc_tests)
  # The Host command tests start the engine's worker thread.
  gtest_discover_tests(watchui_doc_tests TEST_FILTER "HostCommands.*"
    PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen LABELS threads
    DISCOVERY_TIMEOUT 60)
  gtest_discover_tests(watchui_doc_tests TEST_FILTER "-HostCommands.*"
    PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen LABELS ui
    DISCOVERY_TIMEOUT 60)
endif()
