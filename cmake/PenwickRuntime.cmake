# The host as a runtime (the `penwick` package): besides the host and its demo, what apps are
# made with. penwick-pack packs data-only apps from its templates; the page library's files,
# types and dev-server plugin serve authors' tool chains; the host's documentation is installed
# here only, never with an app.
set(_runtime_share ${CMAKE_INSTALL_DATADIR}/penwick)
install(PROGRAMS ${PROJECT_SOURCE_DIR}/packaging/penwick-pack DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT penwick)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/app.desktop.in ${PROJECT_SOURCE_DIR}/packaging/app.metainfo.xml.in
  DESTINATION ${_runtime_share}/packaging COMPONENT penwick)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/www/webhost DESTINATION ${_runtime_share} COMPONENT penwick)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${PENWICK_HOST_APP_ID} COMPONENT penwick)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${PENWICK_HOST_APP_ID} COMPONENT penwick)
# penwick-pack is Python, and packs with dpkg-deb.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3, dpkg")

# Apps with native plugins link the host's libraries (find_package(Penwick), then
# penwick_add_app(... SOURCES ...)): their plugins are C++ classes of the host's own types, which
# the compiler checks against these headers, and each app's executable keeps the host code it was
# built and tested with. Only the app's plugins and its small entry point are compiled.
set(_runtime_cmake ${CMAKE_INSTALL_LIBDIR}/cmake/Penwick)
set(_runtime_libs wh_base wh_channel wh_platform wh_bridge wh_filesystem wh_core wh_gtk)
install(TARGETS ${_runtime_libs} EXPORT PenwickTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}/penwick COMPONENT penwick)
install(TARGETS penwick-webext EXPORT PenwickTargets LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/penwick COMPONENT penwick)
install(EXPORT PenwickTargets DESTINATION ${_runtime_cmake} COMPONENT penwick)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/src/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/penwick COMPONENT penwick
  FILES_MATCHING PATTERN "*.h")
install(FILES ${CMAKE_BINARY_DIR}/generated/BuildConfig.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/penwick COMPONENT penwick)
configure_file(${PROJECT_SOURCE_DIR}/cmake/PenwickConfig.cmake.in ${CMAKE_BINARY_DIR}/generated/PenwickConfig.cmake @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/generated/PenwickConfig.cmake ${PROJECT_SOURCE_DIR}/cmake/PenwickApp.cmake
  ${PROJECT_SOURCE_DIR}/src/app/main.cpp ${PROJECT_SOURCE_DIR}/packaging/app.desktop.in
  ${PROJECT_SOURCE_DIR}/packaging/app.metainfo.xml.in ${PROJECT_SOURCE_DIR}/packaging/icons/penwick.svg
  DESTINATION ${_runtime_cmake} COMPONENT penwick)
# A package ships the libraries without their debug information (a tenth of their size).
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    file(GLOB archives \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/penwick/*.a\")
    foreach(archive \${archives})
      execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-debug \"\${archive}\")
    endforeach()
  endif()" COMPONENT penwick)
