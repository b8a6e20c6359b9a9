# kvx_helper_dll(TARGET): a DLL of ours that a setup engine loads into its own process (the
# MSI packages' custom actions, the setup program's in-process helper) on Windows 2000 as
# well: static, with no runtime DLLs beside it, undecorated __stdcall exports, small.
function(kvx_helper_dll target)
    set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${target})
    target_compile_definitions(${target} PRIVATE __USE_MINGW_ANSI_STDIO=0 WIN32_LEAN_AND_MEAN
                                                 NOMINMAX)
    target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti -Os -ffunction-sections
                                             -fdata-sections)
    target_link_options(${target} PRIVATE -static -s -Wl,--gc-sections -Wl,--enable-stdcall-fixup
        -Wl,--major-os-version,5,--minor-os-version,0
        -Wl,--major-subsystem-version,5,--minor-subsystem-version,0)
endfunction()
