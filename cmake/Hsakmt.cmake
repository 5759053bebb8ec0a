# Finds libhsakmt: a shared libhsakmt.so.1 together with the public header of the same
# installation, whose HsaNodeProperties has every recent node field below. A library is
# never paired with a header newer than its own: it would leave those fields zero.
#
# Defines:
#   hsakmt_headers  INTERFACE target: the chosen header (SYSTEM include directory)
#   hsakmt::hsakmt  the chosen library
#   HSAKMT_BESIDE_BIN  the library file installed to lib/, or "none"
#
# Installations looked at, in this order: HSAKMT_ROOT alone when it is set; else /opt/rocm,
# /usr and /usr/local, then build/deps/hsakmt, where scripts/setup.sh builds libhsakmt
# 6.2.4 from source. The first one that qualifies wins. The one built from source is
# copied to lib/ of the build tree and installed to lib/, beside bin/, where the run path
# $ORIGIN/../lib of the executables finds it.

set(HSAKMT_ROOT "" CACHE PATH
    "Installation of libhsakmt with lib/libhsakmt.so.1 and include/hsakmt/hsakmt.h (overrides the search)")

set(_hsakmt_recent_fields NumXcc KFDGpuID FamilyID UniqueID DebugProperties)
set(_hsakmt_built "${PROJECT_SOURCE_DIR}/build/deps/hsakmt")
if(HSAKMT_ROOT)
    set(_hsakmt_prefixes "${HSAKMT_ROOT}")
else()
    set(_hsakmt_prefixes /opt/rocm /usr /usr/local "${_hsakmt_built}")
endif()

# Sets <out_var> to the recent fields that the header <header> lacks.
function(_hsakmt_missing_fields header out_var)
    set(missing "")
    foreach(field IN LISTS _hsakmt_recent_fields)
        string(MAKE_C_IDENTIFIER "${header}_${field}" probe)
        set(source "${CMAKE_BINARY_DIR}/CMakeFiles/hsakmt_probe/${probe}.cpp")
        file(WRITE "${source}"
            "#include \"${header}\"\nint main() { HsaNodeProperties p{}; return static_cast<int>(sizeof(p.${field})); }\n")
        try_compile(has_field "${CMAKE_BINARY_DIR}/CMakeFiles/hsakmt_probe/${probe}"
            SOURCES "${source}"
            CXX_STANDARD 17)
        if(NOT has_field)
            list(APPEND missing ${field})
        endif()
    endforeach()
    set(${out_var} "${missing}" PARENT_SCOPE)
endfunction()

set(_hsakmt_library "")
set(_hsakmt_report "")
foreach(prefix IN LISTS _hsakmt_prefixes)
    set(library "")
    set(archive "")
    foreach(dir IN ITEMS "${prefix}/lib/${CMAKE_LIBRARY_ARCHITECTURE}" "${prefix}/lib64" "${prefix}/lib")
        if(NOT library AND EXISTS "${dir}/libhsakmt.so.1")
            set(library "${dir}/libhsakmt.so.1")
        endif()
        if(NOT archive AND EXISTS "${dir}/libhsakmt.a")
            set(archive "${dir}/libhsakmt.a")
        endif()
    endforeach()
    if(NOT library)
        if(archive)
            list(APPEND _hsakmt_report "${archive} is only a static archive")
        endif()
        continue()
    endif()
    set(header "${prefix}/include/hsakmt/hsakmt.h")
    if(NOT EXISTS "${header}")
        set(header "${prefix}/include/hsakmt.h")
    endif()
    if(NOT EXISTS "${header}")
        list(APPEND _hsakmt_report "${library} has no header in ${prefix}/include")
        continue()
    endif()
    _hsakmt_missing_fields("${header}" missing)
    if(missing STREQUAL "" AND header STREQUAL "${prefix}/include/hsakmt/hsakmt.h")
        set(_hsakmt_library "${library}")
        set(_hsakmt_include "${prefix}/include")
        break()
    endif()
    string(REPLACE ";" ", " missing_text "${missing}")
    if(missing_text STREQUAL "")
        set(missing_text "nothing, but it is not laid out as hsakmt/hsakmt.h")
    endif()
    list(APPEND _hsakmt_report "${library} is older: its header ${header} lacks ${missing_text}")
endforeach()

string(REPLACE ";" ", " _hsakmt_fields_text "${_hsakmt_recent_fields}")
if(NOT _hsakmt_library)
    list(JOIN _hsakmt_report "\n  " _hsakmt_report_text)
    message(FATAL_ERROR
        "No shared libhsakmt.so.1 whose own header has the node fields ${_hsakmt_fields_text} "
        "was found, in ${_hsakmt_prefixes} (an older library leaves XCCs, KFD GPU ID and "
        "Family ID at 0 and gets the VGPR size of GFX 9.4 wrong).\n  ${_hsakmt_report_text}\n"
        "A libhsakmt 6.x of the distribution (Debian 13 and newer: apt install libhsakmt-dev) "
        "is used as installed. Elsewhere (Debian 12; ROCm up to 6.2, which ships only a static "
        "archive; ROCm 6.3 and newer, which ship no libhsakmt of their own) run "
        "scripts/setup.sh: it builds libhsakmt 6.2.4 from Debian 13's source package into "
        "build/deps/hsakmt. Or point HSAKMT_ROOT at an installation with "
        "lib/libhsakmt.so.1 and include/hsakmt/hsakmt.h.")
endif()

if(_hsakmt_include STREQUAL "${_hsakmt_built}/include")
    set(_hsakmt_why "6.2.4 built from source by scripts/setup.sh")
    if(_hsakmt_report)
        list(JOIN _hsakmt_report "; " _hsakmt_report_text)
        string(APPEND _hsakmt_why ", since ${_hsakmt_report_text}")
    else()
        string(APPEND _hsakmt_why ", since the system has no shared libhsakmt")
    endif()
else()
    set(_hsakmt_why "its header has ${_hsakmt_fields_text}")
endif()
message(STATUS "libhsakmt: ${_hsakmt_library} with the header ${_hsakmt_include}/hsakmt/hsakmt.h: ${_hsakmt_why}")

add_library(hsakmt_headers INTERFACE)
target_include_directories(hsakmt_headers SYSTEM INTERFACE "${_hsakmt_include}")

add_library(hsakmt::hsakmt SHARED IMPORTED)
set_target_properties(hsakmt::hsakmt PROPERTIES
    IMPORTED_LOCATION "${_hsakmt_library}"
    IMPORTED_SONAME libhsakmt.so.1)
target_link_libraries(hsakmt::hsakmt INTERFACE hsakmt_headers)

# The library built from source goes beside bin/ of this build tree and of an installation.
set(HSAKMT_BESIDE_BIN none)
if(_hsakmt_include STREQUAL "${_hsakmt_built}/include")
    file(REAL_PATH "${_hsakmt_library}" _hsakmt_file)
    set(HSAKMT_BESIDE_BIN "${_hsakmt_file}")
    set(_hsakmt_copy "${CMAKE_BINARY_DIR}/lib/libhsakmt.so.1")
    add_custom_command(OUTPUT "${_hsakmt_copy}"
        COMMAND ${CMAKE_COMMAND} -E copy "${_hsakmt_file}" "${_hsakmt_copy}"
        DEPENDS "${_hsakmt_file}"
        COMMENT "Copying libhsakmt to lib/")
    add_custom_target(hsakmt_beside_bin ALL DEPENDS "${_hsakmt_copy}")
    install(FILES "${_hsakmt_file}" DESTINATION lib RENAME libhsakmt.so.1
        PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endif()
