# Run by cpack before it builds the Debian package (CPACK_PRE_BUILD_SCRIPTS). The package's
# Depends field comes from dpkg-shlibdeps; where it is missing CPack would only warn and make a
# package that installs without the libraries the programs need. Looked for on the PATH, as a
# shell would find it.
find_program(PH_SHLIBDEPS dpkg-shlibdeps NO_DEFAULT_PATH PATHS ENV PATH)
if(NOT PH_SHLIBDEPS)
  message(FATAL_ERROR "dpkg-shlibdeps is not on the PATH (Debian package dpkg-dev): without it the package "
                      "would have no Depends field")
endif()
