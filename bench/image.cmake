# Decoding PNG, JPEG and TGA pictures of 1024x1024: our readers against
# stb_image (Debian's libstb) on the same bytes, with the ratio.
if(TARGET image)
  pkg_check_modules(STB IMPORTED_TARGET stb)
  if(STB_FOUND)
    add_executable(image_bench ${CMAKE_CURRENT_LIST_DIR}/image_bench.cpp)
    target_link_libraries(image_bench PRIVATE image benchmark::benchmark PkgConfig::STB)
    target_include_directories(image_bench PRIVATE ${PROJECT_SOURCE_DIR})
  endif()
endif()
