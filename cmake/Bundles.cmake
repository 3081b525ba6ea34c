# Lays the programs out as application bundles:
#   Corvane.app/Contents/{Info.plist, MacOS/Corvane}
#   Corvane.app/Contents/Library/CorvaneHelper.app (and a copy under Library/LoginItems/), with the desktop's
#     hand-off program beside the helper (Contents/MacOS/CorvaneHandOff), which its desktop entry runs
#   Corvane.app/Contents/Library/StubTemplate.app (executable Contents/MacOS/CorvaneStub)
set(CORVANE_APP "${CMAKE_BINARY_DIR}/Corvane.app")
string(TIMESTAMP CORVANE_BUILD_DATE "%Y-%m-%dT%H:%M:%SZ" UTC)

# corvane_bundle(<target> BUNDLE <dir> IDENTIFIER <id> NAME <name> [PLIST_EXTRA <xml>])
function(corvane_bundle target)
    cmake_parse_arguments(ARG "" "BUNDLE;IDENTIFIER;NAME;PLIST_EXTRA" "" ${ARGN})
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${ARG_BUNDLE}/Contents/MacOS")
    set(BUNDLE_EXECUTABLE "$<TARGET_FILE_NAME:${target}>")
    set(BUNDLE_EXECUTABLE "${target}")
    set(BUNDLE_IDENTIFIER "${ARG_IDENTIFIER}")
    set(BUNDLE_NAME "${ARG_NAME}")
    set(BUNDLE_VERSION "${CORVANE_BUNDLE_VERSION}")
    set(BUNDLE_BUILD "${CORVANE_BUILD_NUMBER}")
    set(BUNDLE_BUILD_DATE "${CORVANE_BUILD_DATE}")
    set(BUNDLE_PLIST_EXTRA "${ARG_PLIST_EXTRA}")
    configure_file("${PROJECT_SOURCE_DIR}/cmake/Info.plist.in" "${ARG_BUNDLE}/Contents/Info.plist" @ONLY)
endfunction()

# corvane_bundle_program(<target> BUNDLE <dir>): a further program of a bundle, beside its main executable.
function(corvane_bundle_program target)
    cmake_parse_arguments(ARG "" "BUNDLE" "" ${ARGN})
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${ARG_BUNDLE}/Contents/MacOS")
endfunction()
