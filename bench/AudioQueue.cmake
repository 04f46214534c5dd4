# audio_queue_bench: decode-to-capture throughput of the output queue next to
# `ffmpeg -i FILE -f null -` on the same file, and the CPU cost of real-time playback to the
# silent sink. Uses the 10-minute MP3 of the fixture script by default.
if(TARGET ostra_audioqueue_test_support)
  add_executable(audio_queue_bench ${CMAKE_CURRENT_LIST_DIR}/AudioQueueBench.cpp)
  target_include_directories(audio_queue_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests/audioqueue)
  target_link_libraries(audio_queue_bench PRIVATE ostra_audioqueue_test_support)
  set(_fixtures "${PROJECT_BINARY_DIR}/fixtures")
  if(DEFINED OSTRA_FIXTURES_DIR)
    set(_fixtures "${OSTRA_FIXTURES_DIR}")
  endif()
  target_compile_definitions(audio_queue_bench PRIVATE OSTRA_BENCH_FIXTURES="${_fixtures}")
  if(TARGET fixtures)
    add_dependencies(audio_queue_bench fixtures)
  endif()
endif()
