# Starts or stops the wineserver that the tests of a Windows build share:
#   cmake -DACTION=start|stop -DWINE=... -DWINESERVER=... -P wine-session.cmake
# with WINEPREFIX set. A wineserver that a test's own wine process started
# would inherit that test's output pipes and hold them open for seconds
# after the program exits, so one persistent server, detached from every
# test's output, serves them all.
if(ACTION STREQUAL "start")
    file(MAKE_DIRECTORY "$ENV{WINEPREFIX}")
    # This fails when a server for the prefix runs already, which serves as well.
    execute_process(COMMAND "${WINESERVER}" -p INPUT_FILE /dev/null OUTPUT_FILE /dev/null ERROR_FILE /dev/null)
    # The first run creates the prefix and reports on it: do that here, not
    # in a test whose standard error is checked. Wine's services outlive
    # wineboot, so they too get no pipe of ours to hold open.
    execute_process(COMMAND "${WINE}" wineboot --init INPUT_FILE /dev/null OUTPUT_FILE /dev/null ERROR_FILE /dev/null
                    COMMAND_ERROR_IS_FATAL ANY)
elseif(ACTION STREQUAL "stop")
    execute_process(COMMAND "${WINESERVER}" -k INPUT_FILE /dev/null OUTPUT_FILE /dev/null ERROR_FILE /dev/null)
else()
    message(FATAL_ERROR "ACTION must be start or stop")
endif()
