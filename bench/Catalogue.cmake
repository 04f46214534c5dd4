# catalogue_bench: the programme list's cost for feeds of 100 to 100,000 programmes.
if(TARGET ostra_screens AND TARGET ostra_test_support AND TARGET ostra_ui)
  add_executable(catalogue_bench ${CMAKE_CURRENT_LIST_DIR}/CatalogueBench.cpp
                 ${PROJECT_SOURCE_DIR}/tests/http/AllocationCounter.cpp)
  target_link_libraries(catalogue_bench PRIVATE ostra_screens ostra_test_support)
endif()
