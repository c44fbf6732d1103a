# korvan_add_windows_resources(TARGET DESCRIPTION): gives a Windows program its version
# resource (product name, file version, copyright, as Explorer's Properties show them) and
# the application manifest. The version is the project's.
enable_language(RC)
set(KORVAN_WINDOWS_RESOURCES_DIR ${CMAKE_CURRENT_LIST_DIR})

function(korvan_add_windows_resources target description)
    set(KORVAN_FILE_DESCRIPTION "${description}")
    set(KORVAN_FILE_NAME "${target}")
    set(KORVAN_MANIFEST ${CMAKE_CURRENT_BINARY_DIR}/${target}.manifest)
    configure_file(${KORVAN_WINDOWS_RESOURCES_DIR}/app.manifest.in ${KORVAN_MANIFEST} @ONLY)
    set(rc_file ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
    configure_file(${KORVAN_WINDOWS_RESOURCES_DIR}/version_info.rc.in ${rc_file} @ONLY)
    target_sources(${target} PRIVATE ${rc_file})
    set_source_files_properties(${rc_file} PROPERTIES OBJECT_DEPENDS ${KORVAN_MANIFEST})
endfunction()
