# The whole show drawn as fast as it goes at fixed steps of show time, in the
# show's own window, with frame-time figures; it can also write chosen frames
# to PNG. It uses the built show pack (moth.moth) for its data.
if(TARGET show AND TARGET show_data)
  add_executable(frame_bench ${CMAKE_CURRENT_LIST_DIR}/frame_bench.cpp)
  target_link_libraries(frame_bench PRIVATE show)
  target_include_directories(frame_bench PRIVATE ${PROJECT_SOURCE_DIR})
  get_target_property(pack show_data SHOW_PACK)
  target_compile_definitions(frame_bench PRIVATE BRISK_SHOW_PACK="${pack}")
  add_dependencies(frame_bench show_data)
endif()
