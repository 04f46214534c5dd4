# station_bench: 50 listeners connecting and leaving at random for a minute, with the station's
# memory printed along the way. A soak to run by hand, not a test.
if(TARGET ostra-station)
  add_executable(station_bench ${CMAKE_CURRENT_LIST_DIR}/StationBench.cpp)
  target_compile_definitions(station_bench PRIVATE OSTRA_STATION_BINARY="$<TARGET_FILE:ostra-station>")
  add_dependencies(station_bench ostra-station)
endif()
