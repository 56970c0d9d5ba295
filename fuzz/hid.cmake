# Report descriptors of the hidraw backend.
if(TARGET zentrix_hidraw)
  brevak_add_fuzz(report_descriptor SOURCES report_descriptor_fuzz.cpp LIBS zentrix_hidraw)
endif()
