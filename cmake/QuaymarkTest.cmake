# quaymark_add_test(NAME <name> SOURCES <files...> LIBRARIES <targets...>
#                   [LABELS <labels...>] [ENVIRONMENT <VAR=value...>])
# Builds one GoogleTest executable and registers each of its tests with CTest.
include(GoogleTest)

function(quaymark_add_test)
  cmake_parse_arguments(ARG "" "NAME" "SOURCES;LIBRARIES;LABELS;ENVIRONMENT" ${ARGN})
  add_executable(${ARG_NAME} ${ARG_SOURCES})
  target_link_libraries(${ARG_NAME} PRIVATE ${ARG_LIBRARIES} GTest::gmock GTest::gtest_main)
  set(props "")
  if(ARG_LABELS)
    list(APPEND props LABELS "${ARG_LABELS}")
  endif()
  if(ARG_ENVIRONMENT)
    list(APPEND props ENVIRONMENT "${ARG_ENVIRONMENT}")
  endif()
  # Parameter values stay out of the CTest names: printed structs make them unreadable.
  gtest_discover_tests(${ARG_NAME} DISCOVERY_TIMEOUT 30 NO_PRETTY_VALUES PROPERTIES ${props})
endfunction()

# quaymark_add_gui_test(NAME <name> SOURCES <files...> LIBRARIES <targets...>
#                       [ENVIRONMENT <VAR=value...>])
# Builds one QTest executable and registers it with CTest under the labels "gui" and "unit".
# It runs on Qt's offscreen platform, so it needs no display.
function(quaymark_add_gui_test)
  cmake_parse_arguments(ARG "" "NAME" "SOURCES;LIBRARIES;ENVIRONMENT" ${ARGN})
  add_executable(${ARG_NAME} ${ARG_SOURCES})
  set_target_properties(${ARG_NAME} PROPERTIES AUTOMOC ON)
  target_link_libraries(${ARG_NAME} PRIVATE ${ARG_LIBRARIES} Qt6::Test)
  add_test(NAME ${ARG_NAME} COMMAND ${ARG_NAME})
  set_tests_properties(${ARG_NAME} PROPERTIES LABELS "gui;unit"
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;${ARG_ENVIRONMENT}")
endfunction()
