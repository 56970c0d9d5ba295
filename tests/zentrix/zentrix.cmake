# The four builds loaded by file name against the in-process simulated mouse.
if(TARGET brevak_sim AND TARGET zentrix_4k)
  brevak_add_test(zentrix_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/zentrix_test.cpp
    LIBS brevak_sim brevak_platform
    LABELS "unit;threads")
  add_dependencies(zentrix_tests zentrix_1 zentrix_2 zentrix_4k zentrix_8k)
endif()

# Suspend and resume from a mocked logind on a private system bus.
if(TARGET brevak_sim AND TARGET zentrix_8k)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(TEST_LIBSYSTEMD REQUIRED IMPORTED_TARGET libsystemd)
  brevak_add_test(zentrix_suspend_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/zentrix_suspend_test.cpp
    LIBS brevak_sim brevak_platform PkgConfig::TEST_LIBSYSTEMD
    LABELS "dbus;threads")
  add_dependencies(zentrix_suspend_tests zentrix_8k)
endif()

# A build reaching brevak-mousesim through its socket, as the run command arranges it.
if(TARGET brevak-mousesim AND TARGET zentrix_1)
  brevak_add_test(zentrix_socket_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/zentrix_socket_test.cpp
    LIBS brevak_sim brevak_platform
    LABELS "e2e;threads")
  target_compile_definitions(zentrix_socket_tests PRIVATE BREVAK_MOUSESIM="$<TARGET_FILE:brevak-mousesim>")
  add_dependencies(zentrix_socket_tests zentrix_1 brevak-mousesim)
endif()
