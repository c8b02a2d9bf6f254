# The Host Options sheet and the Watch dialog (included from watch/ui/CMakeLists.txt).
add_library(watchui_dialogs STATIC
  ${CMAKE_CURRENT_LIST_DIR}/dialog_integer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/record_text_edit.cpp
  ${CMAKE_CURRENT_LIST_DIR}/options_pages.cpp
  ${CMAKE_CURRENT_LIST_DIR}/options_sheet.cpp
  ${CMAKE_CURRENT_LIST_DIR}/host_list_dialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/record_text_edit.h
  ${CMAKE_CURRENT_LIST_DIR}/options_pages.h
  ${CMAKE_CURRENT_LIST_DIR}/options_sheet.h
  ${CMAKE_CURRENT_LIST_DIR}/host_list_dialog.h
)
set_target_properties(watchui_dialogs PROPERTIES AUTOMOC ON AUTORCC ON AUTOUIC OFF)
target_link_libraries(watchui_dialogs PUBLIC watchcore platform_ui Qt6::Core Qt6::Gui Qt6::Widgets)
vigil_warnings(watchui_dialogs)
