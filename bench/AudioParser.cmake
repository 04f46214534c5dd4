# audio_parser_bench: parser throughput (MB/s) on the 10-minute MP3 and a few other fixtures.
if(TARGET ostra_audio_parser)
  add_executable(audio_parser_bench ${CMAKE_CURRENT_LIST_DIR}/AudioParserBench.cpp)
  target_link_libraries(audio_parser_bench PRIVATE ostra_audio_parser)
  target_compile_definitions(audio_parser_bench PRIVATE OSTRA_FIXTURES_DIR="${OSTRA_FIXTURES_DIR}")
  if(TARGET fixtures)
    add_dependencies(audio_parser_bench fixtures)
  endif()
endif()
