# Compiler settings shared by every target of the project.

# All includes are relative to the source root: #include "general/log.h".
include_directories(${PROJECT_SOURCE_DIR})

add_compile_options(-Wall -Wextra)
if(TIVARO_WERROR)
    add_compile_options(-Werror)
endif()

add_compile_definitions(TIVARO_VERSION="${TIVARO_VERSION_STRING}")

if(TIVARO_SANITIZE)
    string(REPLACE ";" "," _tivaro_sanitizers "${TIVARO_SANITIZE}")
    add_compile_options(-fsanitize=${_tivaro_sanitizers} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${_tivaro_sanitizers})
endif()
# ThreadSanitizer cannot see inside Debian's Qt: tivaro_tsan_qt shows it the
# synchronisation Qt does (docs/reliability.md); tests link it.
if("thread" IN_LIST TIVARO_SANITIZE)
    add_subdirectory(${PROJECT_SOURCE_DIR}/tools/sanitizers ${PROJECT_BINARY_DIR}/tools/sanitizers)
endif()

find_program(TIVARO_CCACHE ccache)
if(TIVARO_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
    set(CMAKE_CXX_COMPILER_LAUNCHER ${TIVARO_CCACHE})
endif()

# Settings shared by the project's libraries and executables.
function(tivaro_target_defaults target)
    set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
endfunction()

# Executables (the program, the CLI, tests, benchmarks) go to one folder, next
# to the "settings" folder that the program looks for beside itself.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)

# Adds every source file of the calling folder to a target. Folders hold one
# class per header, so a new class is picked up without touching CMake.
function(tivaro_glob_sources target)
    cmake_parse_arguments(ARG "" "" "EXCLUDE" ${ARGN})
    file(GLOB _sources CONFIGURE_DEPENDS
        ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h
        ${CMAKE_CURRENT_SOURCE_DIR}/*.ui)
    foreach(excluded ${ARG_EXCLUDE})
        list(REMOVE_ITEM _sources ${CMAKE_CURRENT_SOURCE_DIR}/${excluded})
    endforeach()
    if(_sources)
        target_sources(${target} PRIVATE ${_sources})
    endif()
endfunction()

# A static library for one layer, made of the sources of the calling folder:
#   tivaro_layer(tivaro_dali LIBS tivaro_usb [EXCLUDE file.cpp ...])
function(tivaro_layer target)
    cmake_parse_arguments(ARG "" "" "LIBS;EXCLUDE" ${ARGN})
    qt_add_library(${target} STATIC ${PROJECT_SOURCE_DIR}/cmake/empty.cpp)
    tivaro_glob_sources(${target} EXCLUDE ${ARG_EXCLUDE})
    target_link_libraries(${target} PUBLIC ${ARG_LIBS})
    tivaro_target_defaults(${target})
endfunction()
