# ATA commands carried other ways than the SMART records (ATA and SCSI pass-through) and IDENTIFY
# DEVICE data made up for disks that take none: shared by the Linux and Windows drive layers.
# Included by the top-level CMakeLists.txt.
add_library(ph_ata OBJECT ${CMAKE_CURRENT_LIST_DIR}/identify.cpp ${CMAKE_CURRENT_LIST_DIR}/passthrough.cpp)
target_include_directories(ph_ata PUBLIC src)
