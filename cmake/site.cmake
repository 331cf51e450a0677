# The config site's address and pages: written here once, and handed to the
# code (quillon/site.h), to the shell scripts (quillon/site.sh, sourced) and
# to the desktop launcher (packaging/linux), all generated into the build tree.
set(QUILLON_SITE_ADDRESS 127.0.0.1)
set(QUILLON_SITE_PORT 18080)
set(QUILLON_SITE_HOST "${QUILLON_SITE_ADDRESS}:${QUILLON_SITE_PORT}")
set(QUILLON_SITE_GATE_PATH /flq/v.php)
set(QUILLON_SITE_DOWNLOADS_PATH /flq/pz.php)
set(QUILLON_SITE_TUTORIAL_PATH /flq/jc.php)

configure_file("${CMAKE_CURRENT_LIST_DIR}/site.h.in" "${QUILLON_GENERATED_DIR}/quillon/site.h" @ONLY)
configure_file("${CMAKE_CURRENT_LIST_DIR}/site.sh.in" "${QUILLON_GENERATED_DIR}/quillon/site.sh" @ONLY)
