# Debian packages: packaging/build-debs.sh configures a build of its own for
# the prefix /usr and makes, in build-deb/,
#   viqr-tools   the three programs and their manual pages (section text);
#   libviqr1     the shared library libviqr.so.1 (section libs);
#   libviqr-dev  the header, the static library, the link libviqr.so, the
#                pkg-config file, the CMake package and viqr(3) (libdevel).
# The programs link the library statically, so viqr-tools needs no libviqr1.
# The packages are native ones (the project's version, no Debian revision);
# packaging/build-debs.sh assembles them from the install components, and each
# carries the machine-readable copyright file made from LICENSE and the
# changelog in /usr/share/doc/<package>/.  .ci/run checks them with lintian.

set(deb_tools viqr-tools)
set(deb_runtime libviqr${PROJECT_VERSION_MAJOR})
set(deb_dev libviqr-dev)

# /usr/share/doc/<package>/copyright in the format of
# https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/, with the
# licence text of LICENSE.
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE licence_lines)
set(licence_text "")
set(copyright_holder "")
foreach(line IN LISTS licence_lines)
  if(line MATCHES "^Copyright \\(c\\) (.*)$")
    set(copyright_holder "${CMAKE_MATCH_1}")
  elseif(NOT copyright_holder STREQUAL "")
    if(line STREQUAL "")
      string(APPEND licence_text " .\n")
    else()
      string(APPEND licence_text " ${line}\n")
    endif()
  endif()
endforeach()
string(REGEX REPLACE "^ \\.\n" "" licence_text "${licence_text}")
if(copyright_holder STREQUAL "" OR NOT licence_text MATCHES "Permission is hereby granted")
  message(FATAL_ERROR "LICENSE is not the MIT licence with a \"Copyright (c) ...\" line")
endif()
set(copyright_file ${CMAKE_CURRENT_BINARY_DIR}/packaging/copyright)
file(WRITE ${copyright_file}
  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
  "Upstream-Name: ${PROJECT_NAME}\n"
  "Upstream-Contact: ${VIQR_TOOLS_MAINTAINER}\n"
  "\n"
  "Files: *\n"
  "Copyright: ${copyright_holder}\n"
  "License: Expat\n"
  "\n"
  "License: Expat\n"
  "${licence_text}")

# The changelog of a native package, compressed without name or time stamp.
set(changelog_file ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(OUTPUT ${changelog_file}
  COMMAND sh -c "\"$0\" -9nc \"$1\" > \"$2\"" ${GZIP} ${PROJECT_SOURCE_DIR}/packaging/changelog ${changelog_file}
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog VERBATIM)
add_custom_target(debian_changelog DEPENDS ${changelog_file})
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^${PROJECT_NAME} \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog does not begin with ${PROJECT_NAME} (${PROJECT_VERSION})")
endif()

# A plain `cmake --install` puts LICENSE in the documentation folder; the
# packages carry the copyright file instead.
install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT licence)

# The control file of each package, less what build-debs.sh works out from
# the files (Depends on system libraries, Architecture, Installed-Size).
# `description` has one line per line of the extended description.
function(viqr_deb_control package section depends summary description)
  string(REPLACE "\n" "\n " description "${description}")
  set(fields
    "Package: ${package}\n"
    "Source: ${PROJECT_NAME}\n"
    "Version: ${PROJECT_VERSION}\n"
    "Maintainer: ${VIQR_TOOLS_MAINTAINER}\n"
    "Section: ${section}\n"
    "Priority: optional\n")
  if(NOT depends STREQUAL "")
    list(APPEND fields "Depends: ${depends}\n")
  endif()
  string(CONCAT control ${fields} "Description: ${summary}\n ${description}\n")
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/packaging/${package}.control "${control}")
endfunction()

string(CONCAT tools_description
  "Small Unix filters for Vietnamese text: toneconv converts between UTF-8\n"
  "and every Vietnamese legacy encoding (TCVN3, VNI, VISCII, VPS, VN1,\n"
  "Windows-1258, VIQR) and reports what it cannot convert; tonedown turns\n"
  "8-bit VISCII into 7-bit VIQR, the convention that writes each letter as an\n"
  "ASCII letter followed by mark characters, toneup turns VIQR back into\n"
  "VISCII, and tonefix repairs VISCII 1.0 text into VISCII 1.1.")
viqr_deb_control(${deb_tools} text "" "converters between Vietnamese text encodings" "${tools_description}")

string(CONCAT library_description
  "The viqr library converts Vietnamese text between VISCII, the 8-bit\n"
  "character set, and VIQR, the 7-bit convention that writes each letter as an\n"
  "ASCII letter followed by mark characters: a streaming decoder with up to\n"
  "three contexts, an encoder that works chunk by chunk, and the parser of the\n"
  "-com and -bs options of tonedown and toneup.  Its C interface serves C, C++\n"
  "and any language with a foreign-function interface.\n"
  ".\n")
viqr_deb_control(${deb_runtime} libs ""
  "conversions between VISCII and VIQR Vietnamese text (library)"
  "${library_description}This package holds the shared library.")
viqr_deb_control(${deb_dev} libdevel "${deb_runtime} (= ${PROJECT_VERSION})"
  "conversions between VISCII and VIQR Vietnamese text (development files)"
  "${library_description}This package holds the header viqr.h for C and C++, the static library, the\npkg-config file, the CMake package and the manual page viqr(3).")

# What build-debs.sh reads: the version and each package with its component.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/packaging/packages
  "${PROJECT_VERSION}\n${deb_tools} tools\n${deb_runtime} runtime\n${deb_dev} dev\n")
