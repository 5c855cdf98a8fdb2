norvale_test(dialer_simulated_tests dialer
  ${CMAKE_CURRENT_LIST_DIR}/WvdialPhonebookTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DialerSettingsTest.cpp
)
