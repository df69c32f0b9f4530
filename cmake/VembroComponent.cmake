# vembro_add_component(<target> <sources...>): a component COM server DLL,
# <target>.dll, built on the kit, exporting DllGetClassObject,
# DllCanUnloadNow, DllRegisterServer and DllUnregisterServer, with its
# runtime linked statically. Shared by this tree and the installed kit
# (VembroConfig.cmake), which set VEMBRO_KIT_SOURCE_DIR and Vembro::kit.
function(vembro_add_component target)
    add_library(${target} SHARED ${ARGN}
        ${VEMBRO_KIT_SOURCE_DIR}/DllExports.cpp ${VEMBRO_KIT_SOURCE_DIR}/component.def)
    set_target_properties(${target} PROPERTIES PREFIX "")
    target_compile_features(${target} PRIVATE cxx_std_17)
    target_link_libraries(${target} PRIVATE Vembro::kit)
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        # The .def file names the stdcall exports without decoration.
        target_link_options(${target} PRIVATE -Wl,--enable-stdcall-fixup)
    endif()
endfunction()
