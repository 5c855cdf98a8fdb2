# The real line: pppd + chat, and the watch on other programs' calls.
target_sources(norvale_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/DiallingProcess.cpp ${CMAKE_CURRENT_LIST_DIR}/DiallingProcess.h
  ${CMAKE_CURRENT_LIST_DIR}/Pidfd.cpp ${CMAKE_CURRENT_LIST_DIR}/Pidfd.h
  ${CMAKE_CURRENT_LIST_DIR}/PppCallFiles.cpp ${CMAKE_CURRENT_LIST_DIR}/PppCallFiles.h
  ${CMAKE_CURRENT_LIST_DIR}/PppDialer.cpp ${CMAKE_CURRENT_LIST_DIR}/PppDialer.h
  ${CMAKE_CURRENT_LIST_DIR}/PppLineParser.cpp ${CMAKE_CURRENT_LIST_DIR}/PppLineParser.h
  ${CMAKE_CURRENT_LIST_DIR}/PppLink.cpp ${CMAKE_CURRENT_LIST_DIR}/PppLink.h
  ${CMAKE_CURRENT_LIST_DIR}/ProcessEventWatch.cpp ${CMAKE_CURRENT_LIST_DIR}/ProcessEventWatch.h
  ${CMAKE_CURRENT_LIST_DIR}/ProcessExitWatch.cpp ${CMAKE_CURRENT_LIST_DIR}/ProcessExitWatch.h
  ${CMAKE_CURRENT_LIST_DIR}/ProcessKiller.cpp ${CMAKE_CURRENT_LIST_DIR}/ProcessKiller.h
)
