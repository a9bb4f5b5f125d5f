# The companion app's package, built from companion/ by build-apk.sh into the build tree. Included by
# resources/CMakeLists.txt, whose resource target embeds the package, so that the rule lives in the same
# directory as its user. Sets COMPANION_BUILT_APK and COMPANION_BUILT_DEX; target companion-apk builds them.
set(COMPANION_SOURCE_DIR ${PROJECT_SOURCE_DIR}/companion)
set(companion_out ${PROJECT_BINARY_DIR}/companion)
set(COMPANION_BUILT_APK ${companion_out}/com.tallowbrook.contactssync.apk CACHE INTERNAL "")
set(COMPANION_BUILT_DEX ${companion_out}/companion-classes.dex CACHE INTERNAL "")

file(GLOB_RECURSE companion_inputs CONFIGURE_DEPENDS
  ${COMPANION_SOURCE_DIR}/src/*.java ${COMPANION_SOURCE_DIR}/stubs/*.java ${COMPANION_SOURCE_DIR}/res/*
  ${COMPANION_SOURCE_DIR}/tools/*)
list(APPEND companion_inputs
  ${COMPANION_SOURCE_DIR}/AndroidManifest.xml ${COMPANION_SOURCE_DIR}/version.txt
  ${COMPANION_SOURCE_DIR}/platform-members.txt ${COMPANION_SOURCE_DIR}/build-apk.sh
  ${COMPANION_SOURCE_DIR}/signing/development.p12)

add_custom_command(OUTPUT ${COMPANION_BUILT_APK} ${COMPANION_BUILT_DEX}
  COMMAND ${COMPANION_SOURCE_DIR}/build-apk.sh ${COMPANION_BUILT_APK} ${companion_out}/work
  DEPENDS ${companion_inputs}
  COMMENT "Building the companion app package (companion/build-apk.sh)"
  VERBATIM)
add_custom_target(companion-apk DEPENDS ${COMPANION_BUILT_APK})
