# The defence against another program's call on the built-in line, timed over many calls.
add_executable(dialer_simulated_bench ${CMAKE_CURRENT_LIST_DIR}/SimulatedDefenceBench.cpp)
target_link_libraries(dialer_simulated_bench PRIVATE norvale_core)
target_compile_definitions(dialer_simulated_bench PRIVATE NORVALE_LINE="$<TARGET_FILE:norvale-line>")
add_dependencies(dialer_simulated_bench norvale-line)
