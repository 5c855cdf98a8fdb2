# The real line: chat and pppd against the modem emulator, recorded pppd transcripts.
norvale_test(dialer_ppp_tests dialer-ppp
  ${CMAKE_CURRENT_LIST_DIR}/ModemLine.cpp ${CMAKE_CURRENT_LIST_DIR}/ModemLine.h ${CMAKE_CURRENT_LIST_DIR}/TestApp.h
  ${CMAKE_CURRENT_LIST_DIR}/PppLineTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PppDialerTest.cpp
)
add_dependencies(dialer_ppp_tests modem-emulator)
target_compile_definitions(dialer_ppp_tests PRIVATE
  NORVALE_MODEM_EMULATOR="$<TARGET_FILE:modem-emulator>"
  NORVALE_PPP_TRANSCRIPTS="${CMAKE_CURRENT_LIST_DIR}/data/ppp")
