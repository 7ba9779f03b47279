# kelvatone_include_root(TARGET FOLDER)
#
# Gives TARGET an include root of its own in the build tree that holds FOLDER alone, as
# a link to the source folder, so that #include "FOLDER/..." resolves for TARGET and for
# the targets that link it, and for no others: a folder's headers are reachable only
# along the dependencies the targets declare (which follow docs/layering.txt).
function(kelvatone_include_root target folder)
  set(root ${CMAKE_BINARY_DIR}/include-roots/${target})
  set(link ${root}/${folder})
  get_filename_component(parent ${link} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  if(NOT IS_SYMLINK ${link})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${link} SYMBOLIC)
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()
