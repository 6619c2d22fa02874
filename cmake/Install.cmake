# Installation and packages.
#
# The programs find their data files beside themselves, as the calling applications expect, so
# everything of the program folder goes into one folder, <prefix>/lib/tessaly, with links to
# the programs in <prefix>/bin (they resolve their own folder through the link). Files the
# programs write go to the user's XDG folders when that folder is read-only or lies under /usr
# or /opt (platform/paths.h). The desktop entries, icons, AppStream data, man pages and
# documents go where the desktop and man expect them.
include(GNUInstallDirs)

set(TESSALY_INSTALL_DIR "lib/tessaly")
set(TESSALY_DOC_DIR "${CMAKE_INSTALL_DATADIR}/doc/tessaly")
set(TESSALY_COMMANDS tessaly kestrin tessaly-render tessaly-align tessaly-calibrate tessaly-report
  tessaly-dicom iniprofile)

install(TARGETS ${TESSALY_COMMANDS} tessaly-decode RUNTIME DESTINATION ${TESSALY_INSTALL_DIR})
install(TARGETS exifreader LIBRARY DESTINATION ${TESSALY_INSTALL_DIR})
install(FILES
  ${CMAKE_SOURCE_DIR}/data/lang/de/TsLang.ini
  ${CMAKE_SOURCE_DIR}/data/output.html
  ${CMAKE_SOURCE_DIR}/data/Kestrin.ini
  ${CMAKE_SOURCE_DIR}/data/camera.ini
  DESTINATION ${TESSALY_INSTALL_DIR})
# Both language files, for a user or an administrator who copies one into place.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/lang DESTINATION ${TESSALY_INSTALL_DIR})
# The sample pair and its interface file, for a first run and for integrators.
install(FILES
  ${CMAKE_SOURCE_DIR}/data/sample/patient.ini
  ${CMAKE_SOURCE_DIR}/data/sample/NT96650_pcb_002.JPG
  ${CMAKE_SOURCE_DIR}/data/sample/NT96650_pcb_004.JPG
  ${CMAKE_SOURCE_DIR}/data/sample/NOTICE
  DESTINATION ${CMAKE_INSTALL_DATADIR}/tessaly/sample)

# Relative links, so that the tree works wherever it is unpacked.
set(links "${CMAKE_BINARY_DIR}/install-links")
file(MAKE_DIRECTORY "${links}")
foreach(command ${TESSALY_COMMANDS})
  file(CREATE_LINK "../${TESSALY_INSTALL_DIR}/${command}" "${links}/${command}" SYMBOLIC)
  install(FILES "${links}/${command}" DESTINATION ${CMAKE_INSTALL_BINDIR})
endforeach()

# Desktop integration.
install(FILES
  ${CMAKE_SOURCE_DIR}/data/desktop/org.tessaly.Tessaly.desktop
  ${CMAKE_SOURCE_DIR}/data/desktop/org.tessaly.Kestrin.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/data/metainfo/org.tessaly.Tessaly.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
find_program(RSVG_CONVERT rsvg-convert REQUIRED)
foreach(app Tessaly Kestrin)
  set(svg "${CMAKE_SOURCE_DIR}/data/icons/org.tessaly.${app}.svg")
  install(FILES "${svg}" DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  foreach(size 16 22 24 32 48 64 128 256)
    set(png "${CMAKE_BINARY_DIR}/icons/${size}x${size}/org.tessaly.${app}.png")
    add_custom_command(OUTPUT "${png}"
      COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_BINARY_DIR}/icons/${size}x${size}"
      COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o "${png}" "${svg}"
      DEPENDS "${svg}" VERBATIM)
    list(APPEND icon_files "${png}")
    install(FILES "${png}" DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
endforeach()

# Man pages and documents, compressed as Debian's policy wants them (-n: no time stamp, so the
# package is the same for the same sources).
find_program(GZIP gzip REQUIRED)
set(MAN_PAGES tessaly kestrin tessaly-render tessaly-align tessaly-calibrate tessaly-report
  tessaly-dicom iniprofile)
foreach(page ${MAN_PAGES})
  set(gz "${CMAKE_BINARY_DIR}/man/${page}.1.gz")
  add_custom_command(OUTPUT "${gz}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_BINARY_DIR}/man"
    COMMAND ${GZIP} -9nc "${CMAKE_SOURCE_DIR}/data/man/${page}.1" > "${gz}"
    DEPENDS "${CMAKE_SOURCE_DIR}/data/man/${page}.1" VERBATIM)
  list(APPEND man_files "${gz}")
  install(FILES "${gz}" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
set(changelog "${CMAKE_BINARY_DIR}/doc/changelog.gz")
add_custom_command(OUTPUT "${changelog}"
  COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_BINARY_DIR}/doc"
  COMMAND ${GZIP} -9nc "${CMAKE_SOURCE_DIR}/data/package/changelog" > "${changelog}"
  DEPENDS "${CMAKE_SOURCE_DIR}/data/package/changelog" VERBATIM)
# The printable marker sheet for the scale from a marker, as drawn (SVG) and ready to print (PDF);
# scripts/make-marker-sheet writes the SVG.
set(marker_svg "${CMAKE_SOURCE_DIR}/data/markers/tessaly-markers.svg")
set(marker_pdf "${CMAKE_BINARY_DIR}/markers/tessaly-markers.pdf")
add_custom_command(OUTPUT "${marker_pdf}"
  COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_BINARY_DIR}/markers"
  COMMAND ${RSVG_CONVERT} -f pdf -o "${marker_pdf}" "${marker_svg}"
  DEPENDS "${marker_svg}" VERBATIM)
install(FILES "${marker_svg}" "${marker_pdf}" DESTINATION ${TESSALY_DOC_DIR}/markers)
add_custom_target(install_files ALL DEPENDS ${icon_files} ${man_files} "${changelog}"
  "${marker_pdf}")
install(FILES "${changelog}" ${CMAKE_SOURCE_DIR}/data/package/copyright
  DESTINATION ${TESSALY_DOC_DIR})
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${TESSALY_DOC_DIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/ DESTINATION ${TESSALY_DOC_DIR}
  FILES_MATCHING PATTERN "*.md" PATTERN "*.png")

# Packages: a .deb for Debian 12 and a .tar.gz of the same tree.
set(CPACK_PACKAGE_NAME tessaly)
set(CPACK_PACKAGE_VENDOR "Tessaly developers")
set(CPACK_PACKAGE_CONTACT "Tessaly developers <tessaly@tessaly.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "before/after photograph comparison by overlay")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Tessaly shows two photographs of the same subject, taken months apart, one\n"
  "over the other: picture 2 lies over picture 1 as a semi-transparent layer\n"
  "that six sliders move, turn, zoom and fade. A two-point assistant and an\n"
  "automatic alignment place it; a difference view, flicker and a scale bar\n"
  "show what changed; a print page records it. Kestrin, the launcher, derives\n"
  "each picture's scale from its EXIF data for calling applications.")
set(CPACK_GENERATOR "DEB;TGZ")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_FILE_NAME "tessaly-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The shared libraries the programs link, found by dpkg-shlibdeps, and what Qt loads as plugins
# (the window system's platform plugin, the SVG icons), the toolkit's own texts in the window's
# language (its dialogs' buttons) and the shell's opener of the print page.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${TESSALY_INSTALL_DIR}")
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "qt6-qpa-plugins, libqt6svg6, xdg-utils, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
