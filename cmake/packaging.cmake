# The release archives, made by CPack from a build tree (scripts/package makes
# both): on Windows a zip of the three statically linked programs and a
# README.txt for Windows users; on Linux a Debian package with the programs in
# /usr/bin, a man page for each, the copyright file and the changelog. Only the
# programs are installed, stripped: no test, benchmark or fuzz target, no debug
# information. Installing builds nothing, so that a tree whose tests are not
# built yet can still be packaged once its programs are.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)
set(velmoravad_programs velmoravad-aggregate velmoravad-announce velmoravad-endpoints)
set(VELMORAVAD_RELEASE_DATE 2026-12-10)
set(VELMORAVAD_MAINTAINER
    "velmoravad-aggregate maintainers <maintainers@users.noreply.c-seed-f602acc2.example>")

set(CPACK_PACKAGE_NAME velmoravad-aggregate)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${VELMORAVAD_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "gathers capture endpoints into one 16-bit 48 kHz PCM stream")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                                GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(packaging_dir ${PROJECT_SOURCE_DIR}/packaging)
set(made_dir ${PROJECT_BINARY_DIR}/packaging)

if(WIN32)
  install(TARGETS ${velmoravad_programs} RUNTIME DESTINATION .)
  configure_file(${packaging_dir}/README-windows.txt.in ${made_dir}/README.txt @ONLY
                 NEWLINE_STYLE CRLF)
  install(FILES ${made_dir}/README.txt DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME velmoravad-aggregate-${PROJECT_VERSION}-windows-x64)
else()
  include(GNUInstallDirs)
  install(TARGETS ${velmoravad_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

  # Man pages and the changelog go gzipped at the highest level, without a
  # name or time stamp, as Debian wants them.
  find_program(GZIP_PROGRAM gzip REQUIRED)
  function(velmoravad_gzip source compressed)
    execute_process(COMMAND ${GZIP_PROGRAM} -9 -n -c ${source} OUTPUT_FILE ${compressed}
                    COMMAND_ERROR_IS_FATAL ANY)
  endfunction()
  foreach(program ${velmoravad_programs})
    configure_file(${packaging_dir}/man/${program}.1.in ${made_dir}/man/${program}.1 @ONLY)
    velmoravad_gzip(${made_dir}/man/${program}.1 ${made_dir}/man/${program}.1.gz)
    install(FILES ${made_dir}/man/${program}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()

  # The changelog gets an entry for every version, and the newest must be this one.
  file(STRINGS ${packaging_dir}/debian/changelog newest_entry LIMIT_COUNT 1)
  if(NOT newest_entry MATCHES "^velmoravad-aggregate \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "packaging/debian/changelog has no entry for ${PROJECT_VERSION} on top")
  endif()
  velmoravad_gzip(${packaging_dir}/debian/changelog ${made_dir}/changelog.gz)
  set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/velmoravad-aggregate)
  install(FILES ${packaging_dir}/debian/copyright ${made_dir}/changelog.gz DESTINATION ${doc_dir})

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SECTION sound)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pulseaudio | pipewire-pulse")
  # The extended description; CPack puts the summary above it.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "velmoravad-aggregate gathers the audio of several capture endpoints (the
sources of the PulseAudio or PipeWire server) into one continuous, interleaved
stream of 16-bit PCM at 48000 Hz on its standard output: the VelmoraDSP
application endpoints by slot, an optional live input and two announcement
channels fed through a socket.
.
velmoravad-endpoints lists the capture endpoints as the aggregator takes them
and checks a run before it starts; velmoravad-announce plays WAV clips into
the announcement channels.")
endif()

include(CPack)
