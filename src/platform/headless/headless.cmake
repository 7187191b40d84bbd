# Headless: the program on a screen in memory with scripted keys and a virtual clock. Its reports
# are real files, written as on Linux (ph_linux_files). Included by the top-level CMakeLists.txt
# after linux.cmake.
set(PH_HEADLESS_DIR ${CMAKE_CURRENT_LIST_DIR})
add_library(ph_headless OBJECT ${PH_HEADLESS_DIR}/harness.cpp ${PH_HEADLESS_DIR}/console.cpp
            ${PH_HEADLESS_DIR}/system.cpp)
target_include_directories(ph_headless PUBLIC src)
