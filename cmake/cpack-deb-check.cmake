# Read by cpack before it makes a package. The .deb's dependencies come from
# dpkg-shlibdeps, which cpack runs only where it also finds file; without
# dpkg-shlibdeps it would make a .deb that names none of the libraries the
# program needs.
if(CPACK_GENERATOR STREQUAL "DEB")
  find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
  find_program(FILE_COMMAND file)
  if(NOT DPKG_SHLIBDEPS OR NOT FILE_COMMAND)
    message(FATAL_ERROR "Making the .deb needs dpkg-shlibdeps and file: apt-get install dpkg-dev file")
  endif()
endif()
