# Finds libhsakmt and a public header that has the recent node fields.
#
# Defines:
#   hsakmt_headers  INTERFACE target: the chosen header (SYSTEM include directory)
#   hsakmt::hsakmt  the real library, from libhsakmt's own CMake package
#
# The header is taken from, in this order: HSAKMT_INCLUDE_DIR, the library's own
# package, /opt/rocm/include, and the copy that scripts/setup.sh unpacks under
# build/deps/include. The first one whose HsaNodeProperties has every field below wins.

find_package(hsakmt CONFIG REQUIRED PATHS /opt/rocm /opt/rocm/lib/cmake)

set(HSAKMT_INCLUDE_DIR "" CACHE PATH "Directory that holds hsakmt/hsakmt.h (overrides the search)")

set(_hsakmt_recent_fields NumXcc KFDGpuID FamilyID UniqueID DebugProperties)

get_target_property(_hsakmt_package_includes hsakmt::hsakmt INTERFACE_INCLUDE_DIRECTORIES)
if(NOT _hsakmt_package_includes)
    set(_hsakmt_package_includes "")
endif()
set(_hsakmt_candidates
    ${HSAKMT_INCLUDE_DIR}
    ${_hsakmt_package_includes}
    /opt/rocm/include
    ${PROJECT_SOURCE_DIR}/build/deps/include)
list(REMOVE_DUPLICATES _hsakmt_candidates)

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

set(_hsakmt_chosen "")
set(_hsakmt_report "")
foreach(dir IN LISTS _hsakmt_candidates)
    foreach(header IN ITEMS "${dir}/hsakmt/hsakmt.h" "${dir}/hsakmt.h")
        if(NOT EXISTS "${header}")
            continue()
        endif()
        _hsakmt_missing_fields("${header}" missing)
        if(missing STREQUAL "" AND header STREQUAL "${dir}/hsakmt/hsakmt.h")
            set(_hsakmt_chosen "${dir}")
            break()
        endif()
        string(REPLACE ";" ", " missing_text "${missing}")
        if(missing_text STREQUAL "")
            set(missing_text "none, but it is not laid out as hsakmt/hsakmt.h")
        endif()
        string(APPEND _hsakmt_report "\n  ${header}: lacks ${missing_text}")
    endforeach()
    if(_hsakmt_chosen)
        break()
    endif()
endforeach()

if(NOT _hsakmt_chosen)
    string(REPLACE ";" ", " _hsakmt_fields_text "${_hsakmt_recent_fields}")
    message(FATAL_ERROR
        "No libhsakmt public header with the node fields ${_hsakmt_fields_text} was found."
        "${_hsakmt_report}\n"
        "Run scripts/setup.sh to unpack a recent header under build/deps/include, "
        "or point HSAKMT_INCLUDE_DIR at a directory holding hsakmt/hsakmt.h (ROCm 6 or newer).")
endif()
message(STATUS "libhsakmt header: ${_hsakmt_chosen}/hsakmt/hsakmt.h")

add_library(hsakmt_headers INTERFACE)
target_include_directories(hsakmt_headers SYSTEM INTERFACE "${_hsakmt_chosen}")
