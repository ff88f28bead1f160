# How Corvane's programs are linked and finished, for the test run and the release alike.

# corvane_programs(variable)
# Sets variable to every executable and DLL defined in this source tree (not GoogleTest's own
# targets).
function(corvane_programs variable)
  set(programs)
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
        list(APPEND programs ${target})
      endif()
    endforeach()
  endwhile()
  set(${variable} ${programs} PARENT_SCOPE)
endfunction()

# corvane_link_everywhere(library)
# Links library into every program of this source tree. Call it once, after all subdirectories
# are added.
function(corvane_link_everywhere library)
  corvane_programs(programs)
  foreach(target IN LISTS programs)
    target_link_libraries(${target} PRIVATE ${library})
  endforeach()
endfunction()

# corvane_optimise_at_link(target)
# Links target with the link-time optimiser, for size (the objects are compiled for it; see
# CMakeLists.txt): it drops and merges code across files that the compiler alone keeps.
function(corvane_optimise_at_link target)
  set_property(TARGET ${target} PROPERTY CORVANE_OPTIMISED_AT_LINK ON)
  target_link_options(${target} PRIVATE -flto=2 -Os)
endfunction()

# corvane_link_the_rest_plainly()
# Every other program links the objects' ordinary code: with the optimiser's form in an object,
# GCC would otherwise optimise at link whatever it is told. Call it once, after all
# subdirectories are added.
function(corvane_link_the_rest_plainly)
  corvane_programs(programs)
  foreach(target IN LISTS programs)
    get_target_property(optimised ${target} CORVANE_OPTIMISED_AT_LINK)
    if(NOT optimised)
      target_link_options(${target} PRIVATE -fno-lto)
    endif()
  endforeach()
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
