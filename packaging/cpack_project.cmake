# Read by cpack itself. Without a working dpkg-shlibdeps CPack makes a .deb
# that depends on nothing, with only a note; stop instead.
if(CPACK_GENERATOR STREQUAL "DEB")
  find_program(VARNOX_DPKG_SHLIBDEPS dpkg-shlibdeps)
  set(version "")
  if(VARNOX_DPKG_SHLIBDEPS)
    execute_process(COMMAND ${VARNOX_DPKG_SHLIBDEPS} --version OUTPUT_VARIABLE version ERROR_QUIET)
  endif()
  if(NOT version MATCHES "dpkg-shlibdeps version")
    message(FATAL_ERROR "dpkg-shlibdeps does not run, so the package's Depends would be empty: "
                        "install dpkg-dev (./scripts/deps.sh package)")
  endif()
endif()
