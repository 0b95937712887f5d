# Built on Linux, the Windows tests run under Wine: wine-test.sh runs each one, and reads from
# wine.env the build's Wine prefix, the directories of the libraries, and where COM1 and COM2 are.
if(CMAKE_CROSSCOMPILING AND CMAKE_HOST_UNIX AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
    set(MORVANE_WINE_ENV ${PROJECT_BINARY_DIR}/wine.env)
    list(JOIN MORVANE_MINGW_RUNTIME_DIRS " " runtimeDirs)
    file(GENERATE OUTPUT ${MORVANE_WINE_ENV} CONTENT "\
WINEPREFIX=${PROJECT_BINARY_DIR}/wine
libraries=($<TARGET_FILE_DIR:Qt6::Core> $<TARGET_FILE_DIR:mosquitto::mosquitto> ${runtimeDirs})
comPorts=${PROJECT_BINARY_DIR}/com-ports
")
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-test.sh ${MORVANE_WINE_ENV})
endif()
