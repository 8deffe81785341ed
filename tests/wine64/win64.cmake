# Tests that must also hold on 64-bit Windows run a second time in a 64-bit
# Wine prefix of the build tree (tests/wine64/run.sh makes it on first use).
if(WIN32 AND TARGET uninstall_entry_win_test)
  add_test(NAME uninstall_entry_win64_test
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/run.sh ${CMAKE_BINARY_DIR}/wineprefix64
                   $<TARGET_FILE:uninstall_entry_win_test>)
  # Making the prefix takes half a minute the first time.
  set_tests_properties(uninstall_entry_win64_test PROPERTIES TIMEOUT 600)
endif()
# The uninstaller finds the entry the 32-bit installer wrote on 64-bit Windows.
if(WIN32 AND TARGET e2e_uninstall_test)
  add_test(NAME e2e_uninstall_win64_test
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/run.sh ${CMAKE_BINARY_DIR}/wineprefix64
                   $<TARGET_FILE:e2e_uninstall_test>)
  # The prefix's own wine server is stopped at the end of each run.
  set_tests_properties(e2e_uninstall_win64_test PROPERTIES TIMEOUT 600 RUN_SERIAL TRUE)
endif()
