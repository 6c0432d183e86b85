# Gives a Windows exe a VERSIONINFO resource (product, version, description), so the
# version shows in the file's properties. The numbers come from project(VERSION).
function(wza_add_version_resource target description)
  set(WZA_RC_NAME ${target})
  set(WZA_RC_DESCRIPTION "${description}")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/res/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
