# Build settings shared by the presets: warnings, the Windows program's shape,
# GoogleTest, and running Windows test programs under Wine.

# Warnings are errors for our own code. Linked privately into every target we
# write; GoogleTest keeps its own flags.
add_library(cleanlum_warnings INTERFACE)
if(MSVC)
  target_compile_options(cleanlum_warnings INTERFACE /W4 /WX /utf-8)
  # The run log uses the standard fopen and getenv, which MSVC would flag.
  target_compile_definitions(cleanlum_warnings INTERFACE _CRT_SECURE_NO_WARNINGS)
  target_link_options(cleanlum_warnings INTERFACE /WX)
else()
  target_compile_options(cleanlum_warnings INTERFACE -Wall -Wextra -Werror)
endif()

# Every Windows program runs with no DLL beyond the system's own.
macro(cleanlum_use_static_runtime)
  if(MSVC)
    set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  elseif(MINGW)
    add_link_options(-static -static-libgcc -static-libstdc++)
  endif()
endmacro()

# Test programs cross-compiled with mingw run under Wine, one process per
# suite, each in a throw-away prefix inside the build folder (copied from a
# template booted once) with its own Wine session and Xvfb display.
macro(cleanlum_use_wine_emulator)
  if(MINGW AND CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
    find_program(PYTHON3 python3 REQUIRED)
    set(CMAKE_CROSSCOMPILING_EMULATOR
        ${CMAKE_COMMAND} -E env CLEANLUM_BUILD_DIR=${CMAKE_BINARY_DIR} PYTHONDONTWRITEBYTECODE=1
        ${PYTHON3} ${CMAKE_SOURCE_DIR}/tests/e2e/winebed.py run)
  endif()
endmacro()

# The program's manifest asks for nothing: no elevation and no supportedOS, so
# GetVersionExA reports what Windows reports to an undeclared program. It is
# embedded as resource 1 of type RT_MANIFEST by our own resource script rather
# than left to the toolchain (some mingw distributions link a default manifest
# that declares supportedOS); the end-to-end tests read it back from the program.
# A test program may name another manifest: cleanlum_windows_program(t MANIFEST file).
set(CLEANLUM_MANIFEST ${CMAKE_SOURCE_DIR}/cmake/windows/program.manifest)
function(cleanlum_windows_program target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "MANIFEST" "")
  if(NOT arg_MANIFEST)
    set(arg_MANIFEST ${CLEANLUM_MANIFEST})
  endif()
  get_filename_component(manifest_name ${arg_MANIFEST} NAME_WE)
  set(rc ${CMAKE_BINARY_DIR}/generated/${manifest_name}_manifest.rc)
  file(CONFIGURE OUTPUT ${rc} CONTENT "1 24 \"${arg_MANIFEST}\"\n")
  target_sources(${target} PRIVATE ${rc})
  set_property(SOURCE ${rc} APPEND PROPERTY OBJECT_DEPENDS ${arg_MANIFEST})
  if(MSVC)
    target_link_options(${target} PRIVATE /MANIFEST:NO)
  endif()
endfunction()

# GoogleTest built from source with the same compiler as the code under test
# (Debian's /usr/src/googletest, or any checkout named by GTEST_SOURCE_DIR);
# without sources, an installed GoogleTest package built for the same runtime
# (with MSVC the static one, e.g. vcpkg's x64-windows-static).
set(GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
macro(cleanlum_add_googletest)
  if(GTEST_SOURCE_DIR AND EXISTS ${GTEST_SOURCE_DIR}/CMakeLists.txt)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    if(NOT MSVC)
      set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    endif()
    add_subdirectory(${GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  else()
    find_package(GTest CONFIG REQUIRED)
  endif()
endmacro()

# Precompiles GoogleTest's header for a test program, or reuses the one of
# another (cleanlum_precompile_gtest(t REUSE_FROM other)). Call it after every
# source has been added: a source compiled with its own optimisation level
# cannot use a header precompiled without it (GCC refuses it, and
# -Winvalid-pch is an error here), so such a source is compiled without it.
function(cleanlum_precompile_gtest target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "REUSE_FROM" "")
  if(arg_REUSE_FROM)
    target_precompile_headers(${target} REUSE_FROM ${arg_REUSE_FROM})
  else()
    target_precompile_headers(${target} PRIVATE <gtest/gtest.h>)
  endif()
  get_target_property(sources ${target} SOURCES)
  foreach(source IN LISTS sources)
    get_source_file_property(options ${source} COMPILE_OPTIONS)
    if(options MATCHES "(^|;)[-/]O")
      set_source_files_properties(${source} PROPERTIES SKIP_PRECOMPILE_HEADERS ON)
    endif()
  endforeach()
endfunction()

# Compiles a message-text file (.mc) into a resource script and adds it to a
# program: mingw's windmc, or the Windows SDK's mc.exe under MSVC.
function(cleanlum_add_message_table target mc_file)
  if(MSVC)
    find_program(CLEANLUM_MESSAGE_COMPILER mc REQUIRED)
  else()
    find_program(CLEANLUM_MESSAGE_COMPILER NAMES ${MINGW_TRIPLE}-windmc windmc REQUIRED)
  endif()
  get_filename_component(name ${mc_file} NAME_WE)
  set(out ${CMAKE_BINARY_DIR}/generated/messages)
  file(MAKE_DIRECTORY ${out})
  add_custom_command(
    OUTPUT ${out}/${name}.rc ${out}/${name}.h
    COMMAND ${CLEANLUM_MESSAGE_COMPILER} -h ${out} -r ${out} ${mc_file}
    DEPENDS ${mc_file}
    WORKING_DIRECTORY ${out}
    VERBATIM)
  target_sources(${target} PRIVATE ${out}/${name}.rc)
  set_source_files_properties(${out}/${name}.rc PROPERTIES GENERATED TRUE)
  target_include_directories(${target} PRIVATE ${out})
endfunction()
# nlohmann-json, header-only: NLOHMANN_JSON_DIR is a folder that holds
# nlohmann/json.hpp (Debian's nlohmann-json3-dev puts it in /usr/include; with
# MSVC, e.g. vcpkg's include folder). A folder holding only the library's
# headers is made in the build tree and put on the include path.
set(NLOHMANN_JSON_DIR /usr/include CACHE PATH "Folder that holds nlohmann/json.hpp")
if(NOT EXISTS ${NLOHMANN_JSON_DIR}/nlohmann/json.hpp)
  message(FATAL_ERROR "nlohmann/json.hpp not found in NLOHMANN_JSON_DIR (${NLOHMANN_JSON_DIR}); "
                      "install nlohmann-json3-dev or set NLOHMANN_JSON_DIR")
endif()
set(CLEANLUM_JSON_INCLUDE_DIR ${CMAKE_BINARY_DIR}/third_party/include)
if(NOT EXISTS ${CLEANLUM_JSON_INCLUDE_DIR}/nlohmann)
  file(MAKE_DIRECTORY ${CLEANLUM_JSON_INCLUDE_DIR})
  file(COPY ${NLOHMANN_JSON_DIR}/nlohmann DESTINATION ${CLEANLUM_JSON_INCLUDE_DIR})
endif()
