# The Bluetooth transport's own pieces: identity, value packing, and life without a bus.
brevak_add_test(ble_transport_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ble_transport_test.cpp
  LIBS brevak_protocol brevak_platform
  LABELS "unit;threads")
brevak_add_test(bluez_mirror_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/bluez_mirror_test.cpp
  LIBS brevak_protocol)
