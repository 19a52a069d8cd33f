# Music streaming: the cost of one refill (decode + hand-over to OpenAL) and
# the player thread over a whole track played in real time on OpenAL Soft's
# null back end: its CPU share per second of music and its worst refill delay.
add_executable(sound_bench ${CMAKE_CURRENT_LIST_DIR}/sound_bench.cpp)
target_link_libraries(sound_bench PRIVATE sound oggenc_lib benchmark::benchmark benchmark::benchmark_main)
