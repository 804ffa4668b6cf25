# The programs are laid out as application bundles in the build tree:
#   Quaymark.app/Contents/{Info.plist, MacOS/Quaymark, Resources/...}
#   Quaymark.app/Contents/MacOS/QuaymarkHelper.app/Contents/{Info.plist, MacOS/QuaymarkHelper}
set(QUAYMARK_APP_DIR "${CMAKE_BINARY_DIR}/Quaymark.app")
set(QUAYMARK_HELPER_APP_DIR "${QUAYMARK_APP_DIR}/Contents/MacOS/QuaymarkHelper.app")
