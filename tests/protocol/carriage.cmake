# Carriage and driver binding against the four zentrix builds, loaded by file name, and the
# simulated mouse in the same process.
if(TARGET brevak_sim AND TARGET zentrix_8k)
  brevak_add_test(carriage_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/carriage_test.cpp
    LIBS brevak_protocol brevak_sim brevak_platform
    LABELS "unit;threads")
  add_dependencies(carriage_tests zentrix_1 zentrix_2 zentrix_4k zentrix_8k)

  # Builds that only record which of their exports are called: one with all twelve, one
  # without WriteUSB.
  set(recording_driver_dir ${CMAKE_BINARY_DIR}/tests/drivers)
  foreach(variant full no_write)
    add_library(recording_driver_${variant} SHARED ${CMAKE_CURRENT_LIST_DIR}/recording_driver.cpp)
    target_compile_definitions(recording_driver_${variant} PRIVATE ZENTRIX_EXPORTS)
    target_link_libraries(recording_driver_${variant} PRIVATE brevak_platform)
    set_target_properties(recording_driver_${variant} PROPERTIES
      PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${recording_driver_dir} CXX_VISIBILITY_PRESET hidden)
  endforeach()
  target_compile_definitions(recording_driver_no_write PRIVATE RECORDING_DRIVER_WITHOUT_WRITE)

  brevak_add_test(driver_binding_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/driver_binding_test.cpp
    LIBS brevak_protocol brevak_sim brevak_platform
    LABELS "unit;threads")
  target_compile_definitions(driver_binding_tests PRIVATE BREVAK_TEST_DRIVER_DIR="${recording_driver_dir}/")
  add_dependencies(driver_binding_tests zentrix_1 zentrix_2 zentrix_4k zentrix_8k
    recording_driver_full recording_driver_no_write)
endif()
