# The defence on the real line: another program's chat hung up on state 2.
add_executable(bench_dialer_ppp
  ${CMAKE_CURRENT_LIST_DIR}/PppDefenceBench.cpp
  ${CMAKE_SOURCE_DIR}/tests/platform/dialer/ModemLine.cpp
  ${CMAKE_SOURCE_DIR}/tests/platform/dialer/ModemLine.h
  ${CMAKE_SOURCE_DIR}/tests/platform/dialer/TestApp.h
)
target_include_directories(bench_dialer_ppp PRIVATE ${CMAKE_SOURCE_DIR}/tests/platform/dialer)
target_link_libraries(bench_dialer_ppp PRIVATE norvale_core)
add_dependencies(bench_dialer_ppp modem-emulator)
target_compile_definitions(bench_dialer_ppp PRIVATE NORVALE_MODEM_EMULATOR="$<TARGET_FILE:modem-emulator>")
