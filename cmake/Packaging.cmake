# What `cmake --install` puts where, and the Debian package CPack makes of it.
include(GNUInstallDirs)

# The read-only template a user's data folder is seeded from on the first start, and the
# installed characters. The generators beside them in assets/ are not installed.
set(share "${CMAKE_INSTALL_DATADIR}/olm-chimewise")
set(assets "${PROJECT_SOURCE_DIR}/assets")
install(FILES "${assets}/data/CALENDAR.DBF" "${assets}/data/CALENDAR.FPT" "${assets}/data/CALENDAR.CDX"
  DESTINATION "${share}/data")
install(FILES "${assets}/JOKES.dbf" "${assets}/JOKES.fpt" "${assets}/CHIMINST.DLL" DESTINATION "${share}")
file(GLOB characters CONFIGURE_DEPENDS "${assets}/characters/*.ochar")
install(FILES ${characters} DESTINATION "${share}/characters")
file(GLOB sounds CONFIGURE_DEPENDS "${assets}/sound/*.wav")
install(FILES ${sounds} DESTINATION "${share}/sound")
file(GLOB help_pages CONFIGURE_DEPENDS "${assets}/helpfile/*.htm")
install(FILES ${help_pages} DESTINATION "${share}/helpfile")

# The desktop's view of the program: menu entry, software-centre entry, icons, manual pages.
set(app_id org.olmchimewise.Chimewise)
set(packaging "${PROJECT_SOURCE_DIR}/packaging")
install(FILES "${packaging}/${app_id}.desktop" DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
install(FILES "${packaging}/${app_id}.metainfo.xml" DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")
install(FILES "${assets}/icons/olm-chimewise.svg" DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")

set(icon_sizes 16 22 24 32 48 64 128 256)
set(icon_pngs "")
foreach(size IN LISTS icon_sizes)
  list(APPEND icon_pngs "${CMAKE_BINARY_DIR}/icons/${size}x${size}/olm-chimewise.png")
  install(FILES "${CMAKE_BINARY_DIR}/icons/${size}x${size}/olm-chimewise.png"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps")
endforeach()
add_custom_command(OUTPUT ${icon_pngs}
  COMMAND render-icon "${assets}/icons/olm-chimewise.svg" "${CMAKE_BINARY_DIR}/icons" ${icon_sizes}
  DEPENDS render-icon "${assets}/icons/olm-chimewise.svg"
  COMMENT "Rendering the icon's PNG sizes")

# Manual pages and the package's documents, compressed as Debian expects (-n: reproducible).
set(compressed "")
foreach(page chimewise.1 chimewise-cli.1)
  add_custom_command(OUTPUT "${CMAKE_BINARY_DIR}/man/${page}.gz"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_BINARY_DIR}/man"
    COMMAND gzip -9n -c "${packaging}/man/${page}" > "${CMAKE_BINARY_DIR}/man/${page}.gz"
    DEPENDS "${packaging}/man/${page}")
  list(APPEND compressed "${CMAKE_BINARY_DIR}/man/${page}.gz")
  install(FILES "${CMAKE_BINARY_DIR}/man/${page}.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
endforeach()
add_custom_command(OUTPUT "${CMAKE_BINARY_DIR}/doc/changelog.gz"
  COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_BINARY_DIR}/doc"
  COMMAND gzip -9n -c "${packaging}/changelog" > "${CMAKE_BINARY_DIR}/doc/changelog.gz"
  DEPENDS "${packaging}/changelog")
list(APPEND compressed "${CMAKE_BINARY_DIR}/doc/changelog.gz")
add_custom_target(desktop_files ALL DEPENDS ${icon_pngs} ${compressed})
set(docs "${CMAKE_INSTALL_DATADIR}/doc/olm-chimewise")
install(FILES "${packaging}/copyright" "${CMAKE_BINARY_DIR}/doc/changelog.gz" DESTINATION "${docs}")

# The Debian package: ./scripts/package.sh, or cpack in a build folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME olm-chimewise)
set(CPACK_PACKAGE_VENDOR "The Olm Chimewise developers")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "talking reminders read aloud by an animated character")
file(READ "${packaging}/description.txt" CPACK_PACKAGE_DESCRIPTION)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "$ENV{CHIMEWISE_MAINTAINER}")
if(NOT CPACK_DEBIAN_PACKAGE_MAINTAINER)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Olm Chimewise maintainers <maintainers@users.noreply.c-seed-2738f43f.example>")
endif()
# Libraries come from the binaries; the data they read at run time does not: espeak-ng's voices
# and the recogniser's English model. flite's voices are libraries of libflite1 and come with it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "espeak-ng-data, pocketsphinx-en-us")
# Checking the certificates of IMAP servers; a secret service to keep the mail password in; fonts
# for Chinese, Japanese and Korean text and colour emoji in reminders.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "ca-certificates, gnome-keyring | kwalletmanager | keepassxc, fonts-noto-cjk, fonts-noto-color-emoji")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
