# The compiler and linker flags of a Debian build (dpkg-buildflags, with every
# hardening feature): stack protector, _FORTIFY_SOURCE, format checks, and
# read-only relocations bound at start-up. Used for the Debian package
# (TABULON_DEBIAN_FLAGS, set by the package preset).
find_program(TABULON_DPKG_BUILDFLAGS dpkg-buildflags REQUIRED)
function(tabulon_dpkg_buildflags flag result)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
            ${TABULON_DPKG_BUILDFLAGS} --get ${flag}
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}  # -ffile-prefix-map names the source tree
    OUTPUT_VARIABLE value OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  separate_arguments(value UNIX_COMMAND "${value}")
  set(${result} ${value} PARENT_SCOPE)
endfunction()
tabulon_dpkg_buildflags(CPPFLAGS TABULON_DEB_CPPFLAGS)
tabulon_dpkg_buildflags(CXXFLAGS TABULON_DEB_CXXFLAGS)
tabulon_dpkg_buildflags(LDFLAGS TABULON_DEB_LDFLAGS)
# The build type's optimisation level (-O3) comes after these and wins over
# their -O2; -g gives nothing to the package, whose programs are stripped.
add_compile_options(${TABULON_DEB_CPPFLAGS} ${TABULON_DEB_CXXFLAGS})
add_link_options(${TABULON_DEB_LDFLAGS})
message(STATUS "Debian build flags: ${TABULON_DEB_CPPFLAGS} ${TABULON_DEB_CXXFLAGS} ${TABULON_DEB_LDFLAGS}")
