# Layout and language files, read by the UI library's parser (without the rest of the library).
find_package(EXPAT)
if(TARGET brevak_platform AND TARGET EXPAT::EXPAT)
  brevak_add_fuzz(layout SOURCES layout_fuzz.cpp ${CMAKE_SOURCE_DIR}/ui/layout_node.cpp
                  LIBS brevak_platform EXPAT::EXPAT DEFINES BREVAK_RES_DIR="${CMAKE_SOURCE_DIR}/res" RUNS 5000)
endif()
