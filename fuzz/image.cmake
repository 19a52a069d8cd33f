# Image loader: txLoad from memory through every filter (recognition and
# reader), with DXT blocks decoded and kept, and the loader's post-processing.
if(TARGET image)
  brisk_add_fuzzer(image_fuzz RUNS 800000 SOURCES ${CMAKE_CURRENT_LIST_DIR}/image_fuzz.cpp LIBS image)
endif()
