# Stand-in for the OpenWrt build's rules.mk: only what a feed package's Makefile uses, with the
# feed's names and meanings, for the host's compiler. Not OpenWrt's own file.
INCLUDE_DIR:=$(TOPDIR)/include
BUILD_DIR?=$(TOPDIR)/build_dir
ARCH?=$(shell uname -m)

INSTALL_DIR:=install -d -m0755
INSTALL_BIN:=install -m0755
INSTALL_DATA:=install -m0644
INSTALL_CONF:=install -m0600
CP:=cp -fpR

TARGET_CFLAGS?=-Os -pipe
TARGET_LDFLAGS?=
