# Debian packages from the build folder: cd build && cpack -G DEB makes
#   viqr-tools  the three programs and their manual pages (section text);
#   libviqr1    the shared library libviqr.so.1 (section libs);
#   libviqr-dev the header, the static library, the link libviqr.so, the
#               pkg-config file, the CMake package and viqr(3) (section libdevel).
# The programs link the library statically, so viqr-tools needs no libviqr1.
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "${VIQR_TOOLS_MAINTAINERS}")
set(CPACK_PACKAGE_CONTACT "${VIQR_TOOLS_MAINTAINER}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tools runtime dev)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VIQR_TOOLS_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME viqr-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION text)
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
  "filters between VISCII and VIQR Vietnamese text\n"
  "Three small Unix filters for Vietnamese text: tonedown turns 8-bit VISCII\n"
  "into 7-bit VIQR, the convention that writes each letter as an ASCII letter\n"
  "followed by mark characters; toneup turns VIQR back into VISCII; tonefix\n"
  "repairs VISCII 1.0 text into VISCII 1.1.  Together with iconv they connect\n"
  "VIQR text with Unicode.")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libviqr${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
  "conversions between VISCII and VIQR Vietnamese text - library\n"
  "The viqr library converts Vietnamese text between VISCII, the 8-bit\n"
  "character set, and VIQR, the 7-bit convention that writes each letter as an\n"
  "ASCII letter followed by mark characters: a streaming decoder with up to\n"
  "three contexts, an encoder that works chunk by chunk, and the parser of the\n"
  "-com and -bs options.  It has a C interface for any language.\n"
  ".\n"
  "This package holds the shared library.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libviqr-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DEPENDS runtime)
set(CPACK_COMPONENT_DEV_DESCRIPTION
  "conversions between VISCII and VIQR Vietnamese text - development files\n"
  "The viqr library converts Vietnamese text between VISCII, the 8-bit\n"
  "character set, and VIQR, the 7-bit convention that writes each letter as an\n"
  "ASCII letter followed by mark characters.\n"
  ".\n"
  "This package holds the header viqr.h for C and C++, the static library, the\n"
  "pkg-config file, the CMake package and the manual page viqr(3).")

# dpkg-shlibdeps (package dpkg-dev) works out the libraries each package
# needs; CPack runs file(1) to find the programs among the files it packs.
find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
find_program(FILE_COMMAND file)
if(DPKG_SHLIBDEPS AND FILE_COMMAND)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6")
endif()
include(CPack)
