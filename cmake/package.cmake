# SPDX-License-Identifier: Apache-2.0
# The Debian package: `cpack -G DEB` in a build configured with the prefix
# /usr (scripts/package does both). The documents Debian policy asks for go in
# with every installation.

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# A native package: its version is the project's, and the changelog must have
# an entry for it.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog TUVEL_CHANGELOG_TOP LIMIT_COUNT 1)
if(NOT TUVEL_CHANGELOG_TOP MATCHES "^tuvel \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog has no entry for version ${PROJECT_VERSION} on top")
endif()

find_program(TUVEL_GZIP gzip REQUIRED)
set(TUVEL_CHANGELOG_GZ ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
add_custom_command(
  OUTPUT ${TUVEL_CHANGELOG_GZ}
  COMMAND ${TUVEL_GZIP} -9n -c ${PROJECT_SOURCE_DIR}/packaging/changelog > ${TUVEL_CHANGELOG_GZ}
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog
  COMMENT "Compressing the changelog")
add_custom_target(changelog ALL DEPENDS ${TUVEL_CHANGELOG_GZ})

# The README stays uncompressed so tuvel-edit can read it where it is installed.
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/packaging/copyright
              ${TUVEL_CHANGELOG_GZ}
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian-overrides RENAME tuvel
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides)

set(CPACK_PACKAGE_NAME tuvel)
set(CPACK_PACKAGE_VENDOR "tuvel maintainers")
set(CPACK_PACKAGE_CONTACT "tuvel maintainers <maintainers@users.noreply.c-seed-2f1d7d05.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The speech model; tuvel-speech installs it itself when run as root.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS pocketsphinx-en-us)
# CPack indents the extended description and marks its empty lines.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "revision-checked file edits for agents, offline transcription
Small command-line programs that an agent application starts as child
processes; every byte of their output and every exit status is an interface.

tuvel-edit gives an automated agent safe access to the source files of one
repository: bounded line windows of files as one JSON line, each with its
BLAKE3 revision, and edits applied only against the revision the caller last
read, published by an atomic, durable rename. Nothing escapes the repository.

tuvel-mcp serves the same reads and edits, plus creating files and listing
directories, to Model Context Protocol clients over stdio.

tuvel-speech transcribes one audio file offline with PocketSphinx, the audio
read through FFmpeg, in a requested or the user's current locale.")

include(CPack)
