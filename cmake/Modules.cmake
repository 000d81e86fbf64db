# Modules: shared objects a program loads when it first needs them (see libs/modules). They are
# built into one folder of the build and installed into a private folder of the package.
include(GNUInstallDirs)
set(CHIMEWISE_MODULES_INSTALL_DIR "${CMAKE_INSTALL_LIBDIR}/olm-chimewise")
set(CHIMEWISE_MODULES_BUILD_DIR "${CMAKE_BINARY_DIR}/modules")
# The installed folder as seen from the installed programs', whatever the prefix.
file(RELATIVE_PATH CHIMEWISE_MODULES_RELATIVE_DIR "/prefix/${CMAKE_INSTALL_BINDIR}"
  "/prefix/${CHIMEWISE_MODULES_INSTALL_DIR}")

# chimewise_add_module(target sources...): a module whose only visible symbol is its entry point
# (declared with MODULES_ENTRY_POINT from modules/module.h).
function(chimewise_add_module target)
  add_library(${target} MODULE ${ARGN})
  set_target_properties(${target} PROPERTIES
    PREFIX "lib"
    LIBRARY_OUTPUT_DIRECTORY "${CHIMEWISE_MODULES_BUILD_DIR}"
    CXX_VISIBILITY_PRESET hidden
    C_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  target_link_options(${target} PRIVATE LINKER:--no-undefined LINKER:-Bsymbolic)
  install(TARGETS ${target} LIBRARY DESTINATION "${CHIMEWISE_MODULES_INSTALL_DIR}")
  chimewise_warnings(${target})
endfunction()
