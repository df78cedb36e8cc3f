include_guard(GLOBAL)

# vantrel_add_wine_test(TARGET): a CTest entry that runs a Windows test executable under Wine, in
# a Wine prefix of its own inside the build tree and with a display (run_with_xvfb.sh starts Xvfb
# when DISPLAY is unset).
function(vantrel_add_wine_test target)
    add_test(NAME ${target}
        COMMAND sh ${PROJECT_SOURCE_DIR}/tests/e2e/run_with_xvfb.sh
                ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${target}>)
    set_tests_properties(${target} PROPERTIES
        ENVIRONMENT "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix;WINEDEBUG=-all"
        TIMEOUT 300)
endfunction()
