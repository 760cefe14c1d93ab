# Building a web application into a desktop application with the Penwick host.
#
#   penwick_add_app(<target>
#     ID <reverse-DNS id>            e.g. com.example.Notes; names the data, config and install folders
#     NAME <display name>
#     RESOURCES <folder>             holds config.xml and www/
#     [VERSION <version>]            default: the host's version
#     [ICON <file.svg>]              default: the host's icon
#     SUMMARY <one line> DESCRIPTION <paragraph>   the software centre's text; required (here or
#                                    in config.xml: <name short>, <description>), so that an app
#                                    never shows the host's own. HOMEPAGE, LICENSE and DEVELOPER
#                                    also default to config.xml's <author href>, <license>, <author>
#     [HOMEPAGE <url>]
#     [WEBSITE_URL <url>]            opened by the menu's "Visit Website" (no entry without it)
#     [DOCUMENTS_URL <url>]          opened by "Documentation" (F1); without it F1 does nothing
#     [LOGIN_LANDING_URL <url>]      URL prefix of the login popup's landing page
#     [LICENSE <SPDX id>] [DEVELOPER <name>] [CATEGORIES <Desktop;Categories;>]
#     [OUTPUT_NAME <executable name>]  default: <target>
#     [SOURCES <extra sources>...]
#     [EXCLUDE_FROM_ALL])            installed only when its component (<target>) is asked for
#
# Install layout (prefix-relative): bin/<executable>, <libdir>/<id>/web-extensions/,
# share/<id>/{config.xml,www/,locale/}, share/applications/<id>.desktop,
# share/metainfo/<id>.metainfo.xml, share/icons/hicolor/scalable/apps/<id>.svg. The executable
# finds the rest relative to itself, so the tree can be unpacked anywhere.
#
#   penwick_package_app(<target> [MAINTAINER "Name <mail>"])
# makes `cpack -G DEB` package that application alone.

# Cached so that the functions also work when called from a project that added the host. From
# the installed runtime (find_package(Penwick)), the entry point, templates and icon are beside
# this file and the host's libraries are imported.
get_filename_component(_penwick_dir ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
set(PENWICK_HOST_SOURCE_DIR ${_penwick_dir} CACHE INTERNAL "")
if(EXISTS ${_penwick_dir}/src/app/main.cpp)
  set(PENWICK_HOST_VERSION ${PROJECT_VERSION} CACHE INTERNAL "")
  set(PENWICK_MAIN_SOURCE ${_penwick_dir}/src/app/main.cpp CACHE INTERNAL "")
  set(PENWICK_TEMPLATE_DIR ${_penwick_dir}/packaging CACHE INTERNAL "")
  set(PENWICK_DEFAULT_ICON ${_penwick_dir}/packaging/icons/penwick.svg CACHE INTERNAL "")
else()
  set(PENWICK_MAIN_SOURCE ${CMAKE_CURRENT_LIST_DIR}/main.cpp CACHE INTERNAL "")
  set(PENWICK_TEMPLATE_DIR ${CMAKE_CURRENT_LIST_DIR} CACHE INTERNAL "")
  set(PENWICK_DEFAULT_ICON ${CMAKE_CURRENT_LIST_DIR}/penwick.svg CACHE INTERNAL "")
endif()
# The host's own id: the runtime, and the one app whose documentation is the host's.
set(PENWICK_HOST_APP_ID org.penwick.Host CACHE INTERNAL "")

function(_penwick_xml_escape out text)
  string(REPLACE "&" "&amp;" text "${text}")
  string(REPLACE "<" "&lt;" text "${text}")
  string(REPLACE ">" "&gt;" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# What config.xml says of the app for the software centre, as penwick-pack reads it: <name short>,
# <description>, <author href> and text, <license>. Sets <prefix>_SUMMARY, _DESCRIPTION, _HOMEPAGE,
# _DEVELOPER and _LICENSE in the caller where config.xml has them.
function(_penwick_config_metadata prefix config)
  file(READ "${config}" xml LIMIT 4194304)
  string(REGEX REPLACE "<!--([^-]|-[^-])*-->" "" xml "${xml}")
  set(patterns
    DESCRIPTION "<description>([^<]*)</description>" SHORT "<name[^>]*short=\"([^\"]*)\"" HOMEPAGE "<author[^>]*href=\"([^\"]*)\""
    DEVELOPER "<author[^>]*>([^<]*)</author>" LICENSE "<license>([^<]*)</license>")
  while(patterns)
    list(POP_FRONT patterns field pattern)
    set(value "")
    if(xml MATCHES "${pattern}")
      string(REGEX REPLACE "[ \t\r\n]+" " " value "${CMAKE_MATCH_1}")
      string(STRIP "${value}" value)
    endif()
    set(${field} "${value}")
  endwhile()
  # The summary: the short name, else the description's first sentence.
  set(summary "${SHORT}")
  if(NOT summary AND DESCRIPTION MATCHES "^([^.!?]*[.!?]?)")
    string(REGEX REPLACE "\\.$" "" summary "${CMAKE_MATCH_1}")
  endif()
  foreach(field DESCRIPTION HOMEPAGE DEVELOPER LICENSE)
    set(${prefix}_${field} "${${field}}" PARENT_SCOPE)
  endforeach()
  set(${prefix}_SUMMARY "${summary}" PARENT_SCOPE)
endfunction()

# The identity compiled into an executable built from src/app/main.cpp.
function(penwick_set_app_identity target)
  cmake_parse_arguments(PARSE_ARGV 1 APP "" "ID;NAME;VERSION;RESOURCES;WEBSITE_URL;DOCUMENTS_URL;LOGIN_LANDING_URL" "")
  foreach(required ID NAME VERSION RESOURCES)
    if(NOT APP_${required})
      message(FATAL_ERROR "penwick app ${target}: ${required} is required")
    endif()
  endforeach()
  if(NOT APP_ID MATCHES "^[A-Za-z][A-Za-z0-9_-]*(\\.[A-Za-z][A-Za-z0-9_-]*)+$")
    message(FATAL_ERROR "penwick app ${target}: ID '${APP_ID}' is not a reverse-DNS id like com.example.App")
  endif()
  foreach(text "${APP_NAME}" "${APP_VERSION}" "${APP_RESOURCES}" "${APP_WEBSITE_URL}" "${APP_DOCUMENTS_URL}"
      "${APP_LOGIN_LANDING_URL}")
    if(text MATCHES "[\"\\\\]")
      message(FATAL_ERROR "penwick app ${target}: '${text}' must not contain quotes or backslashes")
    endif()
  endforeach()
  get_filename_component(resources "${APP_RESOURCES}" ABSOLUTE)
  if(NOT EXISTS "${resources}/config.xml" OR NOT IS_DIRECTORY "${resources}/www")
    message(FATAL_ERROR "penwick app ${target}: ${resources} must hold config.xml and www/")
  endif()
  # Installed folders relative to bin/, whatever the prefix and libdir. GNUInstallDirs sets some
  # of its variables only in the scope that includes it, so the caller's may lack them.
  include(GNUInstallDirs)
  file(RELATIVE_PATH data_rel "/p/${CMAKE_INSTALL_BINDIR}" "/p/${CMAKE_INSTALL_DATADIR}/${APP_ID}")
  file(RELATIVE_PATH webext_rel "/p/${CMAKE_INSTALL_BINDIR}" "/p/${CMAKE_INSTALL_LIBDIR}/${APP_ID}/web-extensions")
  # Only the host itself opens the host's documentation (F1 without a documents page); another
  # app's users are not its developers.
  set(doc_rel "")
  set(build_doc_dir "")
  if(APP_ID STREQUAL PENWICK_HOST_APP_ID)
    file(RELATIVE_PATH doc_rel "/p/${CMAKE_INSTALL_BINDIR}" "/p/${CMAKE_INSTALL_DATADIR}/doc/${APP_ID}")
    set(build_doc_dir "${PENWICK_HOST_SOURCE_DIR}")
  endif()
  foreach(url WEBSITE_URL DOCUMENTS_URL LOGIN_LANDING_URL)
    if(APP_${url} AND NOT APP_${url} MATCHES "^https?://[^/]")
      message(FATAL_ERROR "penwick app ${target}: ${url} '${APP_${url}}' is not an http or https URL")
    endif()
  endforeach()
  target_compile_definitions(${target} PRIVATE
    PENWICK_APP_ID="${APP_ID}"
    PENWICK_APP_NAME="${APP_NAME}"
    PENWICK_APP_VERSION="${APP_VERSION}"
    PENWICK_APP_DATA_DIR="${data_rel}"
    PENWICK_APP_WEBEXT_DIR="${webext_rel}"
    PENWICK_APP_DOC_DIR="${doc_rel}"
    PENWICK_APP_BUILD_RESOURCES="${resources}"
    PENWICK_APP_BUILD_DOC_DIR="${build_doc_dir}"
    # Run from its build folder, the app uses the extension of the host it links: the one built
    # beside it in a checkout, the installed runtime's when built against that.
    PENWICK_APP_BUILD_DIR="${CMAKE_BINARY_DIR}"
    PENWICK_APP_BUILD_WEBEXT_DIR="$<TARGET_FILE_DIR:penwick-webext>"
    PENWICK_APP_WEBSITE_URL="${APP_WEBSITE_URL}"
    PENWICK_APP_DOCUMENTS_URL="${APP_DOCUMENTS_URL}"
    PENWICK_APP_LOGIN_LANDING_URL="${APP_LOGIN_LANDING_URL}")
  # Run from the build tree, it speaks the languages of the host's catalogues there.
  if(TARGET penwick-translations)
    add_dependencies(${target} penwick-translations)
  endif()
  set_target_properties(${target} PROPERTIES
    PENWICK_APP_ID "${APP_ID}" PENWICK_APP_NAME "${APP_NAME}" PENWICK_APP_VERSION "${APP_VERSION}"
    PENWICK_APP_RESOURCES "${resources}")
endfunction()

function(penwick_add_app target)
  cmake_parse_arguments(PARSE_ARGV 1 APP "EXCLUDE_FROM_ALL"
    "ID;NAME;VERSION;RESOURCES;ICON;SUMMARY;DESCRIPTION;HOMEPAGE;LICENSE;DEVELOPER;CATEGORIES;OUTPUT_NAME;WEBSITE_URL;DOCUMENTS_URL;LOGIN_LANDING_URL"
    "SOURCES")
  if(APP_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "penwick_add_app(${target}): unknown arguments ${APP_UNPARSED_ARGUMENTS}")
  endif()
  # What the arguments leave out, the app's config.xml may say.
  if(EXISTS "${APP_RESOURCES}/config.xml")
    _penwick_config_metadata(CONFIG "${APP_RESOURCES}/config.xml")
    foreach(field SUMMARY DESCRIPTION HOMEPAGE DEVELOPER LICENSE)
      if(NOT APP_${field})
        set(APP_${field} "${CONFIG_${field}}")
      endif()
    endforeach()
  endif()
  # The software centre and the package show these: another app's (or the host's) text would
  # describe the wrong program.
  foreach(required SUMMARY DESCRIPTION)
    if(NOT APP_${required})
      message(FATAL_ERROR "penwick_add_app(${target}): ${required} is required: describe ${APP_NAME} in your own words")
    endif()
  endforeach()
  if(NOT APP_VERSION)
    set(APP_VERSION ${PENWICK_HOST_VERSION})
  endif()
  if(NOT APP_ICON)
    set(APP_ICON ${PENWICK_DEFAULT_ICON})
  endif()
  if(NOT APP_HOMEPAGE AND APP_WEBSITE_URL)
    set(APP_HOMEPAGE "${APP_WEBSITE_URL}")
  endif()
  if(NOT APP_LICENSE)
    set(APP_LICENSE "LicenseRef-proprietary")
  endif()
  if(NOT APP_CATEGORIES)
    set(APP_CATEGORIES "Utility;")
  endif()
  if(NOT APP_OUTPUT_NAME)
    set(APP_OUTPUT_NAME ${target})
  endif()

  include(GNUInstallDirs)
  add_executable(${target} ${PENWICK_MAIN_SOURCE} ${APP_SOURCES})
  target_link_libraries(${target} PRIVATE wh_core wh_gtk)
  target_compile_features(${target} PRIVATE cxx_std_20)
  set(webext_imported FALSE)
  if(TARGET penwick-webext)
    get_target_property(webext_imported penwick-webext IMPORTED)
  endif()
  if(NOT webext_imported)
    add_dependencies(${target} penwick-webext)
  endif()
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${APP_OUTPUT_NAME})
  penwick_set_app_identity(${target} ID "${APP_ID}" NAME "${APP_NAME}" VERSION "${APP_VERSION}"
    RESOURCES "${APP_RESOURCES}" WEBSITE_URL "${APP_WEBSITE_URL}" DOCUMENTS_URL "${APP_DOCUMENTS_URL}"
    LOGIN_LANDING_URL "${APP_LOGIN_LANDING_URL}")
  get_target_property(resources ${target} PENWICK_APP_RESOURCES)
  set_target_properties(${target} PROPERTIES PENWICK_APP_SUMMARY "${APP_SUMMARY}")

  # Desktop entry and AppStream metainfo, filled from the identity.
  string(TIMESTAMP APP_RELEASE_DATE "%Y-%m-%d" UTC)
  foreach(field NAME SUMMARY DESCRIPTION HOMEPAGE DEVELOPER)
    _penwick_xml_escape(APP_XML_${field} "${APP_${field}}")
  endforeach()
  # An app without a homepage or developer names none, rather than someone else's.
  set(APP_HOMEPAGE_ELEMENT "")
  if(APP_HOMEPAGE)
    set(APP_HOMEPAGE_ELEMENT "<url type=\"homepage\">${APP_XML_HOMEPAGE}</url>")
  endif()
  set(APP_DEVELOPER_ELEMENT "")
  if(APP_DEVELOPER)
    set(APP_DEVELOPER_ELEMENT "<developer_name>${APP_XML_DEVELOPER}</developer_name>")
  endif()
  set(generated ${CMAKE_CURRENT_BINARY_DIR}/${target}-packaging)
  configure_file(${PENWICK_TEMPLATE_DIR}/app.desktop.in ${generated}/${APP_ID}.desktop @ONLY)
  configure_file(${PENWICK_TEMPLATE_DIR}/app.metainfo.xml.in ${generated}/${APP_ID}.metainfo.xml @ONLY)
  set_target_properties(${target} PROPERTIES PENWICK_APP_DESKTOP_ENTRY ${generated}/${APP_ID}.desktop
    PENWICK_APP_METAINFO ${generated}/${APP_ID}.metainfo.xml)

  set(opts COMPONENT ${target})
  if(APP_EXCLUDE_FROM_ALL)
    list(APPEND opts EXCLUDE_FROM_ALL)
  endif()
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} ${opts})
  # The web-process extension goes with the host code the app links: both speak the same channel.
  if(webext_imported)
    install(IMPORTED_RUNTIME_ARTIFACTS penwick-webext LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/${APP_ID}/web-extensions ${opts})
  else()
    install(TARGETS penwick-webext LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/${APP_ID}/web-extensions ${opts})
  endif()
  install(FILES ${resources}/config.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/${APP_ID} ${opts})
  install(DIRECTORY ${resources}/www DESTINATION ${CMAKE_INSTALL_DATADIR}/${APP_ID} ${opts})
  # The host's catalogues, and the app's own (<resources>/locale/<lang>/LC_MESSAGES/<id>.mo,
  # which word the host's texts the app's way) beside them.
  # (Built against the installed runtime, the host's catalogues are the runtime's own.)
  if(TARGET penwick-translations)
    install(DIRECTORY ${PENWICK_LOCALE_BUILD_DIR} DESTINATION ${CMAKE_INSTALL_DATADIR}/${APP_ID} ${opts})
  endif()
  if(IS_DIRECTORY ${resources}/locale)
    install(DIRECTORY ${resources}/locale DESTINATION ${CMAKE_INSTALL_DATADIR}/${APP_ID} ${opts})
  endif()
  install(FILES ${generated}/${APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications ${opts})
  install(FILES ${generated}/${APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo ${opts})
  get_filename_component(icon_ext "${APP_ICON}" LAST_EXT)
  if(icon_ext STREQUAL ".svg")
    set(icon_dir scalable)
  else()
    set(icon_dir 128x128)
  endif()
  install(FILES ${APP_ICON} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${icon_dir}/apps
    RENAME ${APP_ID}${icon_ext} ${opts})
endfunction()

# One application per package: `cpack -G DEB` installs only its component, and dpkg-shlibdeps
# computes the runtime dependencies from the binaries.
macro(penwick_package_app target)
  cmake_parse_arguments(PENWICK_PKG "" "MAINTAINER" "" ${ARGN})
  if(NOT PENWICK_PKG_MAINTAINER)
    message(FATAL_ERROR "penwick_package_app(${target}): MAINTAINER \"Name <mail>\" is required")
  endif()
  get_target_property(_penwick_pkg_exe ${target} OUTPUT_NAME)
  get_target_property(_penwick_pkg_version ${target} PENWICK_APP_VERSION)
  get_target_property(_penwick_pkg_summary ${target} PENWICK_APP_SUMMARY)
  string(TOLOWER "${_penwick_pkg_exe}" _penwick_pkg_name)
  string(REGEX REPLACE "[^a-z0-9.+-]" "-" _penwick_pkg_name "${_penwick_pkg_name}")
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME ${_penwick_pkg_name})
  set(CPACK_PACKAGE_VERSION ${_penwick_pkg_version})
  set(CPACK_PACKAGE_CONTACT "${PENWICK_PKG_MAINTAINER}")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${_penwick_pkg_summary}")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};${target};/")
  set(CPACK_STRIP_FILES ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  # dpkg-shlibdeps reads the two binaries where they were built. CPack's own pass would first run
  # `file` on every file the package installs (the runtime's headers too), which took most of
  # packing's time.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  set(_penwick_pkg_webext "")
  if(TARGET penwick-webext)
    set(_penwick_pkg_webext "\"$<TARGET_FILE:penwick-webext>\"")
  endif()
  string(CONCAT _penwick_pkg_depends [[
find_program(_penwick_shlibdeps dpkg-shlibdeps)
if(NOT _penwick_shlibdeps)
  message(FATAL_ERROR "dpkg-shlibdeps (Debian package dpkg-dev) is needed to find the libraries the package depends on")
endif()
set(_penwick_work "${CPACK_PACKAGE_DIRECTORY}/_shlibdeps")
file(MAKE_DIRECTORY "${_penwick_work}/debian")
file(WRITE "${_penwick_work}/debian/control" "")
execute_process(COMMAND "${_penwick_shlibdeps}" --ignore-missing-info -O "$<TARGET_FILE:]] "${target}" [[>" ]] "${_penwick_pkg_webext}" [[
  WORKING_DIRECTORY "${_penwick_work}" OUTPUT_VARIABLE _penwick_out ERROR_VARIABLE _penwick_err
  RESULT_VARIABLE _penwick_status OUTPUT_STRIP_TRAILING_WHITESPACE)
file(REMOVE_RECURSE "${_penwick_work}")
if(NOT _penwick_status EQUAL 0)
  message(FATAL_ERROR "dpkg-shlibdeps failed: ${_penwick_err}")
endif()
string(REGEX REPLACE "^.*Depends=" "" _penwick_out "${_penwick_out}")
if(CPACK_DEBIAN_PACKAGE_DEPENDS)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CPACK_DEBIAN_PACKAGE_DEPENDS}, ${_penwick_out}")
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${_penwick_out}")
endif()
]])
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/generated/PackageDepends-${target}.cmake CONTENT "${_penwick_pkg_depends}")
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/generated/PackageDepends-${target}.cmake)
  set(CPACK_DEBIAN_PACKAGE_SECTION misc)
  # Without fonts covering Chinese, Japanese and Korean such text shows as boxes.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-noto-cjk)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${PENWICK_PKG_MAINTAINER}")
  include(CPack)
endmacro()
