# Linux: the terminal, the real clock, real block devices; platenhawk and platenhawk-demo.
# Included by the top-level CMakeLists.txt.
set(PH_LINUX_DIR ${CMAKE_CURRENT_LIST_DIR})

add_library(ph_linux_console OBJECT ${PH_LINUX_DIR}/terminal.cpp ${PH_LINUX_DIR}/terminal_fitness.cpp
            ${PH_LINUX_DIR}/terminal_input.cpp ${PH_LINUX_DIR}/terminal_output.cpp ${PH_LINUX_DIR}/keys.cpp)
add_library(ph_linux_system OBJECT ${PH_LINUX_DIR}/system.cpp ${PH_LINUX_DIR}/awake.cpp)
# Report files written and input files read, shared with the headless harness.
add_library(ph_linux_files OBJECT ${PH_LINUX_DIR}/files.cpp ${PH_LINUX_DIR}/read_files.cpp)
add_library(ph_linux_drives OBJECT ${PH_LINUX_DIR}/drives.cpp ${PH_LINUX_DIR}/drives_disks.cpp
            ${PH_LINUX_DIR}/drives_identify.cpp ${PH_LINUX_DIR}/drives_read.cpp ${PH_LINUX_DIR}/sg_ata.cpp)
foreach(target ph_linux_console ph_linux_system ph_linux_files ph_linux_drives)
  target_include_directories(${target} PUBLIC src)
endforeach()

# logind's inhibitor during scans, through sd-bus (libsystemd-dev). The static build does without
# it: Debian ships no static libsystemd.
if(NOT PH_STATIC)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(PH_SYSTEMD REQUIRED IMPORTED_TARGET libsystemd)
  target_compile_definitions(ph_linux_system PRIVATE PH_LOGIND)
  target_link_libraries(ph_linux_system PUBLIC PkgConfig::PH_SYSTEMD)
endif()

add_executable(platenhawk ${PH_LINUX_DIR}/main.cpp)
target_link_libraries(platenhawk PRIVATE ph_core ph_extras ph_drive_records ph_screen ph_codepage ph_linux_console
                      ph_linux_system ph_linux_files ph_exit_lines ph_linux_drives ph_ata Threads::Threads)

add_executable(platenhawk-demo ${PH_LINUX_DIR}/../sim/demo_main.cpp)
target_link_libraries(platenhawk-demo PRIVATE ph_core ph_extras ph_drive_records ph_screen ph_codepage ph_linux_console
                      ph_linux_system ph_linux_files ph_exit_lines ph_sim Threads::Threads)
if(PH_STATIC)
  target_link_options(platenhawk PRIVATE -static)
  target_link_options(platenhawk-demo PRIVATE -static)
endif()
