norvale_test(dialer_simulated_tests dialer
  ${CMAKE_CURRENT_LIST_DIR}/WvdialPhonebookTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DialerSettingsTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SimulatedDialerTest.cpp
)
# The tests run the real norvale-line as another program would.
target_link_libraries(dialer_simulated_tests PRIVATE Qt6::Test)
target_compile_definitions(dialer_simulated_tests PRIVATE NORVALE_LINE="$<TARGET_FILE:norvale-line>")
add_dependencies(dialer_simulated_tests norvale-line)
