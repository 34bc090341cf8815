# The folder-scan benchmark (bench/scan_compare.sh builds and runs it).
add_executable(scan_bench ${CMAKE_CURRENT_LIST_DIR}/scan_bench.cpp)
target_link_libraries(scan_bench PRIVATE parvello_widgets)
