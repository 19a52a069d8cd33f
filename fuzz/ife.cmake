# Interfaces: the ".ife" parser with a texture resolver that needs no GL, and
# the key search and easing of every parsed layer.
if(TARGET runtime)
  brisk_add_fuzzer(ife_fuzz RUNS 150000 SOURCES ${CMAKE_CURRENT_LIST_DIR}/ife_fuzz.cpp LIBS runtime)
endif()
