# Windows-only build helper: compiles app/resources/tonvarel.rc into a target.
#
#   include(Win32Resources)
#   tonvarel_add_resources(tonvarel)
#
# For MinGW (windres) and MSVC (rc.exe).

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
