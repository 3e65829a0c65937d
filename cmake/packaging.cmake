# Packages, made with cpack in the build folder: for Windows a zip of the
# program, a guide and the licence, for Linux a .deb that puts the program in
# /usr/bin, its manual beside the others and its documents in
# /usr/share/doc/pcm-encoder. The texts they hold are written at the top of
# the build folder.
set(CPACK_PACKAGE_NAME pcm-encoder)
set(CPACK_PACKAGE_CONTACT "pcm-encoder maintainers <maintainers@pcm-encoder.invalid>"
  CACHE STRING "Maintainer named in the packages")
set(CPACK_STRIP_FILES ON)
if(WIN32)
  # Unpacked, the program, its guide and the licence sit in one folder. The
  # texts have CR LF line ends, for Notepad.
  install(TARGETS pcm-encoder RUNTIME DESTINATION .)
  configure_file(${PROJECT_SOURCE_DIR}/adpcm_encoder/windows/guide.txt.in
                 ${PROJECT_BINARY_DIR}/README.txt @ONLY NEWLINE_STYLE CRLF)
  configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_BINARY_DIR}/LICENSE.txt
                 @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${PROJECT_BINARY_DIR}/README.txt ${PROJECT_BINARY_DIR}/LICENSE.txt DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  install(TARGETS pcm-encoder RUNTIME DESTINATION bin)
  set(LINUX_DIR ${PROJECT_SOURCE_DIR}/adpcm_encoder/linux)
  # Debian's changelog names the version it ends with: it must be this one.
  file(STRINGS ${LINUX_DIR}/changelog latest_change LIMIT_COUNT 1)
  string(FIND "${latest_change}" "pcm-encoder (${PROJECT_VERSION})" at)
  if(NOT at EQUAL 0)
    message(FATAL_ERROR "${LINUX_DIR}/changelog: its first entry is not for version ${PROJECT_VERSION}")
  endif()
  # The manual, the changelogs and the README are installed compressed, as
  # Debian wants them (-n: no name or time stamp, the same bytes every build).
  configure_file(${LINUX_DIR}/pcm-encoder.1.in ${PROJECT_BINARY_DIR}/pcm-encoder.1 @ONLY)
  configure_file(${LINUX_DIR}/changelog ${PROJECT_BINARY_DIR}/changelog COPYONLY)
  configure_file(${PROJECT_SOURCE_DIR}/README.md ${PROJECT_BINARY_DIR}/README.md COPYONLY)
  configure_file(${PROJECT_SOURCE_DIR}/CHANGELOG.md ${PROJECT_BINARY_DIR}/CHANGELOG.md COPYONLY)
  set(compressed_documents)
  foreach(document pcm-encoder.1 changelog README.md CHANGELOG.md)
    add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/${document}.gz
      COMMAND gzip -9nkf ${document}
      DEPENDS ${PROJECT_BINARY_DIR}/${document}
      WORKING_DIRECTORY ${PROJECT_BINARY_DIR} VERBATIM)
    list(APPEND compressed_documents ${PROJECT_BINARY_DIR}/${document}.gz)
  endforeach()
  # The notes the README links to, in docs/ beside it as in the sources.
  set(compressed_notes)
  foreach(note output-format safe-output development performance packaging)
    configure_file(${PROJECT_SOURCE_DIR}/docs/${note}.md ${PROJECT_BINARY_DIR}/docs/${note}.md COPYONLY)
    add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/docs/${note}.md.gz
      COMMAND gzip -9nkf ${note}.md
      DEPENDS ${PROJECT_BINARY_DIR}/docs/${note}.md
      WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/docs VERBATIM)
    list(APPEND compressed_notes ${PROJECT_BINARY_DIR}/docs/${note}.md.gz)
  endforeach()
  add_custom_target(compressed_documents ALL DEPENDS ${compressed_documents} ${compressed_notes})
  install(FILES ${PROJECT_BINARY_DIR}/pcm-encoder.1.gz DESTINATION share/man/man1)
  install(FILES ${LINUX_DIR}/copyright ${PROJECT_BINARY_DIR}/changelog.gz
                ${PROJECT_BINARY_DIR}/README.md.gz ${PROJECT_BINARY_DIR}/CHANGELOG.md.gz
          DESTINATION share/doc/pcm-encoder)
  install(FILES ${compressed_notes} DESTINATION share/doc/pcm-encoder/docs)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION sound)
  # Follows the summary, which comes from the project's description.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [[
`pcm-encoder take.wav` writes Enc_take.wav beside take.wav: IMA ADPCM,
4 bits a sample, in blocks of 1028 bytes that each stand for 2048 samples,
for players and devices that take exactly this layout.]])
  # The shared libraries the program loads, at the versions this build
  # needs, as dpkg-shlibdeps (dpkg-dev, and file) finds them; cpack does not
  # go on without them. With the C and C++ runtimes linked in there are
  # none but in a build with the sanitizers.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack-deb-check.cmake)
  # For the .deb alone, not for `cmake --install`: what lintian is to let
  # pass, and why.
  set(CPACK_INSTALLED_DIRECTORIES
    ${LINUX_DIR}/lintian ${CPACK_PACKAGING_INSTALL_PREFIX}/share/lintian/overrides)
endif()
include(CPack)
