# Pack archive reads against plain-file reads of the same data, with their ratio.
if(TARGET pack)
  add_executable(pack_bench ${CMAKE_CURRENT_LIST_DIR}/pack_bench.cpp)
  target_link_libraries(pack_bench PRIVATE base benchmark::benchmark)
  target_include_directories(pack_bench PRIVATE ${PROJECT_SOURCE_DIR})
  add_dependencies(pack_bench pack)
  target_compile_definitions(pack_bench PRIVATE PACK_TOOL="$<TARGET_FILE:pack>")
endif()
