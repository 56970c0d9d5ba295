# The hidraw backend: report descriptor parser, interfaces of a node, device reads and writes,
# hotplug tracking and its thread. Recorded descriptors live in data/.
if(TARGET zentrix_hidraw)
  brevak_add_test(zentrix_report_descriptor_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/report_descriptor_test.cpp
    LIBS zentrix_hidraw)
  target_compile_definitions(zentrix_report_descriptor_tests PRIVATE
    ZENTRIX_TEST_DATA="${CMAKE_CURRENT_LIST_DIR}/data")

  brevak_add_test(zentrix_hidraw_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/hidraw_backend_test.cpp
    LIBS zentrix_hidraw
    LABELS "unit;threads")
  target_compile_definitions(zentrix_hidraw_tests PRIVATE
    ZENTRIX_TEST_DATA="${CMAKE_CURRENT_LIST_DIR}/data")
endif()
