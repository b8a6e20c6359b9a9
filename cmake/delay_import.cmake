# A delay-import library for a system DLL: a program linked with it binds the DLL's functions
# at their first call instead of at its start, so that it can first load the DLL itself from
# where it chooses (the system folder), before the loader's search could find another copy.
#
#   kvx_delay_import_library(OUT_VAR DLL_NAME IMPORT_LIBRARY FUNCTION...)
#
# OUT_VAR gets an object file to link with (before the ordinary import library) and
# OUT_VAR_target the target that makes it, for the FUNCTIONs named, as the toolchain's import
# library IMPORT_LIBRARY (a full path) declares them. A function the program calls and the
# list lacks comes from the ordinary import library, bound at the start again: the host's
# test checks that the DLL is not among the program's imports.
find_program(KVX_DELAY_DLLTOOL NAMES ${KVX_MINGW_TRIPLET}-dlltool REQUIRED)
find_program(KVX_DELAY_NM NAMES ${KVX_MINGW_TRIPLET}-nm REQUIRED)
find_program(KVX_DELAY_LD NAMES ${KVX_MINGW_TRIPLET}-ld REQUIRED)

function(kvx_delay_import_library out_var dll_name import_library)
    string(REGEX REPLACE "\\.dll$" "" stem "${dll_name}")
    execute_process(COMMAND ${KVX_DELAY_NM} --defined-only "${import_library}"
                    OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
    # The functions' own code symbols: "_Name@N" on 32-bit x86, "Name" on x64.
    string(REGEX MATCHALL "[0-9a-f]+ T [^\n]+" lines "${symbols}")
    set(def "LIBRARY ${dll_name}\nEXPORTS\n")
    foreach(line IN LISTS lines)
        string(REGEX REPLACE "^[0-9a-f]+ T " "" name "${line}")
        if(CMAKE_SIZEOF_VOID_P EQUAL 4)
            string(REGEX REPLACE "^_" "" name "${name}")
        endif()
        string(REGEX REPLACE "@[0-9]+$" "" plain "${name}")
        if(plain IN_LIST ARGN)
            string(APPEND def "${name}\n")
        endif()
    endforeach()
    set(folder ${CMAKE_CURRENT_BINARY_DIR}/delay-import)
    file(MAKE_DIRECTORY ${folder})
    file(WRITE ${folder}/${stem}.def "${def}")
    set(machine i386:x86-64)
    set(kill_at)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        set(machine i386)
        set(kill_at --kill-at)
    endif()
    # Linked as one object, not as the archive dlltool writes: ld 2.40 takes the 32-bit
    # archive's stubs for absolute symbols at address 0 (a call then jumps to 0), while the
    # same members linked as objects are sound. Head first and tail last, so that the import
    # tables' sections come out in their order.
    set(object ${folder}/${stem}_delay.o)
    add_custom_command(OUTPUT ${object}
        COMMAND ${KVX_DELAY_DLLTOOL} -m ${machine} ${kill_at} -d ${stem}.def
                -y lib${stem}_delay.a --temp-prefix ${stem} --deterministic-libraries
        COMMAND ${CMAKE_COMMAND} -E rm -rf ${stem}-members
        COMMAND ${CMAKE_COMMAND} -E make_directory ${stem}-members
        COMMAND ${CMAKE_COMMAND} -E chdir ${stem}-members ${CMAKE_AR} x ../lib${stem}_delay.a
        COMMAND sh -c "${KVX_DELAY_LD} -r -o ${stem}_delay.o ${stem}-members/${stem}h.o \
                $(ls ${stem}-members/${stem}s*.o | LC_ALL=C sort) ${stem}-members/${stem}t.o"
        DEPENDS ${folder}/${stem}.def WORKING_DIRECTORY ${folder} VERBATIM)
    add_custom_target(${stem}_delay_object DEPENDS ${object})
    set(${out_var} ${object} PARENT_SCOPE)
    set(${out_var}_target ${stem}_delay_object PARENT_SCOPE)
endfunction()
