# The project version (project() in the top CMakeLists.txt) as a C and resource header,
# <kvx_version.h>, for the version resources; and as a plain file for the scripts that
# package and name the release.
set(KVX_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/kvx_version.h.in ${KVX_GENERATED_DIR}/kvx_version.h @ONLY)
file(CONFIGURE OUTPUT ${KVX_GENERATED_DIR}/version.txt CONTENT "${PROJECT_VERSION}\n")
include_directories(${KVX_GENERATED_DIR})
