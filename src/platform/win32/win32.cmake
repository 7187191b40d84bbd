# Windows: the Win32 console, the Win32 system calls, \\.\PhysicalDriveN; 64-bit, static.
# Included by the top-level CMakeLists.txt after ph_core (cross build: cmake/mingw-w64.cmake).

set(PH_WIN32_DIR ${CMAKE_CURRENT_LIST_DIR})

add_library(ph_win32_console OBJECT ${PH_WIN32_DIR}/console.cpp ${PH_WIN32_DIR}/console_screen.cpp)
add_library(ph_win32_system OBJECT ${PH_WIN32_DIR}/system.cpp ${PH_WIN32_DIR}/error_text.cpp ${PH_WIN32_DIR}/files.cpp
            ${PH_WIN32_DIR}/read_files.cpp)
# The drive layer without its system calls: ph_win32_drive_calls gives Windows' own, the fake
# devices of platenhawk-drives-check (tests/win32) stand in for them there.
add_library(ph_win32_drives OBJECT ${PH_WIN32_DIR}/drives.cpp ${PH_WIN32_DIR}/drive_reads.cpp ${PH_WIN32_DIR}/storage.cpp
            ${PH_WIN32_DIR}/records_layout.cpp)
add_library(ph_win32_drive_calls OBJECT ${PH_WIN32_DIR}/drive_calls.cpp)
foreach(target ph_win32_console ph_win32_system ph_win32_drives ph_win32_drive_calls)
  target_include_directories(${target} PUBLIC src)
  target_compile_definitions(${target} PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
endforeach()

# Each executable carries its application manifest: platenhawk.exe asks for elevation, the demo not.
enable_language(RC)
add_executable(platenhawk ${PH_WIN32_DIR}/main.cpp ${PH_WIN32_DIR}/platenhawk.rc)
target_link_libraries(platenhawk PRIVATE ph_core ph_extras ph_drive_records ph_win32_console ph_codepage
                      ph_win32_system ph_exit_lines ph_win32_drives ph_ata ph_win32_drive_calls user32)

add_executable(platenhawk-demo ${PH_WIN32_DIR}/../sim/demo_main.cpp ${PH_WIN32_DIR}/platenhawk-demo.rc)
target_link_libraries(platenhawk-demo PRIVATE ph_core ph_extras ph_drive_records ph_win32_console ph_codepage
                      ph_win32_system ph_exit_lines ph_sim user32)
