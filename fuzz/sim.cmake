# The simulated mouse's decoder and carriage reassembly take whatever a host sends.
if(TARGET brevak_sim)
  brevak_add_fuzz(sim_decoder SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/sim_decoder_fuzz.cpp LIBS brevak_sim)
endif()
