target_sources(norvale_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/DialerSettings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WvdialPhonebook.cpp
)
# The shipped sample phonebook lives next to the program; the built-in line copies it into
# place when the program's folder has none.
configure_file(${CMAKE_SOURCE_DIR}/assets/phonebook.conf
  ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/phonebook.sample.conf COPYONLY)
target_sources(norvale_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/SimulatedDialer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SimulatedDialer.h
)
