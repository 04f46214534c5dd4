# streamer_bench: the engine end to end (through ostra-play) next to ffmpeg, ffplay and mpg123.
if(TARGET ostra_test_support AND TARGET ostra-play)
  add_executable(streamer_bench ${CMAKE_CURRENT_LIST_DIR}/StreamerBench.cpp)
  target_link_libraries(streamer_bench PRIVATE ostra_test_support)
  target_compile_definitions(streamer_bench PRIVATE
    OSTRA_PLAY="$<TARGET_FILE:ostra-play>" OSTRA_FIXTURES_DIR="${OSTRA_FIXTURES_DIR}")
  add_dependencies(streamer_bench ostra-play)
  if(TARGET fixtures)
    add_dependencies(streamer_bench fixtures)
  endif()
endif()
