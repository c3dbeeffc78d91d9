# Install layout and Debian packages.
#
# cmake --install puts the programs, the skin, the desktop entry, the icons, the AppStream
# metadata, the manual pages and the service's systemd unit where the FHS and the freedesktop
# specifications say. Two components become two packages:
#   recorder  tamsu-recorder: the window program, tamsu-record, the skin and the desktop files
#   service   tamsu-service:  the web service, its manual page and its systemd unit
# scripts/package.sh builds the packages (cpack, DEB, dependencies from dpkg-shlibdeps).
include(GNUInstallDirs)

set(TAMSU_APP_ID "cn.tamsu.Recorder")
set(_data "${CMAKE_SOURCE_DIR}/data")

if(TARGET tamsu-recorder)
  install(TARGETS tamsu-recorder RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT recorder)
endif()
install(TARGETS tamsu-record RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT recorder)
# The program finds the skin at ../share/tamsu-recorder/skin from its own folder (see SkinResources).
install(DIRECTORY ${CMAKE_SOURCE_DIR}/skin/ DESTINATION ${CMAKE_INSTALL_DATADIR}/tamsu-recorder/skin
  COMPONENT recorder)
install(FILES ${_data}/${TAMSU_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT recorder)
install(FILES ${_data}/${TAMSU_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT recorder)
install(DIRECTORY ${_data}/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons COMPONENT recorder)

# Manual pages, compressed as Debian wants them (-n: no time stamp, so builds are reproducible).
set(_man_pages tamsu-recorder tamsu-record)
if(TARGET tamsu-service)
  list(APPEND _man_pages tamsu-service)
endif()
set(_man_outputs)
foreach(_page IN LISTS _man_pages)
  set(_out "${CMAKE_BINARY_DIR}/man/${_page}.1.gz")
  add_custom_command(OUTPUT "${_out}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_BINARY_DIR}/man"
    COMMAND gzip -9nc "${_data}/man/${_page}.1" > "${_out}"
    DEPENDS "${_data}/man/${_page}.1" VERBATIM)
  list(APPEND _man_outputs "${_out}")
  set(_component recorder)
  if(_page STREQUAL "tamsu-service")
    set(_component service)
  endif()
  install(FILES "${_out}" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${_component})
endforeach()
add_custom_target(tamsu_man_pages ALL DEPENDS ${_man_outputs})

if(TARGET tamsu-service)
  install(TARGETS tamsu-service RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT service)
  # The unit names the binary by its installed path, known only at install time (cmake --install
  # --prefix and cpack choose the prefix then).
  install(CODE "
    set(TAMSU_SERVICE_BINARY \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/tamsu-service\")
    configure_file(\"${_data}/tamsu-service.service.in\" \"${CMAKE_BINARY_DIR}/unit/tamsu-service.service\" @ONLY)
    file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/lib/systemd/system\" TYPE FILE
         FILES \"${CMAKE_BINARY_DIR}/unit/tamsu-service.service\")
  " COMPONENT service)
endif()

# ---- Debian packages ------------------------------------------------------------------------------
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "tamsu-recorder")
set(CPACK_PACKAGE_VENDOR "TAMSU")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "TAMSU <support@tamsu.cn>")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL recorder)
if(TARGET tamsu-service)
  list(APPEND CPACK_COMPONENTS_ALL service)
endif()
set(CPACK_DEBIAN_FILE_NAME "DEB-DEFAULT")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.tamsu.cn/")

set(CPACK_DEBIAN_RECORDER_PACKAGE_NAME "tamsu-recorder")
set(CPACK_DEBIAN_RECORDER_PACKAGE_SECTION "sound")
# Loaded at run time, so dpkg-shlibdeps cannot see them: Qt's window system plugins; the
# Chinese font the window texts need; a sound server.
set(CPACK_DEBIAN_RECORDER_PACKAGE_DEPENDS "qt6-qpa-plugins")
# Qt's own texts in Chinese come with qt6-translations-l10n (without it they are English).
set(CPACK_DEBIAN_RECORDER_PACKAGE_RECOMMENDS "fonts-noto-cjk, qt6-translations-l10n, pulseaudio | pipewire-pulse")
set(CPACK_COMPONENT_RECORDER_DESCRIPTION "TAMSU电脑录音软件, a desktop audio recorder
Records what the computer plays, what the microphone hears, or both mixed into
one track, as MP3 or WAV, with automatic gain control and noise suppression for
the microphone. Includes tamsu-record, a command-line recorder on the same engine.")

set(CPACK_DEBIAN_SERVICE_PACKAGE_NAME "tamsu-service")
set(CPACK_DEBIAN_SERVICE_PACKAGE_SECTION "net")
# useradd in the maintainer script.
set(CPACK_DEBIAN_SERVICE_PACKAGE_DEPENDS "passwd")
# Several instances share one PostgreSQL database (--database); one instance needs none.
set(CPACK_DEBIAN_SERVICE_PACKAGE_SUGGESTS "postgresql")
set(CPACK_COMPONENT_SERVICE_DESCRIPTION "web service of TAMSU电脑录音软件
Upgrade check and release downloads, feedback, public address lookup, help
pages and user accounts with SMS verification codes, over HTTP or HTTPS, with
a systemd unit that runs it as its own user in a sandbox.")
# The service's system user is the only thing the packages' scripts do.
set(CPACK_DEBIAN_SERVICE_PACKAGE_CONTROL_EXTRA
  "${_data}/debian/service/postinst;${_data}/debian/service/prerm;${_data}/debian/service/postrm")
set(CPACK_DEBIAN_SERVICE_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

include(CPack)
