# Windows: the Win32 console, the Win32 system calls, \\.\PhysicalDriveN; 64-bit, static.
# Included by the top-level CMakeLists.txt after ph_core (cross build: cmake/mingw-w64.cmake).

set(PH_WIN32_DIR ${CMAKE_CURRENT_LIST_DIR})

add_library(ph_win32_console OBJECT ${PH_WIN32_DIR}/console.cpp ${PH_WIN32_DIR}/console_screen.cpp
            ${PH_WIN32_DIR}/../screen/codepage.cpp)
add_library(ph_win32_system OBJECT ${PH_WIN32_DIR}/system.cpp ${PH_WIN32_DIR}/error_text.cpp ${PH_WIN32_DIR}/files.cpp
            ${PH_WIN32_DIR}/read_files.cpp
            ${PH_WIN32_DIR}/../exit_lines.cpp)
# The drive layer without its system calls: ph_win32_drive_calls gives Windows' own, the fake
# devices of platenhawk-drives-check stand in for them there.
add_library(ph_win32_drives OBJECT ${PH_WIN32_DIR}/drives.cpp ${PH_WIN32_DIR}/drive_reads.cpp ${PH_WIN32_DIR}/storage.cpp
            ${PH_WIN32_DIR}/records_check.cpp src/platform/ata/identify.cpp src/platform/ata/passthrough.cpp)
add_library(ph_win32_drive_calls OBJECT ${PH_WIN32_DIR}/drive_calls.cpp)
add_executable(platenhawk-exit-check ${PH_WIN32_DIR}/exit_check.cpp)
add_executable(platenhawk-drives-check ${PH_WIN32_DIR}/drives_check.cpp ${PH_WIN32_DIR}/fake_devices.cpp
               ${PH_WIN32_DIR}/fake_ata.cpp ${PH_WIN32_DIR}/fake_disks.cpp)
foreach(target ph_win32_console ph_win32_system ph_win32_drives ph_win32_drive_calls platenhawk-exit-check
               platenhawk-drives-check)
  target_include_directories(${target} PUBLIC src)
  target_compile_definitions(${target} PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
endforeach()

# Simulated drives; images are read through the Win32 twin of image_posix.cpp.
add_library(ph_sim OBJECT
  src/platform/sim/scenario.cpp src/platform/sim/scenario_keys.cpp src/platform/sim/drives.cpp ${PH_BUILTIN_SCENARIO}
  ${PH_WIN32_DIR}/sim_image.cpp)
target_include_directories(ph_sim PUBLIC src)
set_source_files_properties(${PH_WIN32_DIR}/sim_image.cpp PROPERTIES COMPILE_DEFINITIONS "WIN32_LEAN_AND_MEAN;NOMINMAX")

# Each executable carries its application manifest: platenhawk.exe asks for elevation, the demo not.
enable_language(RC)
add_executable(platenhawk ${PH_WIN32_DIR}/main.cpp ${PH_WIN32_DIR}/platenhawk.rc)
target_link_libraries(platenhawk PRIVATE ph_core ph_extras ph_win32_console ph_win32_system ph_win32_drives
                      ph_win32_drive_calls user32)

add_executable(platenhawk-demo src/platform/sim/demo_main.cpp ${PH_WIN32_DIR}/platenhawk-demo.rc)
target_link_libraries(platenhawk-demo PRIVATE ph_core ph_extras ph_win32_console ph_win32_system ph_sim user32)

# The ways out the program has no key for, taken on purpose for scripts/check-wine.
target_link_libraries(platenhawk-exit-check PRIVATE ph_win32_console ph_win32_system user32)

# The program's drive code on fake devices answering as Windows does, for scripts/check-wine.
target_link_libraries(platenhawk-drives-check PRIVATE ph_core ph_extras ph_win32_console ph_win32_system
                      ph_win32_drives user32)

# The fixed code-page tables against the conversions of a Russian system, for scripts/check-wine.
add_executable(platenhawk-codepage-check ${PH_WIN32_DIR}/codepage_check.cpp ${PH_WIN32_DIR}/../screen/codepage.cpp)
target_include_directories(platenhawk-codepage-check PRIVATE src)
target_compile_definitions(platenhawk-codepage-check PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
target_link_libraries(platenhawk-codepage-check PRIVATE user32)
