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
