# Run by CPack once the release is staged and before it is packed: signs the staged exe when a
# code-signing certificate is given, then writes SHA256SUMS for the exe that ships. The exe in
# the build tree is never touched: it stays unsigned and reproducible.
#   KESSAMAR_SIGN_PFX             the certificate and its key, as a PKCS#12 file
#   KESSAMAR_SIGN_PASSWORD        its password, if it has one
#   KESSAMAR_SIGN_TIMESTAMP_URL   a timestamping server; without one, nothing needs the network
set(package "${CPACK_PACKAGE_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.zip")
set(exe "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/KessamarUninstaller.exe")
set(pfx "$ENV{KESSAMAR_SIGN_PFX}")

# A release that cannot be made as asked leaves no package at all, not even an older one.
file(REMOVE "${package}")
set(problem "")
if(pfx STREQUAL "")
    # Unsigned, as asked.
elseif(NOT EXISTS "${pfx}" OR IS_DIRECTORY "${pfx}")
    set(problem "KESSAMAR_SIGN_PFX names no file: ${pfx}")
else()
    find_program(osslsigncode osslsigncode)
    if(NOT osslsigncode)
        set(problem "osslsigncode is not installed (scripts/bootstrap installs it)")
    endif()
endif()

if(pfx AND NOT problem)
    set(options -h sha256 -n "Kessamar Uninstaller")
    if(NOT "$ENV{KESSAMAR_SIGN_TIMESTAMP_URL}" STREQUAL "")
        list(APPEND options -t "$ENV{KESSAMAR_SIGN_TIMESTAMP_URL}")
    endif()
    # The password reaches osslsigncode through a pipe from the shell's own printf, never on a
    # command line that others could read.
    set(password_pipe "")
    if(DEFINED ENV{KESSAMAR_SIGN_PASSWORD})
        set(password_pipe [[printf %s "$KESSAMAR_SIGN_PASSWORD" |]])
        list(APPEND options -readpass -)
    endif()
    execute_process(
        COMMAND /bin/sh -c "${password_pipe} \"$0\" sign \"$@\"" "${osslsigncode}"
                -pkcs12 "${pfx}" ${options} -in "${exe}" -out "${exe}.signed"
        RESULT_VARIABLE failed OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(failed)
        file(REMOVE "${exe}.signed")
        # osslsigncode's first line names the cause ("... (Wrong password?)").
        string(REGEX REPLACE "\n.*" "" cause "${output}")
        set(problem "osslsigncode cannot sign with ${pfx}: ${cause}")
    else()
        file(RENAME "${exe}.signed" "${exe}")
        message(STATUS "Signed KessamarUninstaller.exe with ${pfx}")
    endif()
endif()

if(problem)
    # Indented, so that CMake prints it as one line.
    message(FATAL_ERROR " Release not made: ${problem}")
endif()
file(SHA256 "${exe}" sum)
file(WRITE "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/SHA256SUMS" "${sum}  KessamarUninstaller.exe\n")
