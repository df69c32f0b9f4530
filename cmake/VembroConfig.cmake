# find_package(Vembro): the component kit for one architecture, picked by
# the pointer size of the project that asks (lib/i686 or lib/x86_64 of this
# folder), as the target Vembro::kit, and vembro_add_component().
get_filename_component(_vembro_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(_vembro_arch x86_64)
else()
    set(_vembro_arch i686)
endif()
set(_vembro_lib "${_vembro_prefix}/lib/${_vembro_arch}")
foreach(_vembro_name com guids formats kit)
    if(NOT EXISTS "${_vembro_lib}/libvembro_${_vembro_name}.a")
        set(Vembro_FOUND FALSE)
        set(Vembro_NOT_FOUND_MESSAGE "this kit has no ${_vembro_arch} libraries (${_vembro_lib})")
        return()
    endif()
endforeach()

if(NOT TARGET Vembro::kit)
    add_library(Vembro::com STATIC IMPORTED)
    set_target_properties(Vembro::com PROPERTIES
        IMPORTED_LOCATION "${_vembro_lib}/libvembro_com.a"
        INTERFACE_INCLUDE_DIRECTORIES "${_vembro_prefix}/include"
        INTERFACE_LINK_LIBRARIES "ole32;oleaut32;uuid")
    add_library(Vembro::guids STATIC IMPORTED)
    set_target_properties(Vembro::guids PROPERTIES
        IMPORTED_LOCATION "${_vembro_lib}/libvembro_guids.a"
        INTERFACE_INCLUDE_DIRECTORIES "${_vembro_prefix}/include")
    add_library(Vembro::formats STATIC IMPORTED)
    set_target_properties(Vembro::formats PROPERTIES
        IMPORTED_LOCATION "${_vembro_lib}/libvembro_formats.a"
        INTERFACE_LINK_LIBRARIES "Vembro::com;Vembro::guids")
    add_library(Vembro::kit STATIC IMPORTED)
    set_target_properties(Vembro::kit PROPERTIES
        IMPORTED_LOCATION "${_vembro_lib}/libvembro_kit.a"
        INTERFACE_INCLUDE_DIRECTORIES "${_vembro_prefix}/include"
        INTERFACE_COMPILE_DEFINITIONS "UNICODE;_UNICODE"
        INTERFACE_LINK_LIBRARIES "Vembro::formats;Vembro::com;Vembro::guids;advapi32;shlwapi")
endif()

set(VEMBRO_KIT_SOURCE_DIR "${_vembro_prefix}/share/vembro/kit")
include("${CMAKE_CURRENT_LIST_DIR}/VembroComponent.cmake")
set(Vembro_FOUND TRUE)
