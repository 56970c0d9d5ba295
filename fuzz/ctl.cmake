# brevak-ctl's requests come over a socket any process of the user can reach.
if(TARGET brevak_ctl)
  brevak_add_fuzz(ctl_request SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/ctl_request_fuzz.cpp LIBS brevak_ctl)
endif()
