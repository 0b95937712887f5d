# Tests of the Windows build only: the serial line on COM1, the installers, and the service.
set(MORVANE_TEST_LIBS modes facilities request)
morvane_tests(windows)
target_compile_definitions(tst_comport PRIVATE RELAY_EXECUTABLE="$<TARGET_FILE:morvane-relay>")
add_dependencies(tst_comport morvane-relay)

if(MORVANE_WINE_ENV)
    # Under Wine COM1 and COM2 are joined by a pseudo-terminal pair while tst_comport runs.
    foreach(step start stop)
        add_test(NAME com-ports-${step}
            COMMAND ${CMAKE_CURRENT_LIST_DIR}/com-ports.sh ${step} ${MORVANE_WINE_ENV})
    endforeach()
    set_tests_properties(com-ports-start PROPERTIES FIXTURES_SETUP com-ports)
    set_tests_properties(com-ports-stop PROPERTIES FIXTURES_CLEANUP com-ports)
    set_tests_properties(tst_comport PROPERTIES FIXTURES_REQUIRED com-ports)

    add_test(NAME installer
        COMMAND ${CMAKE_CURRENT_LIST_DIR}/check-installer.sh ${PROJECT_BINARY_DIR})
    set_tests_properties(installer PROPERTIES TIMEOUT 300)
    add_test(NAME service COMMAND ${CMAKE_CURRENT_LIST_DIR}/check-service.sh ${PROJECT_BINARY_DIR})
    set_tests_properties(service PROPERTIES TIMEOUT 300)
endif()
