# Tracked allocation (SYS_MemGet + SYS_MemFree) against the system allocator.
add_executable(mem_bench ${CMAKE_CURRENT_LIST_DIR}/mem_bench.cpp)
target_link_libraries(mem_bench PRIVATE base benchmark::benchmark benchmark::benchmark_main)
