# Chooses the libhsakmt that the executables link and load: a shared libhsakmt.so.1 together
# with the public header of the same installation. A library is never paired with another
# source's header: 6.4 grew the node and IO link records, and a header newer than its library
# leaves the recent node fields zero.
#
# By default that is the library the project carries, which scripts/setup.sh builds from the
# rocr-runtime tarball pinned in scripts/hsakmt.pin into build/deps/hsakmt. It goes to a directory
# of its own, lib/kfdtopo/hsakmt/ of the build tree and of an installation, never where the loader
# looks by default, and the executables find it there through their run path. HSAKMT_ROOT
# names another installation instead (a distribution's: -DHSAKMT_ROOT=/usr); the executables
# then load exactly that library, through its directory in their run path.
#
# Defines:
#   hsakmt_headers      INTERFACE target: the chosen header (SYSTEM include directory)
#   hsakmt::hsakmt      the chosen library
#   HSAKMT_CHOSEN       the chosen library file, HSAKMT_INCLUDE_DIR its include directory
#   HSAKMT_LIBRARY      the file the executables load: the chosen one or its copy
#   HSAKMT_CARRIED      the carried library file, when it is the one chosen; else "none"
#   HSAKMT_GENERATION   6.4 when the header has the records of 6.4, 6.2 when it has not, "newer"
#                       when it has records newer than the carried library's
#   HSAKMT_RUNPATH      the executables' run path
#   kfdtopo_link_hsakmt(target)  links the reader and the library, and sets that run path

set(HSAKMT_ROOT "" CACHE PATH
    "Installation of another libhsakmt (lib/libhsakmt.so.1 and include/hsakmt/hsakmt.h) to use instead of the carried one")

set(_hsakmt_recent_fields NumXcc KFDGpuID FamilyID UniqueID DebugProperties)
set(_hsakmt_carried_prefix "${PROJECT_SOURCE_DIR}/build/deps/hsakmt")
# Fields that libhsakmt grew after the carried version: a header with one is newer, and untested.
set(_hsakmt_newer_fields Capability2)

# The pin: the carried library's version, tarball and SHA-256.
file(STRINGS "${PROJECT_SOURCE_DIR}/scripts/hsakmt.pin" _hsakmt_pin REGEX "^[a-z0-9]+=")
foreach(line IN LISTS _hsakmt_pin)
    string(REGEX MATCH "^([a-z0-9]+)=(.*)$" _ "${line}")
    set(_hsakmt_pin_${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
endforeach()

# Sets <out_var> to those of <fields> that the header's HsaNodeProperties lacks.
function(_hsakmt_missing_fields header fields out_var)
    set(missing "")
    foreach(field IN LISTS fields)
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

if(HSAKMT_ROOT)
    set(_hsakmt_prefix "${HSAKMT_ROOT}")
    set(_hsakmt_library "")
    foreach(dir IN ITEMS "${HSAKMT_ROOT}/lib/${CMAKE_LIBRARY_ARCHITECTURE}" "${HSAKMT_ROOT}/lib64"
            "${HSAKMT_ROOT}/lib")
        if(NOT _hsakmt_library AND EXISTS "${dir}/libhsakmt.so.1")
            set(_hsakmt_library "${dir}/libhsakmt.so.1")
        endif()
    endforeach()
    if(NOT _hsakmt_library)
        message(FATAL_ERROR "HSAKMT_ROOT=${HSAKMT_ROOT} has no lib/libhsakmt.so.1 (nor in "
            "lib/${CMAKE_LIBRARY_ARCHITECTURE} or lib64); a static libhsakmt.a will not do.")
    endif()
else()
    set(_hsakmt_prefix "${_hsakmt_carried_prefix}")
    set(_hsakmt_library "${_hsakmt_carried_prefix}/lib/libhsakmt.so.1")
    if(NOT EXISTS "${_hsakmt_library}")
        message(FATAL_ERROR "The libhsakmt that kfdtopo carries is not built: run "
            "scripts/setup.sh, which builds the pinned ${_hsakmt_pin_tarball} "
            "(scripts/hsakmt.pin) into build/deps/hsakmt. Or name another installation with -DHSAKMT_ROOT=DIR "
            "(DIR/lib/libhsakmt.so.1 and DIR/include/hsakmt/hsakmt.h).")
    endif()
endif()

set(_hsakmt_header "${_hsakmt_prefix}/include/hsakmt/hsakmt.h")
if(NOT EXISTS "${_hsakmt_header}")
    message(FATAL_ERROR "${_hsakmt_library} has no header ${_hsakmt_header} of its own.")
endif()
_hsakmt_missing_fields("${_hsakmt_header}" "${_hsakmt_recent_fields}" _hsakmt_missing)
if(_hsakmt_missing)
    string(REPLACE ";" ", " _hsakmt_missing "${_hsakmt_missing}")
    message(FATAL_ERROR "${_hsakmt_library} is too old: its header ${_hsakmt_header} lacks "
        "${_hsakmt_missing}, so every GPU node would show XCCs 0, KFD GPU ID 0x0 and "
        "Family ID 0x0. Use the carried library (leave HSAKMT_ROOT unset) or a libhsakmt 6.x.")
endif()
_hsakmt_missing_fields("${_hsakmt_header}" "NumNeuralCores;OverrideEngineId" _hsakmt_missing)
_hsakmt_missing_fields("${_hsakmt_header}" "${_hsakmt_newer_fields}" _hsakmt_absent)
if(NOT _hsakmt_absent STREQUAL _hsakmt_newer_fields)
    set(HSAKMT_GENERATION newer)
    list(REMOVE_ITEM _hsakmt_newer_fields ${_hsakmt_absent})
    string(REPLACE ";" ", " _hsakmt_newer_fields "${_hsakmt_newer_fields}")
    string(CONCAT _hsakmt_wrong " (newer than the carried ${_hsakmt_pin_version}, its node "
        "record has ${_hsakmt_newer_fields}: untested, its report may differ from what the tests expect)")
elseif(_hsakmt_missing)
    set(HSAKMT_GENERATION 6.2)
    string(CONCAT _hsakmt_wrong " (older than the carried 6.4, it is known to get wrong: GFX 9.5 "
        "(gfx950, MI350X and MI355X), whose VGPR size per CU it gives as 262144 B instead of "
        "524288 B; and with HSA_OVERRIDE_GFX_VERSION set, the GFX version of every GPU node, "
        "which it replaces by the override)")
else()
    set(HSAKMT_GENERATION 6.4)
    set(_hsakmt_wrong "")
endif()

get_filename_component(_hsakmt_dir "${_hsakmt_library}" DIRECTORY)
set(HSAKMT_CHOSEN "${_hsakmt_library}")
set(HSAKMT_INCLUDE_DIR "${_hsakmt_prefix}/include")
if(HSAKMT_ROOT)
    set(HSAKMT_CARRIED none)
    set(HSAKMT_LIBRARY "${_hsakmt_library}")
    set(HSAKMT_RUNPATH "${_hsakmt_dir}:$ORIGIN/../lib")
    message(STATUS "libhsakmt: ${_hsakmt_library} with its header ${_hsakmt_header}, named by "
        "HSAKMT_ROOT and loaded from there${_hsakmt_wrong}")
else()
    file(STRINGS "${_hsakmt_carried_prefix}/source" _hsakmt_source LIMIT_COUNT 1)
    if(NOT _hsakmt_source STREQUAL "${_hsakmt_pin_tarball} SHA256:${_hsakmt_pin_sha256}")
        message(FATAL_ERROR "build/deps/hsakmt was built from ${_hsakmt_source}, not from the "
            "pinned ${_hsakmt_pin_tarball} (scripts/hsakmt.pin): run scripts/setup.sh.")
    endif()
    string(REGEX REPLACE " .*" "" _hsakmt_source "${_hsakmt_source}")
    set(HSAKMT_CARRIED "${_hsakmt_library}")
    set(HSAKMT_LIBRARY "${CMAKE_BINARY_DIR}/lib/kfdtopo/hsakmt/libhsakmt.so.1")
    set(HSAKMT_RUNPATH "$ORIGIN/../lib/kfdtopo/hsakmt:$ORIGIN/../lib")
    message(STATUS "libhsakmt: the carried ${_hsakmt_pin_version}, built from the pinned "
        "${_hsakmt_source} into ${_hsakmt_carried_prefix}, loaded from lib/kfdtopo/hsakmt/"
        "${_hsakmt_wrong}")
    add_custom_command(OUTPUT "${HSAKMT_LIBRARY}"
        COMMAND ${CMAKE_COMMAND} -E copy "${_hsakmt_library}" "${HSAKMT_LIBRARY}"
        DEPENDS "${_hsakmt_library}"
        COMMENT "Copying the carried libhsakmt to lib/kfdtopo/hsakmt/")
    add_custom_target(hsakmt_carried ALL DEPENDS "${HSAKMT_LIBRARY}")
    install(FILES "${_hsakmt_library}" DESTINATION lib/kfdtopo/hsakmt
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endif()

add_library(hsakmt_headers INTERFACE)
target_include_directories(hsakmt_headers SYSTEM INTERFACE "${_hsakmt_prefix}/include")

add_library(hsakmt::hsakmt SHARED IMPORTED)
set_target_properties(hsakmt::hsakmt PROPERTIES
    IMPORTED_LOCATION "${_hsakmt_library}"
    IMPORTED_SONAME libhsakmt.so.1)
target_link_libraries(hsakmt::hsakmt INTERFACE hsakmt_headers)

# Links <target> against the chosen libhsakmt, which it then loads through its run path, in
# the build tree as installed; nothing of the link directories gets into it.
function(kfdtopo_link_hsakmt target)
    # The reader makes every call: its archive goes before the library on the link line, which
    # the linker's --as-needed would otherwise drop.
    target_link_libraries(${target} PRIVATE reader hsakmt::hsakmt)
    set_target_properties(${target} PROPERTIES
        INSTALL_RPATH "${HSAKMT_RUNPATH}"
        BUILD_WITH_INSTALL_RPATH ON)
    target_link_options(${target} PRIVATE "LINKER:--enable-new-dtags")
    if(TARGET hsakmt_carried)
        add_dependencies(${target} hsakmt_carried)
    endif()
endfunction()
