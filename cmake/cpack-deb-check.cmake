# Read by cpack before it makes a package. Without dpkg-shlibdeps, cpack
# would make a .deb that names none of the libraries the program needs.
if(CPACK_GENERATOR STREQUAL "DEB")
  find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(NOT DPKG_SHLIBDEPS)
    message(FATAL_ERROR "Making the .deb needs dpkg-shlibdeps: apt-get install dpkg-dev")
  endif()
endif()
