# Pack archives: the mount (header, catalog block, records) and every entry read.
brisk_add_fuzzer(pack_fuzz RUNS 200000 SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/pack_fuzz.cpp LIBS base)
