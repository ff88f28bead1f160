# How Corvane's programs are linked and finished, for the test run and the release alike.

# corvane_link_everywhere(library)
# Links library into every executable and DLL defined in this source tree (not into
# GoogleTest's own targets). Call it once, after all subdirectories are added.
function(corvane_link_everywhere library)
  set(folders ${CMAKE_SOURCE_DIR})
  while(folders)
    list(POP_FRONT folders folder)
    get_property(children DIRECTORY ${folder} PROPERTY SUBDIRECTORIES)
    foreach(child IN LISTS children)
      cmake_path(IS_PREFIX CMAKE_SOURCE_DIR ${child} NORMALIZE inside)
      if(inside)
        list(APPEND folders ${child})
      endif()
    endforeach()
    get_property(targets DIRECTORY ${folder} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target IN LISTS targets)
      get_target_property(type ${target} TYPE)
      if(type STREQUAL "EXECUTABLE" OR type STREQUAL "SHARED_LIBRARY")
        target_link_libraries(${target} PRIVATE ${library})
      endif()
    endforeach()
  endwhile()
endfunction()

# corvane_split_debug(target)   (in the folder that defines target)
# After each link, moves the target's debug information and symbols into <file>.debug beside
# it and leaves the program stripped, with a debug link that names that file (a debugger finds
# it there). What ships carries no .debug_* section.
function(corvane_split_debug target)
  set(file $<TARGET_FILE:${target}>)
  set(symbols $<TARGET_FILE_NAME:${target}>.debug)
  # Each tool writes the time of its run into the image's header unless told a fixed time: with
  # the release's link stamp of 0, one commit then gives the same programs and symbols on every
  # build.
  set(stamped ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0)
  add_custom_command(
    TARGET ${target} POST_BUILD
    WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
    COMMAND ${stamped} ${CMAKE_OBJCOPY} --only-keep-debug ${file} ${symbols}
    COMMAND ${stamped} ${CMAKE_STRIP} --strip-all ${file}
    # Given by its bare name, so that the link records only the file name, not this folder.
    COMMAND ${stamped} ${CMAKE_OBJCOPY} --add-gnu-debuglink=${symbols} ${file}
    VERBATIM)
  set_property(TARGET ${target} APPEND PROPERTY ADDITIONAL_CLEAN_FILES
                                                $<TARGET_FILE_DIR:${target}>/${symbols})
endfunction()
