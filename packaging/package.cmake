# `make package`: a .deb of everything the install rules put in place, its
# library dependencies found by dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VENDOR "The Velmora developers")
set(CPACK_PACKAGE_CONTACT "The Velmora developers <velmora@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "inspect, repair and transform uncompressed WAV files")
# Lines of the extended description as the control file wants them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Velmora shows the chunk structure of a RIFF/WAVE file, a report of its"
  "header and a hex dump of everything before the samples, and offers only"
  "the operations that are safe for that file: splitting channels,"
  "pseudo-surround, multiplexing mono files, normalising, header repairs and"
  "wrapping raw PCM. The velmora-cli command runs the same core without a"
  "window.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${VELMORA_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(VELMORA_BUILD_APP)
  # Qt's libraries only recommend the platform plugins, without which the
  # window cannot start; the captions are Japanese.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk, qt6-translations-l10n")
endif()
include(CPack)
