# What `cmake --install` puts under the prefix, and the Debian package CPack makes of it:
# the application, the basic player and ostra-play, the desktop entry, the icon in the hicolor
# sizes and as SVG, the AppStream metainfo and the man page of ostra-play.
include(GNUInstallDirs)

set(OSTRA_APP_ID org.ostraradio.OstraRadio)
set(ostra_desktop_dir ${PROJECT_SOURCE_DIR}/resources/desktop)

foreach(program OstraRadio ostra-basicplayer ostra-play)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

if(TARGET OstraRadio)
  install(FILES ${ostra_desktop_dir}/${OSTRA_APP_ID}.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${ostra_desktop_dir}/${OSTRA_APP_ID}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(DIRECTORY ${ostra_desktop_dir}/icons/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
endif()
if(TARGET ostra-play)
  install(FILES ${ostra_desktop_dir}/ostra-play.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ostra-radio)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Desktop client of the Ostra Radio station")
set(CPACK_PACKAGE_CONTACT "Ostra Radio developers <developers@ostraradio.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_STRIP_FILES ON)
# The shared libraries the programs link, found by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
