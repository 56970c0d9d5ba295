# Real mice: hidapi's hidraw backend for the nodes, libudev for their arrival and removal.
pkg_check_modules(HIDAPI REQUIRED IMPORTED_TARGET hidapi-hidraw)
pkg_check_modules(LIBUDEV REQUIRED IMPORTED_TARGET libudev)

add_library(zentrix_hidraw STATIC
  ${CMAKE_CURRENT_LIST_DIR}/report_descriptor.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hidraw_backend.cpp
  ${CMAKE_CURRENT_LIST_DIR}/udev_monitor.cpp
)
set_target_properties(zentrix_hidraw PROPERTIES
  POSITION_INDEPENDENT_CODE ON
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)
target_link_libraries(zentrix_hidraw
  PUBLIC brevak_platform
  PRIVATE PkgConfig::HIDAPI PkgConfig::LIBUDEV)
