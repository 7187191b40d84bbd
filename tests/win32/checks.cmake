# The Windows check programs that scripts/check-wine runs under Wine, built beside platenhawk.exe
# in the Windows build folder. Included by the top-level CMakeLists.txt after win32.cmake when
# PH_TESTS is on (tests/CMakeLists.txt, which needs GoogleTest, is the Linux tests' tree).

set(PH_WIN32_CHECKS_DIR ${CMAKE_CURRENT_LIST_DIR})

# The ways out the program has no key for, taken on purpose.
add_executable(platenhawk-exit-check ${PH_WIN32_CHECKS_DIR}/exit_check.cpp)
target_link_libraries(platenhawk-exit-check PRIVATE ph_win32_console ph_codepage ph_win32_system ph_exit_lines user32)

# The program's drive code on fake devices answering as Windows does.
add_executable(platenhawk-drives-check ${PH_WIN32_CHECKS_DIR}/drives_check.cpp ${PH_WIN32_CHECKS_DIR}/fake_devices.cpp
               ${PH_WIN32_CHECKS_DIR}/fake_ata.cpp ${PH_WIN32_CHECKS_DIR}/fake_disks.cpp)
target_link_libraries(platenhawk-drives-check PRIVATE ph_core ph_extras ph_drive_records ph_win32_console ph_codepage
                      ph_win32_system ph_exit_lines ph_win32_drives ph_ata user32)

# The fixed code-page tables against the conversions of a Russian system.
add_executable(platenhawk-codepage-check ${PH_WIN32_CHECKS_DIR}/codepage_check.cpp)
target_link_libraries(platenhawk-codepage-check PRIVATE ph_codepage user32)

foreach(target platenhawk-exit-check platenhawk-drives-check platenhawk-codepage-check)
  target_include_directories(${target} PRIVATE src)
  target_compile_definitions(${target} PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
endforeach()
