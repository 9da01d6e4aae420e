# The nine screen pictures, drawn at build time by mkpictures (tools/mkpictures.cpp) into
# ${CMAKE_BINARY_DIR}/pictures, the working directory of ampctl on the simulated unit.
set(AMPCTL_PICTURE_NAMES start start120 status statusB img1 img1b img3 img3b m5a)
set(AMPCTL_PICTURE_DIR ${CMAKE_BINARY_DIR}/pictures)
set(AMPCTL_PICTURES "")
foreach(picture ${AMPCTL_PICTURE_NAMES})
  list(APPEND AMPCTL_PICTURES ${AMPCTL_PICTURE_DIR}/${picture}.png)
endforeach()

add_custom_command(
  OUTPUT ${AMPCTL_PICTURES}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${AMPCTL_PICTURE_DIR}
  COMMAND mkpictures ${AMPCTL_PICTURE_DIR}
  DEPENDS mkpictures
  COMMENT "Drawing the screen pictures"
  VERBATIM)
add_custom_target(pictures ALL DEPENDS ${AMPCTL_PICTURES})
add_dependencies(ampctl pictures)
