# Stand-in for OpenWrt's package.mk: the build steps (prepare, configure, compile, install into
# PKG_INSTALL_DIR), then each package's install into its own root, ipkg-ARCH/NAME, with CONTROL/
# control and CONTROL/conffiles. Checks what the real one refuses: a package without its
# required fields. Not OpenWrt's own file.
PKG_BUILD_DIR?=$(BUILD_DIR)/$(PKG_NAME)-$(PKG_VERSION)
PKG_INSTALL_DIR?=$(PKG_BUILD_DIR)/ipkg-install

$(foreach v,PKG_NAME PKG_VERSION PKG_RELEASE PKG_LICENSE PKG_MAINTAINER,\
  $(if $($(v)),,$(error $(v) is not set)))

define Build/Prepare
	$(INSTALL_DIR) $(PKG_BUILD_DIR)
endef

STAMP_PREPARED:=$(PKG_BUILD_DIR)/.prepared
STAMP_CONFIGURED:=$(PKG_BUILD_DIR)/.configured
STAMP_BUILT:=$(PKG_BUILD_DIR)/.built

$(STAMP_PREPARED):
	$(Build/Prepare)
	touch $@

$(STAMP_CONFIGURED): $(STAMP_PREPARED)
	$(Build/Configure)
	touch $@

$(STAMP_BUILT): $(STAMP_CONFIGURED)
	$(Build/Compile)
	$(if $(filter 1,$(PKG_INSTALL)),$(Build/Install))
	touch $@

prepare: $(STAMP_PREPARED)
configure: $(STAMP_CONFIGURED)
clean:
	rm -rf $(PKG_BUILD_DIR)
.PHONY: prepare configure compile clean

# $(1): the package. Its fields come from evaluating Package/NAME, as the real one does.
define BuildPackage
$(eval TITLE:=)$(eval DEPENDS:=)$(eval SECTION:=)$(eval CATEGORY:=)
$(eval $(Package/$(1)))
$(foreach v,TITLE SECTION CATEGORY,$(if $($(v)),,$(error Package/$(1) has no $(v))))
$(if $(Package/$(1)/install),,$(error Package/$(1) has no install))
IDIR_$(1):=$(PKG_BUILD_DIR)/ipkg-$(ARCH)/$(1)
DEPENDS_$(1):=$(DEPENDS)
compile: $(PKG_BUILD_DIR)/.pkg-$(1)
$(PKG_BUILD_DIR)/.root-$(1): $(STAMP_BUILT)
	rm -rf $$(IDIR_$(1))
	mkdir -p $$(IDIR_$(1))/CONTROL
	$$(call Package/$(1)/install,$$(IDIR_$(1)))
	touch $$@
# A rule of its own: make expands a recipe's $$(file) before running any of its lines.
$(PKG_BUILD_DIR)/.pkg-$(1): $(PKG_BUILD_DIR)/.root-$(1)
	$$(file >$$(IDIR_$(1))/CONTROL/control,Package: $(1)$$(newline)Version: \
$(PKG_VERSION)-$(PKG_RELEASE)$$(newline)Depends: $$(DEPENDS_$(1))$$(newline)License: $(PKG_LICENSE))
	$$(if $$(Package/$(1)/conffiles),$$(file >$$(IDIR_$(1))/CONTROL/conffiles,$$(Package/$(1)/conffiles)))
	touch $$@
endef

define newline


endef
