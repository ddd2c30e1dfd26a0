# cpack -G DEB in the build directory: one Debian package of everything
# cmake --install puts under /usr. The shared libraries it needs are found
# by dpkg-shlibdeps from the binaries; the Python package's modules are
# named here.
set(CPACK_PACKAGE_NAME finecoreg)
set(CPACK_PACKAGE_VENDOR "FineCoregistration")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Fine co-registration of SAR SLC image pairs")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "FineCoregistration developers <finecoreg@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The installed binaries without their debug information.
set(CPACK_STRIP_FILES ON)
# The extension modules are built for this interpreter's minor version.
math(EXPR FC_NEXT_PYTHON_MINOR "${Python3_VERSION_MINOR} + 1")
set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3 (>= ${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR}), \
python3 (<< ${Python3_VERSION_MAJOR}.${FC_NEXT_PYTHON_MINOR}), python3-numpy")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3-matplotlib")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-distributed")
include(CPack)
