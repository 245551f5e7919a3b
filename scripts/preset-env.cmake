# Prints the environment and the label filter of a test preset in
# CMakePresets.json as shell assignments, so that scripts run ctest on a
# build folder of their choice with exactly the preset's sanitizer options:
#
#   eval "$(cmake -DPRESET=tsan -P scripts/preset-env.cmake)"
#   ctest --test-dir build-nora-tsan -L "$TIVARO_TEST_LABELS" ...
#
# Environment entries of inherited presets come first; a preset's own
# entries override them. ${sourceDir} is replaced by the source folder.
cmake_minimum_required(VERSION 3.25)
if(NOT PRESET)
    message(FATAL_ERROR "usage: cmake -DPRESET=<test preset> -P scripts/preset-env.cmake")
endif()
get_filename_component(source_dir "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
file(READ "${source_dir}/CMakePresets.json" presets)

function(find_test_preset name out)
    string(JSON count LENGTH "${presets}" testPresets)
    math(EXPR last "${count} - 1")
    foreach(i RANGE ${last})
        string(JSON preset GET "${presets}" testPresets ${i})
        string(JSON preset_name GET "${preset}" name)
        if(preset_name STREQUAL name)
            set(${out} "${preset}" PARENT_SCOPE)
            return()
        endif()
    endforeach()
    message(FATAL_ERROR "No test preset named ${name}")
endfunction()

# Collects NAME=VALUE entries (inherited first) into `environment`, and the
# nearest label filter into `labels`.
function(collect name)
    find_test_preset(${name} preset)
    string(JSON inherits ERROR_VARIABLE no_inherits GET "${preset}" inherits)
    if(NOT no_inherits)
        collect(${inherits})
    endif()
    string(JSON env ERROR_VARIABLE no_env GET "${preset}" environment)
    if(NOT no_env)
        string(JSON count LENGTH "${env}")
        math(EXPR last "${count} - 1")
        foreach(i RANGE ${last})
            string(JSON key MEMBER "${env}" ${i})
            string(JSON value GET "${env}" "${key}")
            string(REPLACE "\${sourceDir}" "${source_dir}" value "${value}")
            set(environment_${key} "${value}")
            list(APPEND keys ${key})
        endforeach()
    endif()
    string(JSON label ERROR_VARIABLE no_label GET "${preset}" filter include label)
    if(NOT no_label)
        set(labels "${label}")
    endif()
    list(REMOVE_DUPLICATES keys)
    foreach(key ${keys})
        set(environment_${key} "${environment_${key}}" PARENT_SCOPE)
    endforeach()
    set(keys "${keys}" PARENT_SCOPE)
    set(labels "${labels}" PARENT_SCOPE)
endfunction()

set(keys)
set(labels "")
collect(${PRESET})
set(lines "")
foreach(key ${keys})
    string(APPEND lines "export ${key}='${environment_${key}}'\n")
endforeach()
string(APPEND lines "TIVARO_TEST_LABELS='${labels}'\n")
execute_process(COMMAND ${CMAKE_COMMAND} -E echo_append "${lines}")
