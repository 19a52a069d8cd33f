# Music streaming: the cost of one refill (decode + hand-over to OpenAL) and
# the player thread over a whole track played in real time on OpenAL Soft's
# null back end: its CPU share per second of music and its worst refill delay.
pkg_check_modules(SOUND_BENCH_VORBISENC REQUIRED IMPORTED_TARGET vorbisenc vorbis ogg)
add_executable(sound_bench ${CMAKE_CURRENT_LIST_DIR}/sound_bench.cpp)
target_link_libraries(sound_bench PRIVATE sound PkgConfig::SOUND_BENCH_VORBISENC benchmark::benchmark benchmark::benchmark_main)
