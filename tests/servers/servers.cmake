# The HTTP servers of the download tests, as the ctest fixture "http_servers":
# started on free ports of 127.0.0.1 before the first test that needs them and
# stopped, by pid, after the last (tests/servers/serve.py). Tests find them in
# ${CMAKE_BINARY_DIR}/servers/servers.txt (tests/support/http_servers.h).
set(HTTP_SERVERS_STATE ${CMAKE_BINARY_DIR}/servers)
add_test(NAME http_servers_start
         COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/serve.py start ${HTTP_SERVERS_STATE})
add_test(NAME http_servers_stop
         COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/serve.py stop ${HTTP_SERVERS_STATE})
set_tests_properties(http_servers_start PROPERTIES FIXTURES_SETUP http_servers TIMEOUT 60)
set_tests_properties(http_servers_stop PROPERTIES FIXTURES_CLEANUP http_servers TIMEOUT 60)

# Every test that downloads: the step tests and the end-to-end tests.
get_property(all_tests DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR} PROPERTY TESTS)
foreach(t ${all_tests})
  if(t MATCHES "^(download_win_test|dotnet_win_test|e2e_.*)$")
    set_tests_properties(${t} PROPERTIES FIXTURES_REQUIRED http_servers)
  endif()
endforeach()

if(WIN32)
  # Stands in for the .NET Framework offline installer: a program that leaves
  # "<its own path>.ran" when started, so a test sees that it was launched,
  # and carries the real installer's version information.
  add_executable(ndp_stub WIN32 ${CMAKE_CURRENT_LIST_DIR}/ndp_stub_win.cpp ${CMAKE_CURRENT_LIST_DIR}/ndp_stub.rc)
  # The same program naming another Microsoft product in its version information.
  add_executable(other_microsoft_stub WIN32 ${CMAKE_CURRENT_LIST_DIR}/ndp_stub_win.cpp
                                            ${CMAKE_CURRENT_LIST_DIR}/other_microsoft_stub.rc)
  set_target_properties(ndp_stub other_microsoft_stub PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${HTTP_SERVERS_STATE}-bin)
  # Signed copies of them standing in for Microsoft's installer, genuine and
  # not (sign_stand_ins.sh): made when either changes, under a test root kept in the tree.
  set(STAND_INS ${CMAKE_BINARY_DIR}/stand-ins)
  add_custom_command(OUTPUT ${STAND_INS}/genuine.exe ${STAND_INS}/stranger.exe ${STAND_INS}/other-microsoft.exe
                     COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/sign_stand_ins.sh $<TARGET_FILE:ndp_stub> ${STAND_INS}
                             $<TARGET_FILE:other_microsoft_stub>
                     DEPENDS ndp_stub other_microsoft_stub ${CMAKE_CURRENT_LIST_DIR}/sign_stand_ins.sh VERBATIM)
  add_custom_target(stand_ins DEPENDS ${STAND_INS}/genuine.exe)
  foreach(t dotnet_win_test e2e_installer_net_test e2e_hardening_test)
    if(TARGET ${t})
      add_dependencies(${t} ndp_stub stand_ins)
      target_compile_definitions(${t} PRIVATE NDP_STUB_PATH="$<TARGET_FILE:ndp_stub>" STAND_INS_DIR="${STAND_INS}")
    endif()
  endforeach()
endif()
