# The screen backends' shared parts. Included by the top-level CMakeLists.txt.

# The fixed code-page tables (Windows-1251, code page 866, Unicode): every console backend's.
add_library(ph_codepage OBJECT ${CMAKE_CURRENT_LIST_DIR}/codepage.cpp)
target_include_directories(ph_codepage PUBLIC src)

# The screen kept in memory, shared by the Linux terminal and the headless harness.
if(NOT WIN32)
  add_library(ph_screen OBJECT ${CMAKE_CURRENT_LIST_DIR}/screen_buffer.cpp ${CMAKE_CURRENT_LIST_DIR}/console.cpp)
  target_include_directories(ph_screen PUBLIC src)
endif()
