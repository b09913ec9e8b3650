# Windows-only build helpers: the resource script, and code page 932 string literals.
#
#   include(Win32Resources)
#   tonvarel_add_resources(tonvarel)              # links app/resources/tonvarel.rc into the .exe
#   tonvarel_cp932_literals(engine wavfile app)   # narrow literals become code page 932 bytes
#
# Works with MinGW (windres, GCC) and with MSVC (rc.exe, cl.exe).

if(CMAKE_VERSION VERSION_LESS 3.18)
  message(FATAL_ERROR "Win32Resources needs CMake 3.18 or newer")
endif()

get_filename_component(TONVAREL_RESOURCE_DIR "${CMAKE_CURRENT_LIST_DIR}/../app/resources"
                       ABSOLUTE)

function(tonvarel_add_resources target)
  set(dir "${TONVAREL_RESOURCE_DIR}")
  target_sources(${target} PRIVATE "${dir}/tonvarel.rc")
  # resource.h is shared with the window code; the resource compiler also looks here for the
  # icon and the manifest, since it runs in the build directory.
  target_include_directories(${target} PRIVATE "${dir}")
  # The resource compiler reads these itself; CMake does not see them as dependencies.
  set_source_files_properties(
    "${dir}/tonvarel.rc" TARGET_DIRECTORY ${target}
    PROPERTIES OBJECT_DEPENDS "${dir}/resource.h;${dir}/tonvarel.ico;${dir}/tonvarel.manifest")
  # The manifest is resource 1 of the script; MSVC's linker would add a second one.
  target_link_options(${target} PRIVATE "$<$<CXX_COMPILER_ID:MSVC>:/MANIFEST:NO>")
endfunction()

# The texts the program hands to the 8-bit Windows calls (message boxes, chooser titles) are
# written in UTF-8 in the sources and must reach Windows as code page 932 bytes. Both compilers
# convert after escape processing, so trail bytes of 0x5C (表, ソ, 能) stay ordinary bytes.
# Clang cannot store literals in any charset but UTF-8.
function(tonvarel_cp932_literals)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "^(GNU|MSVC)$")
    message(FATAL_ERROR "Code page 932 string literals need GCC or MSVC, "
                        "not ${CMAKE_CXX_COMPILER_ID}")
  endif()
  foreach(target IN LISTS ARGN)
    target_compile_options(
      ${target}
      PRIVATE "$<$<COMPILE_LANG_AND_ID:CXX,GNU>:-finput-charset=UTF-8;-fexec-charset=CP932>"
              "$<$<COMPILE_LANG_AND_ID:CXX,MSVC>:/source-charset:utf-8;/execution-charset:.932>")
  endforeach()
endfunction()
