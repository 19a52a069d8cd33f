# Ogg Vorbis streams: Vorbis_Open and decoding through the file callbacks.
brisk_add_fuzzer(vorbis_fuzz RUNS 150000 SOURCES ${CMAKE_CURRENT_LIST_DIR}/vorbis_fuzz.cpp LIBS sound)
