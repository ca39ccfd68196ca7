# Run by CPack once the release is staged and before it is packed: refuses an exe that is not up
# to date with its sources, signs the staged exe when a code-signing certificate is given, then
# writes SHA256SUMS for the exe that ships. The exe in the build tree is never touched: it stays
# unsigned and reproducible.
#   KESSAMAR_SIGN_PFX             the certificate and its key, as a PKCS#12 file; a relative path
#                                 is taken from the folder the command was started in ($PWD)
#   KESSAMAR_SIGN_PASSWORD        its password, if it has one
#   KESSAMAR_SIGN_TIMESTAMP_URL   an RFC 3161 timestamping server; without one, nothing needs
#                                 the network
cmake_policy(VERSION 3.24)
set(package "${CPACK_PACKAGE_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.zip")
set(exe "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/KessamarUninstaller.exe")
set(pfx "$ENV{KESSAMAR_SIGN_PFX}")
set(url "$ENV{KESSAMAR_SIGN_TIMESTAMP_URL}")
set(here "$ENV{PWD}")

# A path as the caller reads it: from the folder the command was started in, when below it.
function(shown variable path)
    if(IS_ABSOLUTE "${here}")
        cmake_path(IS_PREFIX here "${path}" NORMALIZE below)
        if(below)
            cmake_path(RELATIVE_PATH path BASE_DIRECTORY "${here}")
        endif()
    endif()
    set(${variable} "${path}" PARENT_SCOPE)
endfunction()

# A release that cannot be made as asked leaves no package at all, not even an older one.
file(REMOVE "${package}")
set(problem "")
# CPack packs whatever exe the build tree holds: ask the build tool whether it would rebuild it.
set(build "${CPACK_KESSAMAR_BUILD_DIR}")
shown(built "${build}/KessamarUninstaller.exe")
execute_process(COMMAND "${CPACK_KESSAMAR_BUILD_TOOL}" -C "${build}" -n -d explain
                        KessamarUninstaller.exe
                RESULT_VARIABLE failed OUTPUT_VARIABLE planned ERROR_VARIABLE explained)
if(failed)
    string(STRIP "${explained}" explained)
    set(problem "cannot tell whether ${built} is up to date: ${explained}")
elseif(NOT planned MATCHES "no work to do")
    set(stale "is out of date")
    if(explained MATCHES "most recent input ([^ \n]+)")
        get_filename_component(newer "${CMAKE_MATCH_1}" ABSOLUTE BASE_DIR "${build}")
        shown(newer "${newer}")
        set(stale "is older than ${newer}")
    endif()
    shown(folder "${build}")
    set(problem "${built} ${stale}; run cmake --build ${folder} first")
elseif(pfx STREQUAL "")
    # Unsigned, as asked.
elseif(NOT IS_ABSOLUTE "${pfx}" AND NOT IS_ABSOLUTE "${here}")
    set(problem "KESSAMAR_SIGN_PFX is a relative path (${pfx}) and PWD names no folder")
else()
    get_filename_component(pfx "${pfx}" ABSOLUTE BASE_DIR "${here}")
    find_program(osslsigncode osslsigncode)
    if(NOT EXISTS "${pfx}" OR IS_DIRECTORY "${pfx}")
        set(problem "KESSAMAR_SIGN_PFX names no file: ${pfx}")
    elseif(NOT osslsigncode)
        set(problem "osslsigncode is not installed (scripts/bootstrap installs it)")
    endif()
endif()

if(pfx AND NOT problem)
    set(options -h sha256 -n "Kessamar Uninstaller")
    if(NOT url STREQUAL "")
        list(APPEND options -ts "${url}")
    endif()
    # The password reaches osslsigncode through a pipe from the shell's own printf, never on a
    # command line that others could read. A server that takes the request and never answers
    # would hold osslsigncode forever.
    set(password_pipe "")
    if(DEFINED ENV{KESSAMAR_SIGN_PASSWORD})
        set(password_pipe [[printf %s "$KESSAMAR_SIGN_PASSWORD" |]])
        list(APPEND options -readpass -)
    endif()
    execute_process(
        COMMAND /bin/sh -c "${password_pipe} timeout 60 \"$0\" sign \"$@\"" "${osslsigncode}"
                -pkcs12 "${pfx}" ${options} -in "${exe}" -out "${exe}.signed"
        RESULT_VARIABLE failed OUTPUT_VARIABLE output ERROR_VARIABLE errors)
    if(failed)
        file(REMOVE "${exe}.signed")
        # osslsigncode's own reasons come first on stderr ("HTTP failure: ...", "Failed to
        # parse PKCS#12 file: ... (Wrong password?)"), among OpenSSL's error codes.
        string(REPLACE ";" "," errors "${errors}")
        string(REPLACE "\n" ";" errors "${errors}")
        list(FILTER errors INCLUDE REGEX "[^ \t\r]")
        list(FILTER errors EXCLUDE REGEX "^[0-9A-F]+:error:")
        list(SUBLIST errors 0 2 cause)
        list(JOIN cause "; " cause)
        if(failed EQUAL 124)
            set(cause "still waiting after 60 seconds for the timestamp server ${url}")
        elseif(cause STREQUAL "")
            string(STRIP "${output}" cause)
            string(REPLACE "\n" "; " cause "${cause}")
        endif()
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
