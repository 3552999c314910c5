# velmoravad_add_version_resource(TARGET DESCRIPTION): gives a program's .exe a
# version resource with the project's version (FileVersion, ProductVersion,
# ProductName, FileDescription). Windows builds only; elsewhere it does nothing.
function(velmoravad_add_version_resource target description)
  if(NOT WIN32)
    return()
  endif()
  set(VELMORAVAD_PROGRAM ${target})
  set(VELMORAVAD_PROGRAM_DESCRIPTION ${description})
  set(resource ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${resource} @ONLY)
  target_sources(${target} PRIVATE ${resource})
endfunction()
