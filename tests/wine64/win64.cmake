# Tests that must also hold on 64-bit Windows run a second time in a 64-bit
# Wine prefix of the build tree (tests/wine64/run.sh makes it on first use).
if(WIN32 AND TARGET uninstall_entry_win_test)
  add_test(NAME uninstall_entry_win64_test
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/run.sh ${CMAKE_BINARY_DIR}/wineprefix64
                   $<TARGET_FILE:uninstall_entry_win_test>)
  # Making the prefix takes half a minute the first time.
  set_tests_properties(uninstall_entry_win64_test PROPERTIES TIMEOUT 600)
endif()
