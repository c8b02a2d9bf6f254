# Tests of the cache and the file operation with its dialog (included from
# tests/lanvex/ftp/CMakeLists.txt).
if(TARGET lanvex_ftp)
  add_executable(lanvex_storage_tests
    ${CMAKE_CURRENT_LIST_DIR}/cache_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/shell_file_execute_test.cpp
  )
  if(TARGET platform_ui AND TARGET Qt6::Test)
    target_sources(lanvex_storage_tests PRIVATE
      ${CMAKE_CURRENT_LIST_DIR}/storage_test_main.cpp
      ${CMAKE_CURRENT_LIST_DIR}/shell_file_test.cpp
    )
    target_link_libraries(lanvex_storage_tests PRIVATE Qt6::Test GTest::gtest)
  else()
    target_link_libraries(lanvex_storage_tests PRIVATE GTest::gtest_main)
  endif()
  target_link_libraries(lanvex_storage_tests PRIVATE lanvex_ftp)
  vigil_warnings(lanvex_storage_tests)
  gtest_discover_tests(lanvex_storage_tests
    PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen LABELS ui TIMEOUT 60
    DISCOVERY_TIMEOUT 60)
endif()

# The module as clients load it: registration, creation by ProgID, dispatch.
if(TARGET lanvex)
  add_executable(lanvex_storage_module_tests ${CMAKE_CURRENT_LIST_DIR}/storage_module_test.cpp
    ${CMAKE_SOURCE_DIR}/tests/platform/com/test_hive.cpp)
  target_link_libraries(lanvex_storage_module_tests PRIVATE comrt lanvex_test_peer
                        ${CMAKE_DL_LIBS} GTest::gtest_main)
  target_compile_definitions(lanvex_storage_module_tests PRIVATE
    LANVEX_MODULE_PATH="$<TARGET_FILE:lanvex>")
  add_dependencies(lanvex_storage_module_tests lanvex)
  if(TARGET comcall)
    target_compile_definitions(lanvex_storage_module_tests PRIVATE
      COMCALL_PATH="$<TARGET_FILE:comcall>")
    add_dependencies(lanvex_storage_module_tests comcall)
  endif()
  vigil_warnings(lanvex_storage_module_tests)
  gtest_discover_tests(lanvex_storage_module_tests PROPERTIES TIMEOUT 60)
endif()
