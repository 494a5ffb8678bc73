# Stand-in for OpenWrt's cmake.mk: configures the package as the real one does (prefix /usr,
# Release, the target's flags, a cross build for CMake), builds it, and installs it into
# PKG_INSTALL_DIR. The compiler is the host's. Not OpenWrt's own file.
CMAKE_BINARY_DIR?=$(PKG_BUILD_DIR)/openwrt-build

define Build/Configure
	cmake -S $(PKG_BUILD_DIR) -B $(CMAKE_BINARY_DIR) -DCMAKE_SYSTEM_NAME=Linux \
		-DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_BUILD_TYPE=Release \
		-DCMAKE_C_FLAGS="$(TARGET_CFLAGS)" -DCMAKE_CXX_FLAGS="$(TARGET_CFLAGS)" \
		-DCMAKE_EXE_LINKER_FLAGS="$(TARGET_LDFLAGS)" $(CMAKE_OPTIONS) > /dev/null
endef

define Build/Compile
	cmake --build $(CMAKE_BINARY_DIR) $(if $(filter 1,$(PKG_BUILD_PARALLEL)),-j$(shell nproc))
endef

define Build/Install
	DESTDIR=$(PKG_INSTALL_DIR) cmake --install $(CMAKE_BINARY_DIR) > /dev/null
endef
