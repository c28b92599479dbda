# What the packages carry besides the programs, made at build time so that
# each fact has one source: the license (LICENSE, as Debian's
# machine-readable copyright file too), the changelog Debian wants (version,
# maintainer and date from the build, the date from SOURCE_DATE_EPOCH when
# it is set, so that two builds of one commit match), and the man pages
# compressed as Debian wants them (gzip -n: no name and no time inside).
find_program(GZIP_PROGRAM gzip REQUIRED)
set(packaging ${PROJECT_BINARY_DIR}/packaging)

# Debian's copyright file: the license's text, each paragraph indented, a
# " ." between paragraphs.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
string(REGEX REPLACE "^MIT License\n\n[^\n]*\n\n" "" license_body "${license}")
string(REGEX REPLACE "\n+$" "" license_body "${license_body}")
string(REPLACE "\n\n" "\n.\n" license_body "${license_body}")
string(REPLACE "\n" "\n " license_body "${license_body}")
string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" license_holder "${license}")
file(WRITE ${packaging}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: wav2ima

Files: *
Copyright: ${CMAKE_MATCH_1}
License: MIT
 ${license_body}
")

string(TIMESTAMP release_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${packaging}/changelog @ONLY)

set(compressed)
foreach(source man/wav2ima.1 man/ima2wav.1 man/imaenc.1 man/wavcheck.1 changelog)
  get_filename_component(name ${source} NAME)
  set(from ${PROJECT_SOURCE_DIR}/${source})
  if(source STREQUAL "changelog")
    set(from ${packaging}/changelog)
  endif()
  add_custom_command(OUTPUT ${packaging}/${name}.gz
    COMMAND ${GZIP_PROGRAM} -9 -n -c ${from} > ${packaging}/${name}.gz
    DEPENDS ${from} VERBATIM)
  list(APPEND compressed ${packaging}/${name}.gz)
endforeach()
add_custom_target(packaging_files ALL DEPENDS ${compressed})
