# The simulated mouse's socket as a HID backend (selected when ZENTRIX_SIM names the socket).
# Linked into every zentrix build; brevak-mousesim serves the same wire format (sim_wire.h).
add_library(zentrix_simclient STATIC ${CMAKE_CURRENT_LIST_DIR}/sim_socket_backend.cpp)
set_target_properties(zentrix_simclient PROPERTIES
  POSITION_INDEPENDENT_CODE ON
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)
target_link_libraries(zentrix_simclient PUBLIC brevak_platform)
