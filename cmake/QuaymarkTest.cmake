# quaymark_add_test(NAME <folder>_<kind>_tests LIBRARIES <targets...>
#                   [SOURCES <GoogleTest files...>] [QT_SOURCES <QTest files...>]
#                   [LABELS <labels...>] [ENVIRONMENT <VAR=value...>]
#                   [INTEGRATION <GoogleTest filter>])
# Builds one test program and registers its tests with CTest under LABELS: each GoogleTest
# case by itself, and each QTest class (named after its file) as one test on Qt's offscreen
# platform, so it needs no display. Cases matching INTEGRATION are labelled integration
# instead: they start a process or touch files where the rest of the program does not.
include(GoogleTest)

function(quaymark_add_test)
  cmake_parse_arguments(ARG "" "NAME;INTEGRATION"
    "SOURCES;QT_SOURCES;LIBRARIES;LABELS;ENVIRONMENT" ${ARGN})
  add_executable(${ARG_NAME} ${ARG_SOURCES} ${ARG_QT_SOURCES})
  target_link_libraries(${ARG_NAME} PRIVATE ${ARG_LIBRARIES} GTest::gmock)
  if(ARG_QT_SOURCES)
    quaymark_add_qt_test_classes()
  else()
    target_link_libraries(${ARG_NAME} PRIVATE GTest::gtest_main)
  endif()
  if(NOT ARG_SOURCES)
    return()
  endif()
  set(environment "")
  if(ARG_ENVIRONMENT)
    set(environment ENVIRONMENT "${ARG_ENVIRONMENT}")
  endif()
  set(filter "")
  if(ARG_INTEGRATION)
    gtest_discover_tests(${ARG_NAME} DISCOVERY_TIMEOUT 30 NO_PRETTY_VALUES
      TEST_FILTER "${ARG_INTEGRATION}" PROPERTIES LABELS integration ${environment})
    set(filter TEST_FILTER "-${ARG_INTEGRATION}")
  endif()
  # Parameter values stay out of the CTest names: printed structs make them unreadable.
  gtest_discover_tests(${ARG_NAME} DISCOVERY_TIMEOUT 30 NO_PRETTY_VALUES ${filter}
    PROPERTIES LABELS "${ARG_LABELS}" ${environment})
endfunction()

# Each QTest file keeps its QTEST_MAIN, compiled under another name; the program's own main
# runs the class named first on its command line, and otherwise the GoogleTest cases.
macro(quaymark_add_qt_test_classes)
  set_target_properties(${ARG_NAME} PROPERTIES AUTOMOC ON)
  target_link_libraries(${ARG_NAME} PRIVATE Qt6::Test)
  set(QT_TEST_DECLARATIONS "")
  set(QT_TEST_TABLE "")
  foreach(source IN LISTS ARG_QT_SOURCES)
    get_filename_component(class ${source} NAME_WE)
    set_source_files_properties(${source} PROPERTIES COMPILE_DEFINITIONS main=run${class})
    string(APPEND QT_TEST_DECLARATIONS "int run${class}(int argc, char** argv);\n")
    string(APPEND QT_TEST_TABLE "        {\"${class}\", &run${class}},\n")
    add_test(NAME ${class} COMMAND ${ARG_NAME} ${class})
    set_tests_properties(${class} PROPERTIES LABELS "${ARG_LABELS}"
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;${ARG_ENVIRONMENT}")
  endforeach()
  configure_file(${PROJECT_SOURCE_DIR}/cmake/QtTestMain.cpp.in ${ARG_NAME}_main.cpp @ONLY)
  target_sources(${ARG_NAME} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${ARG_NAME}_main.cpp)
endmacro()
