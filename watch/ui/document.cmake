# watchui_doc: the document (host list, process table, merge, Host commands), the process
# grid view with its model and sort header.
if(TARGET watchengine)
  add_library(watchui_doc STATIC
    ${CMAKE_CURRENT_LIST_DIR}/psvigil_doc.cpp
    ${CMAKE_CURRENT_LIST_DIR}/psvigil_doc.h
    ${CMAKE_CURRENT_LIST_DIR}/process_table_model.cpp
    ${CMAKE_CURRENT_LIST_DIR}/process_table_model.h
    ${CMAKE_CURRENT_LIST_DIR}/sort_header.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sort_header.h
    ${CMAKE_CURRENT_LIST_DIR}/psvigil_view.cpp
    ${CMAKE_CURRENT_LIST_DIR}/psvigil_view.h
  )
  set_target_properties(watchui_doc PROPERTIES AUTOMOC ON AUTORCC ON AUTOUIC OFF)
  target_link_libraries(watchui_doc PUBLIC watchfiles watchengine Qt6::Core Qt6::Gui Qt6::Widgets)
  if(TARGET watchui_dialogs)
    target_link_libraries(watchui_doc PUBLIC watchui_dialogs)
    target_compile_definitions(watchui_doc PRIVATE VIGIL_HAVE_WATCH_DIALOG=1)
  endif()
  vigil_warnings(watchui_doc)
endif()
