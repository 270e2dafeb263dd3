# Installation and the Debian package (./run package: cpack -G DEB in a Release tree).
# The programs that need raw frames live in a private folder; /usr/bin holds launchers that
# tell a user outside the group "quillmar" how to get in (see packaging/postinst).
include(GNUInstallDirs)
set(QM_PRIVATE_DIR ${CMAKE_INSTALL_LIBDIR}/quillmar)
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(QM_PRIVATE_DIR lib/quillmar)
endif()
set(QM_PACKAGED_PROGRAMS quillmar-cli linesim)
if(QM_GUI)
  list(PREPEND QM_PACKAGED_PROGRAMS quillmar)
endif()
set(packaging ${QM_ROOT}/packaging)
set(generated ${CMAKE_BINARY_DIR}/packaging)

foreach(program ${QM_PACKAGED_PROGRAMS})
  install(TARGETS ${program} RUNTIME DESTINATION ${QM_PRIVATE_DIR})
  set(PROGRAM ${program})
  set(PRIVATE_DIR ${CMAKE_INSTALL_PREFIX}/${QM_PRIVATE_DIR})
  configure_file(${packaging}/launcher.sh.in ${generated}/bin/${program} @ONLY)
  install(PROGRAMS ${generated}/bin/${program} DESTINATION ${CMAKE_INSTALL_BINDIR})
endforeach()

# Manual pages from the programs' own --help.
find_program(HELP2MAN help2man)
if(HELP2MAN)
  set(manuals "")
  foreach(program quillmar-cli quillmar linesim)
    if(NOT TARGET ${program})
      continue()
    endif()
    set(page ${generated}/man/${program}.1.gz)
    if(program STREQUAL "quillmar")
      set(summary "commission, configure and diagnose lines of conveyor control modules")
    elseif(program STREQUAL "linesim")
      set(summary "a simulated line of conveyor modules, for tests and demonstrations")
    else()
      set(summary "the conveyor modules' commissioning tool on the command line")
    endif()
    add_custom_command(
      OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${generated}/man
      COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ${HELP2MAN} --no-info
              --no-discard-stderr --version-string=${PROJECT_VERSION} --name=${summary}
              --output=${generated}/man/${program}.1 $<TARGET_FILE:${program}>
      COMMAND gzip -9nf ${generated}/man/${program}.1
      DEPENDS ${program}
      VERBATIM)
    list(APPEND manuals ${page})
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
  add_custom_target(manuals ALL DEPENDS ${manuals})
endif()

install(FILES ${packaging}/quillmar.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${packaging}/quillmar.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
file(GLOB example_lines ${QM_ROOT}/sim/lines/*.json)
install(FILES ${example_lines} DESTINATION ${CMAKE_INSTALL_DATADIR}/quillmar/lines)
# The desktop program's translations (.qm, translations/CMakeLists.txt).
get_property(qm_files GLOBAL PROPERTY QM_QM_FILES)
if(qm_files)
  install(FILES ${qm_files} DESTINATION ${QM_TRANSLATIONS_INSTALL_DIR})
endif()
# The intermediate firmware images are not ours to ship: the folder comes empty.
install(DIRECTORY DESTINATION ${CMAKE_INSTALL_DATADIR}/quillmar/firmware)
# Wireshark loads Lua dissectors from its global plugin folder.
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(wireshark_plugins lib/${CMAKE_LIBRARY_ARCHITECTURE}/wireshark/plugins)
else()
  set(wireshark_plugins lib/wireshark/plugins)
endif()
install(FILES ${QM_ROOT}/tools/wireshark/brevantrix.lua DESTINATION ${wireshark_plugins})

# Debian's documentation files, in the folder named after the package.
set(CMAKE_INSTALL_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/quillmar)
set(VERSION ${PROJECT_VERSION})
configure_file(${packaging}/changelog ${generated}/changelog @ONLY)
add_custom_command(OUTPUT ${generated}/changelog.gz
                   COMMAND gzip -9nkf ${generated}/changelog
                   DEPENDS ${generated}/changelog VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS ${generated}/changelog.gz)
install(FILES ${generated}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR}
        RENAME changelog.gz)
install(FILES ${packaging}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillmar)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Quillmar <team@quillmar.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "commissioning tool for lines of conveyor control modules")
set(CPACK_PACKAGE_DESCRIPTION
    "Quillmar finds the modules of a conveyor line by raw-frame broadcast,
draws the line's order, starts AutoConfig, reads and writes the modules'
parameters, uploads PLC programs and firmware, backs up and restores
lines and shows diagnostics. The package holds the desktop tool, the
command line tool, the line simulator and a Wireshark dissector for the
modules' protocols. Members of the group quillmar may capture and send
the raw frames.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libpcap is loaded at run time, so the shared-library scan does not see it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, libcap2-bin, libpcap0.8")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "wireshark | tshark")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${packaging}/postinst ${packaging}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
