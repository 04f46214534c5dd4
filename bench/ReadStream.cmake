# The read stream's throughput over loopback, next to the curl command line on the same URL.
if(TARGET ostra_http AND TARGET ostra_test_support)
  add_executable(ReadStreamBench ${CMAKE_CURRENT_LIST_DIR}/ReadStreamBench.cpp)
  target_link_libraries(ReadStreamBench PRIVATE ostra_http ostra_test_support)
endif()
