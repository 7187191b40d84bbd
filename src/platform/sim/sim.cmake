# Simulated drives described by a scenario file, the demo's built-in one compiled in
# (PH_BUILTIN_SCENARIO). Included by the top-level CMakeLists.txt.

# Images are read through POSIX calls, or on Windows through the Win32 twin of image_posix.cpp.
if(WIN32)
  set(PH_SIM_IMAGE ${CMAKE_CURRENT_LIST_DIR}/../win32/sim_image.cpp)
  set_source_files_properties(${PH_SIM_IMAGE} PROPERTIES COMPILE_DEFINITIONS "WIN32_LEAN_AND_MEAN;NOMINMAX")
else()
  set(PH_SIM_IMAGE ${CMAKE_CURRENT_LIST_DIR}/image_posix.cpp)
endif()

add_library(ph_sim OBJECT ${CMAKE_CURRENT_LIST_DIR}/scenario.cpp ${CMAKE_CURRENT_LIST_DIR}/scenario_keys.cpp
            ${CMAKE_CURRENT_LIST_DIR}/drives.cpp ${PH_BUILTIN_SCENARIO} ${PH_SIM_IMAGE})
target_include_directories(ph_sim PUBLIC src)
